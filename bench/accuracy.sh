#!/usr/bin/env bash
# How well recovery holds on SQL Server's own files: each real database file is laid on raw
# images (1-, 4-, 8- and 64-sector clusters, noise between the pieces), FAT32 and NTFS volumes
# made by mkfs.vfat/mtools and mkntfs/ntfs-3g, and whole MBR and GPT disks made by sfdisk;
# two databases on one disk, the pairs of versions of one database interleaved, unreadable
# sectors. Every image is recovered with `ravelin recover` and each rebuilt file is judged
# against its original: sound, byte-identical, pages of the other file, free pages written
# with foreign bytes, wrong pages the page account does not name. Prints one line per class;
# the judgements go to $RAVELIN_BENCH_DIR/accuracy.json. Run through scripts/bench.
set -euo pipefail
cd "$(dirname "$0")/.."

bin=build/release
dir=${RAVELIN_BENCH_DIR:-/tmp/ravelin-bench}
real=${RAVELIN_TESTDATA_DIR:-../shared/testdata}/real
if [ ! -d "$real" ]; then
  echo "accuracy: the real database files are missing: $real (set RAVELIN_TESTDATA_DIR)" >&2
  exit 1
fi
mkdir -p "$dir"
nice -n 5 "$bin/bench/ravelin-accuracy" "$real" --json "$dir/accuracy.json" \
  --work "$dir/accuracy-work" "$@"
