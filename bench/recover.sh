#!/usr/bin/env bash
# The whole recovery against what no program could beat: `ravelin scan` of the same image plus
# `cp` of a file as large as the rebuilt .mdf. A generated 2 GiB raw image holding a
# fragmented 100,000-page database (and decoys) is recovered with `ravelin recover`; the
# recovery and the reference alternate (RAVELIN_BENCH_PAIRS pairs, at least 3) and their
# medians and ratio are printed in four modes:
#   warm/tmpfs  the image in the page cache, both outputs on tmpfs: the program's own work;
#   warm/disk   outputs on disk, `sync FILE` after cp (the writer syncs its output too):
#               what a user waits for;
#   cold/...    the same with the image (and cp's source) dropped from the page cache before
#               each timed command: every read comes from the disk.
# Then `recover --stats` of one run: each step's time and the bytes it read from the source.
# Target: whole recovery <= 1.15 x (scan + cp). Run through scripts/bench (release build).
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/pairs.sh

bin=build/release
ravelin=$bin/src/cli/ravelin
dir=${RAVELIN_BENCH_DIR:-/tmp/ravelin-bench}
n=${RAVELIN_BENCH_PAIRS:-3}
((n >= 3)) || n=3
image=$dir/scan-2g.img  # the scan benchmark's image, made the same way
mkdir -p "$dir"
if [ ! -f "$image" ]; then
  "$bin/tools/mkimage/ravelin-mkimage" image --kind raw --size 2G --pages 100000 --cluster 8 \
    --fragments 40 --stale-runs 20 --other-db-runs 20 --other-file-id-runs 20 \
    --zero-share 0.2 --seed 7 -o "$image" >/dev/null
fi
scan_args=("$image" --disk-image --sectors-per-cluster 8)

shm=$(mktemp -d /dev/shm/ravelin-bench.XXXXXX)
trap 'rm -rf "$shm" "$dir/out" "$dir/cp-source.bin"' EXIT

# One recovery to learn the rebuilt file's size, and the --stats shown at the end.
"$ravelin" recover "${scan_args[@]}" --file 1 --out-dir "$dir/out" --stats >/dev/null \
  2>"$dir/recover-stats.txt"
size=$(stat -c %s "$(ls "$dir"/out/*.mdf | head -1)")
rm -rf "$dir/out"
src=$dir/cp-source.bin
head -c "$size" "$image" >"$src"

cold=0
out=$dir
prepare() {
  sync
  if [ "$cold" = 1 ]; then evict "$image" "$src"; else cat "$image" "$src" >/dev/null; fi
}
recovery() {
  rm -rf "$out/out"
  prepare
  local t0
  t0=$(now)
  "$ravelin" recover "${scan_args[@]}" --file 1 --out-dir "$out/out" >/dev/null 2>&1
  since "$t0"
}
reference() {
  rm -f "$out/copy.bin"
  prepare
  local t0
  t0=$(now)
  "$ravelin" scan "${scan_args[@]}" >/dev/null 2>&1
  cp "$src" "$out/copy.bin"
  # tmpfs has nothing to sync; on disk the copy is waited for, as the writer's output is.
  if [ "$out" != "$shm" ]; then sync "$out/copy.bin"; fi
  since "$t0"
}

echo "image: $image ($(($(stat -c %s "$image") >> 20)) MiB), rebuilt file $((size >> 20)) MiB," \
  "$n pairs each (recover | scan + cp)"
for cold in 0 1; do
  for out in "$shm" "$dir"; do
    label="$([ "$cold" = 1 ] && echo cold || echo warm)/$([ "$out" = "$shm" ] && echo tmpfs || echo disk)"
    pairs "$label" "$n" recovery reference 2>/dev/null
    rm -rf "$out/out" "$out/copy.bin"
  done
done
echo "target: ratio <= 1.15"
echo "recover --stats (warm, outputs on disk):"
sed 's/^/  /' "$dir/recover-stats.txt"
