#!/usr/bin/env bash
# Scan throughput against `cat` on the same image, both from the page cache, measured in one
# run: a generated 2 GiB raw image scanned with step 8 and with step 1 (every sector a
# candidate). Also the scan's peak memory. Run through scripts/bench (which builds release).
set -euo pipefail
cd "$(dirname "$0")/.."

bin=build/release
dir=${RAVELIN_BENCH_DIR:-/tmp/ravelin-bench}
. bench/lib/scan_image.sh
size=$(stat -c %s "$image")

now() { date +%s.%N; }
best() {  # best of N runs of a command, in seconds
  local n=$1; shift
  local best=""
  for _ in $(seq "$n"); do
    local t0 t1
    t0=$(now); "$@"; t1=$(now)
    best=$(awk -v a="$best" -v b="$(awk -v x="$t0" -v y="$t1" 'BEGIN{print y-x}')" \
      'BEGIN{ if (a=="" || b<a) print b; else print a }')
  done
  echo "$best"
}

cat "$image" >/dev/null  # into the page cache
cat "$image" >/dev/null
cat_s=$(best 3 sh -c "cat '$image' >/dev/null")
mbs() { awk -v b="$size" -v s="$1" 'BEGIN{printf "%.0f", b/s/1e6}'; }
echo "image: $image ($((size / 1048576)) MiB)"
printf "cat:            %6.3f s  %5s MB/s\n" "$cat_s" "$(mbs "$cat_s")"

for step in 8 1; do
  stats=$dir/stats-$step.txt
  scan_s=$(best 2 sh -c "'$bin/src/cli/ravelin' scan '$image' --disk-image \
      --sectors-per-cluster $step --stats >/dev/null 2>'$stats'")
  peak=$(sed -n 's/.*peak memory \([0-9]*\) KiB.*/\1/p' "$stats")
  fragments=$(sed -n 's/.*, \([0-9]*\) fragments.*/\1/p' "$stats")
  ratio=$(awk -v c="$cat_s" -v s="$scan_s" 'BEGIN{printf "%.2f", c/s}')
  printf "scan step %-3s  %6.3f s  %5s MB/s  %s x cat  peak %s MiB  %s fragments\n" \
    "$step" "$scan_s" "$(mbs "$scan_s")" "$ratio" "$((peak / 1024))" "$fragments"
done

# The checkpoint's cost: the step-8 scan saving its rows, so that it keeps a checkpoint
# beside them, against the same scan without --rows; and the time the checkpoints took as
# the scan counts it itself (--stats). The interval keeps it under 1 %.
rows=$dir/scan-checkpoint.rows
plain_s=$(best 3 sh -c "'$bin/src/cli/ravelin' scan '$image' --disk-image \
    --sectors-per-cluster 8 >/dev/null 2>/dev/null")
kept_s=$(best 3 sh -c "'$bin/src/cli/ravelin' scan '$image' --disk-image \
    --sectors-per-cluster 8 --rows '$rows' --force --stats >/dev/null 2>'$dir/stats-kept.txt'")
written=$(sed -n 's/^stats: \([0-9]*\) checkpoints written in \([0-9.]*\) s.*/\1 \2/p' \
  "$dir/stats-kept.txt")
scanned=$(sed -n 's/^stats: [0-9]* sectors in \([0-9.]*\) s.*/\1/p' "$dir/stats-kept.txt")
rm -f "$rows" "$rows.checkpoint"
printf "scan step 8 without --rows %6.3f s, with --rows (checkpoints) %6.3f s\n" \
  "$plain_s" "$kept_s"
awk -v w="$written" -v s="$scanned" 'BEGIN{split(w, a, " ");
  printf "checkpoints:    %s written in %.4f s, %.3f %% of the %.3f s scan\n",
  a[1], a[2], (s > 0 ? 100 * a[2] / s : 0), s}'
