# Sourced by the benchmarks that time a whole command against a reference in the same run:
# the two alternate, PAIRS times each, and their medians and ratio are printed, so a machine
# whose speed drifts slows both alike. Cold runs first drop the image from the page cache.

now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN{printf "%.3f", b-a}'; }

# Drops FILE's pages from the page cache, so that the next read of it comes from the disk:
# the whole cache through /proc/sys/vm/drop_caches when root may, else the file's own pages
# (posix_fadvise POSIX_FADV_DONTNEED, through dd). Dirty pages are written first.
evict() {
  local f
  sync
  if [ -w /proc/sys/vm/drop_caches ] && echo 1 >/proc/sys/vm/drop_caches 2>/dev/null; then
    return
  fi
  for f in "$@"; do dd if="$f" iflag=nocache count=0 status=none; done
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

# recover_vs_scan_cp RAVELIN IMAGE PAIRS: the whole recovery of the first database file on
# IMAGE (a raw disk, 8 sectors per cluster) against `ravelin scan` of it plus `cp` of a file
# as large as the rebuilt one, PAIRS pairs, warm and cold (the image and cp's source dropped
# from the page cache before each timed command), with the outputs on disk (cp's copy synced,
# as the writer syncs its own) and on tmpfs when the rebuilt file fits there with room to spare.
# Needs twice the rebuilt file's size free in `dir` (cp's source and one output); says so
# and measures nothing when that is not there.
# Prints a line per mode. Needs `dir` (a folder on disk for outputs).
recover_vs_scan_cp() {
  local ravelin=$1 image=$2 n=$3
  ((n >= 3)) || n=3
  local scan=("$image" --disk-image --sectors-per-cluster 8)
  local args=("${scan[@]}" --file 1)
  rm -rf "$dir/out"
  "$ravelin" recover "${args[@]}" --out-dir "$dir/out" >/dev/null 2>&1 || true
  local size
  size=$(stat -c %s "$(ls "$dir"/out/*.mdf | head -1)")
  rm -rf "$dir/out"
  local src=$dir/cp-source.bin
  local diskFree
  diskFree=$(df -B1 --output=avail "$dir" | tail -n 1)
  if ((2 * size + (1 << 30) > diskFree)); then
    echo "recover | scan + cp: not measured, $(((2 * size + (1 << 30)) >> 30)) GiB free needed in $dir, $((diskFree >> 30)) GiB there"
    return
  fi
  head -c "$size" "$image" >"$src"
  local outs=("$dir") shm=""
  # One output lies on tmpfs at a time; it must leave room for the rest of memory.
  local shmFree memFree
  shmFree=$(df -B1 --output=avail /dev/shm | tail -n 1)
  memFree=$(($(awk '/^MemAvailable:/ {print $2}' /proc/meminfo) * 1024))
  if ((size + (2 << 30) < shmFree && size + (3 << 30) < memFree)); then
    shm=$(mktemp -d /dev/shm/ravelin-bench.XXXXXX)
    outs=("$shm" "$dir")
  fi
  local cold out
  prepare() {
    sync
    if [ "$cold" = 1 ]; then evict "$image" "$src"; else cat "$image" "$src" >/dev/null; fi
  }
  recovery() {
    rm -rf "$out/out"
    prepare
    local t0
    t0=$(now)
    "$ravelin" recover "${args[@]}" --out-dir "$out/out" >/dev/null 2>&1 ||
      echo "the recovery did not end complete" >&2
    since "$t0"
    rm -rf "$out/out"  # one output at a time: on tmpfs two may not fit
  }
  reference() {
    rm -f "$out/copy.bin"
    prepare
    local t0
    t0=$(now)
    "$ravelin" scan "${scan[@]}" >/dev/null 2>&1 || echo "the reference scan failed" >&2
    cp "$src" "$out/copy.bin"
    # tmpfs has nothing to sync; on disk the copy is waited for, as the writer's output is.
    if [ "$out" != "$shm" ]; then sync "$out/copy.bin"; fi
    since "$t0"
    rm -f "$out/copy.bin"
  }
  echo "recover | scan + cp, $n pairs each, rebuilt file $((size >> 20)) MiB:"
  for cold in 0 1; do
    for out in "${outs[@]}"; do
      pairs "  $([ "$cold" = 1 ] && echo cold || echo warm)/$([ "$out" = "$shm" ] && echo tmpfs || echo disk)" \
        "$n" recovery reference
      rm -rf "$out/out" "$out/copy.bin"
    done
  done
  echo "  target: ratio <= 1.15"
  rm -f "$src"
  if [ -n "$shm" ]; then rm -rf "$shm"; fi
}
