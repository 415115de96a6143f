#!/usr/bin/env bash
# The whole recovery against its parts' references, measured in one run: a generated 2 GiB raw
# image holding a fragmented 100,000-page database (and decoys) is recovered with `ravelin
# recover`, whose --stats give the time of the scan, the analysis, the search and the writing.
# The references: `ravelin scan` of the same image, and `cp` of a file as large as the rebuilt
# .mdf, in the same folder. Targets: the whole recovery within 1.5 x (scan + cp), the MDF
# writing at least 0.8 x the speed of cp. Run through scripts/bench (which builds release).
set -euo pipefail
cd "$(dirname "$0")/.."

bin=build/release
dir=${RAVELIN_BENCH_DIR:-/tmp/ravelin-bench}
image=$dir/scan-2g.img  # the scan benchmark's image, made the same way
mkdir -p "$dir"
if [ ! -f "$image" ]; then
  "$bin/tools/mkimage/ravelin-mkimage" image --kind raw --size 2G --pages 100000 --cluster 8 \
    --fragments 40 --stale-runs 20 --other-db-runs 20 --other-file-id-runs 20 \
    --zero-share 0.2 --seed 7 -o "$image" >/dev/null
fi
out=$dir/recovered
now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN{printf "%.3f", b-a}'; }

cat "$image" >/dev/null  # into the page cache, for every run alike
cat "$image" >/dev/null

rm -rf "$out"
stats=$dir/recover-stats.txt
# Each timed command starts with no dirty pages in the cache: writeback of an earlier
# command's output would otherwise throttle the next one's writes.
sync
t0=$(now)
"$bin/src/cli/ravelin" recover "$image" --disk-image --sectors-per-cluster 8 --file 1 \
  --out-dir "$out" --stats >/dev/null 2>"$stats"
whole_s=$(since "$t0")
scan_in=$(sed -n 's/^stats: scan \([0-9.]*\) s.*/\1/p' "$stats")
read -r analysis_s search_s check_s write_s < <(sed -n \
  's/^stats: file .* analysis \([0-9.]*\) s, search \([0-9.]*\) s, check \([0-9.]*\) s, write \([0-9.]*\) s/\1 \2 \3 \4/p' \
  "$stats")
mdf=$(ls "$out"/*.mdf | head -1)
size=$(stat -c %s "$mdf")

sync
t0=$(now)
"$bin/src/cli/ravelin" scan "$image" --disk-image --sectors-per-cluster 8 >/dev/null 2>&1
scan_s=$(since "$t0")

src=$dir/cp-source.bin
head -c "$size" "$image" >"$src"
cat "$src" >/dev/null
cp_best=""
for _ in 1 2; do
  rm -f "$dir/cp-copy.bin"
  sync
  t0=$(now)
  cp "$src" "$dir/cp-copy.bin"
  t=$(since "$t0")
  cp_best=$(awk -v a="$cp_best" -v b="$t" 'BEGIN{ if (a=="" || b<a) print b; else print a }')
done
rm -f "$dir/cp-copy.bin"
# A copy through user space (read and write, as the writer does) for comparison.
sync
t0=$(now)
dd if="$src" of="$dir/cp-copy.bin" bs=2M status=none
dd_s=$(since "$t0")
rm -f "$src" "$dir/cp-copy.bin"

echo "image: $image ($(($(stat -c %s "$image") / 1048576)) MiB), rebuilt: $mdf ($((size / 1048576)) MiB)"
printf "recover steps:  scan %s s, analysis %s s, search %s s, check %s s, write %s s\n" \
  "$scan_in" "$analysis_s" "$search_s" "$check_s" "$write_s"
printf "whole recovery: %s s\n" "$whole_s"
printf "dd bs=2M of the same size: %s s\n" "$dd_s"
printf "reference:      scan %s s + cp %s s = %s s\n" "$scan_s" "$cp_best" \
  "$(awk -v a="$scan_s" -v b="$cp_best" 'BEGIN{printf "%.3f", a+b}')"
awk -v w="$whole_s" -v s="$scan_s" -v c="$cp_best" -v m="$write_s" 'BEGIN{
  r = w / (s + c); printf "whole / (scan + cp) = %.2f (target <= 1.5): %s\n", r, (r <= 1.5 ? "met" : "NOT met");
  q = c / m;       printf "MDF writing speed / cp = %.2f (target >= 0.8): %s\n", q, (q >= 0.8 ? "met" : "NOT met");
}'
rm -rf "$out"
