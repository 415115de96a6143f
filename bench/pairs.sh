# Sourced by the benchmarks that time a whole command against a reference in the same run:
# the two alternate, PAIRS times each, and their medians and ratio are printed, so a machine
# whose speed drifts slows both alike. Cold runs first drop the image from the page cache.

now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN{printf "%.3f", b-a}'; }

# Drops FILE's pages from the page cache (posix_fadvise POSIX_FADV_DONTNEED, through dd), so
# that the next read of it comes from the disk. Dirty pages are written first.
evict() {
  local f
  for f in "$@"; do
    sync "$f"
    dd if="$f" iflag=nocache count=0 status=none
  done
}

median() { sort -g | awk '{v[NR] = $1} END {print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2)}'; }

# pairs LABEL PAIRS A B: runs the shell functions A and B in turn, PAIRS times each (A B A B
# …); each prints the seconds it measured. Prints LABEL, both medians and their ratio.
pairs() {
  local label=$1 n=$2 a=$3 b=$4 i
  local as=() bs=()
  for ((i = 0; i < n; i++)); do
    as+=("$("$a")")
    bs+=("$("$b")")
  done
  local ma mb
  ma=$(printf '%s\n' "${as[@]}" | median)
  mb=$(printf '%s\n' "${bs[@]}" | median)
  awk -v l="$label" -v a="$ma" -v b="$mb" -v ra="${as[*]}" -v rb="${bs[*]}" 'BEGIN{
    printf "%-28s %8.3f s  vs %8.3f s   ratio %.2f   (runs: %s | %s)\n", l, a, b, a / b, ra, rb }'
}
