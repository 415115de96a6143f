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
. bench/lib/pairs.sh

bin=build/release
ravelin=$bin/src/cli/ravelin
dir=${RAVELIN_BENCH_DIR:-/tmp/ravelin-bench}
. bench/lib/scan_image.sh  # the scan benchmark's image
stats=$dir/recover-stats.txt
"$ravelin" recover "$image" --disk-image --sectors-per-cluster 8 --file 1 --out-dir "$dir/out" \
  --stats >/dev/null 2>"$stats" || true
rm -rf "$dir/out"
echo "image: $image ($(($(stat -c %s "$image") >> 20)) MiB)"
recover_vs_scan_cp "$ravelin" "$image" "${RAVELIN_BENCH_PAIRS:-3}"
echo "recover --stats (warm, outputs on disk):"
sed 's/^/  /' "$stats"
