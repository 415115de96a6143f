#!/usr/bin/env bash
# The whole road at scale: a generated 20 GiB raw image (sparse where the generator leaves
# gaps zero) holding a 2,000,000-page database cut into 200,000 fragments. Times and peak
# memory (/usr/bin/time) of the scan, the fragment index with list II's fill (`fragments`),
# the file list, the analysis, the analysis with the search for missing fragments, the same
# with the write of the rebuilt file, and the whole `ravelin recover` (its --stats line gives
# each step's time and the bytes it read inside one process), and the whole recovery against
# `ravelin scan` + `cp`, warm and cold (see compare below). Then the same road on a tenth of
# the database, so what grows with what can be read off the ratios. Run through `scripts/bench scale`; not part of scripts/test.
# RAVELIN_SCALE_PAGES / RAVELIN_SCALE_FRAGMENTS / RAVELIN_SCALE_SIZE override the figures.
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/lib/pairs.sh

bin=build/release
ravelin=$bin/src/cli/ravelin
mkimage=$bin/tools/mkimage/ravelin-mkimage
dir=${RAVELIN_BENCH_DIR:-/tmp/ravelin-bench}
mkdir -p "$dir"

# Runs a command under /usr/bin/time; prints "name  seconds  peak MiB".
measure() {
  local name=$1; shift
  local t=$dir/time.txt
  local rc=0
  /usr/bin/time -f "%e %M" -o "$t" "$@" >"$dir/$name.out" 2>"$dir/$name.err" || rc=$?
  # The last line: time puts "Command exited with non-zero status N" in front of it.
  read -r secs kib < <(tail -n 1 "$t")
  printf "  %-24s %8.2f s  %7d MiB  (exit %d)\n" "$name" "$secs" "$((kib / 1024))" "$rc"
}

run_scale() {
  local pages=$1 fragments=$2 size=$3
  local image=$dir/scale-$pages-$fragments.img
  local rows=$dir/scale-$pages.rows
  if [ ! -f "$image" ]; then
    echo "generating $image ($size, $pages pages, $fragments fragments)"
    "$mkimage" image --kind raw --size "$size" --pages "$pages" --cluster 8 \
      --fragments "$fragments" --zero-share 1 --max-gap 8 --verify checksum --seed 11 \
      -o "$image" >/dev/null
  fi
  echo "== $pages pages, $fragments fragments, $(($(stat -c %s "$image") >> 30)) GiB image" \
    "($(($(du -k "$image" | cut -f1) >> 20)) GiB on disk)"
  measure scan "$ravelin" scan "$image" --disk-image --sectors-per-cluster 8 --rows "$rows"
  echo "  fragments found: $(wc -l <"$rows")"
  measure "index + list II" "$ravelin" fragments "$rows"
  measure files "$ravelin" files "$rows" --source "$image" --disk-image
  measure analysis "$ravelin" analyse "$rows" --source "$image" --disk-image --file 1 \
    --sectors-per-cluster 8
  measure "analysis + search" "$ravelin" analyse "$rows" --source "$image" --disk-image \
    --file 1 --sectors-per-cluster 8 --search
  measure "analysis+search+write" "$ravelin" analyse "$rows" --source "$image" --disk-image \
    --file 1 --sectors-per-cluster 8 --search --out "$dir/analysed-$pages.mdf"
  rm -f "$dir/analysed-$pages.mdf"
  rm -rf "$dir/recovered-$pages"
  measure recover "$ravelin" recover "$image" --disk-image --sectors-per-cluster 8 \
    --out-dir "$dir/recovered-$pages" --stats
  grep -h "^stats:" "$dir/recover.err" | sed 's/^/    /'
  grep -h "页面校验通过\|已损坏\|缺少的已分配" "$dir/recover.out" | sed 's/^/    /' || true
  # The comparison makes outputs as large again: this one goes first.
  rm -rf "$dir/recovered-$pages"
  recover_vs_scan_cp "$ravelin" "$image" "${RAVELIN_BENCH_PAIRS:-3}" | sed 's/^/  /'
}

run_scale "${RAVELIN_SCALE_PAGES:-2000000}" "${RAVELIN_SCALE_FRAGMENTS:-200000}" \
  "${RAVELIN_SCALE_SIZE:-20G}"
if [ -z "${RAVELIN_SCALE_PAGES:-}" ]; then
  run_scale 200000 20000 2G
fi
