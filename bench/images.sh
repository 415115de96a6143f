#!/usr/bin/env bash
# Scan throughput of container images against the raw image they were made from, measured in
# one run: the 2 GiB generated disk of bench/scan.sh as raw, fixed VHD, dynamic VHDX, QCOW2
# and E01 (deflate, fast), each scanned whole with step 8. The kinds take turns in every
# round, so a change in the machine's load falls on all of them; each time is the median of
# the rounds (RAVELIN_BENCH_ROUNDS, at least 3). Beside each scan, the same guest read start
# to end by the format's own tools (cat, qemu-img convert into its null driver, ewfexport):
# a container scan should not be slower than that read. All from the page cache as far as
# memory allows. Run through scripts/bench (which builds release).
set -euo pipefail
cd "$(dirname "$0")/.."

bin=build/release
dir=${RAVELIN_BENCH_DIR:-/tmp/ravelin-bench}
rounds=${RAVELIN_BENCH_ROUNDS:-3}
[ "$rounds" -ge 3 ] || rounds=3
. bench/lib/scan_image.sh
# The containers are made once and kept beside the image (remade when it is newer).
make_once() {  # TARGET COMMAND…
  local target=$1; shift
  if [ ! -f "$target" ] || [ "$image" -nt "$target" ]; then "$@" >/dev/null; fi
}
make_once "$dir/images-fixed.vhd" \
  qemu-img convert -f raw -O vpc -o subformat=fixed,force_size=on "$image" "$dir/images-fixed.vhd"
make_once "$dir/images-dynamic.vhdx" \
  qemu-img convert -f raw -O vhdx "$image" "$dir/images-dynamic.vhdx"
make_once "$dir/images.qcow2" qemu-img convert -f raw -O qcow2 "$image" "$dir/images.qcow2"
make_once "$dir/images.E01" \
  ewfacquire -u -q -c deflate:fast -t "$dir/images" "$image"

kinds=(raw vhd-fixed vhdx-dynamic qcow2 e01)
declare -A file=(
  [raw]=$image [vhd-fixed]=$dir/images-fixed.vhd [vhdx-dynamic]=$dir/images-dynamic.vhdx
  [qcow2]=$dir/images.qcow2 [e01]=$dir/images.E01)
declare -A qemu_format=([vhd-fixed]=vpc [vhdx-dynamic]=vhdx [qcow2]=qcow2)
size=$(stat -c %s "$image")
# The format's own sequential read of the whole guest: qemu-img into its null driver (it
# cannot write to /dev/null), ewfexport to standard output.
own_read() {
  case "$1" in
    raw) cat "${file[raw]}" >/dev/null ;;
    e01) ewfexport -u -q -f raw -t - "${file[e01]}" >/dev/null 2>&1 ;;
    *) qemu-img convert -n -f "${qemu_format[$1]}" "${file[$1]}" \
         --target-image-opts "driver=null-co,size=$size" ;;
  esac
}
scan() {
  "$bin/src/cli/ravelin" scan "${file[$1]}" --disk-image --sectors-per-cluster 8 >/dev/null 2>&1
}

now() { date +%s.%N; }
timed() {  # seconds one command takes
  local t0 t1
  t0=$(now); "$@"; t1=$(now)
  awk -v x="$t0" -v y="$t1" 'BEGIN{print y-x}'
}
median() { sort -g | awk '{v[NR]=$1} END{print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }

declare -A scans reads
for kind in "${kinds[@]}"; do own_read "$kind"; done  # into the page cache
for _ in $(seq "$rounds"); do
  for kind in "${kinds[@]}"; do
    scans[$kind]+="$(timed scan "$kind") "
    reads[$kind]+="$(timed own_read "$kind") "
  done
done

mbs() { awk -v b="$size" -v s="$1" 'BEGIN{printf "%.0f", b/s/1e6}'; }
raw_scan=$(tr ' ' '\n' <<<"${scans[raw]}" | grep . | median)
echo "guest disk: $image ($((size / 1048576)) MiB), medians of $rounds rounds, step 8"
printf "%-13s %10s %8s %9s  %-30s %8s %8s\n" kind "file MiB" "scan s" "MB/s" "x raw scan (throughput)" \
  "read s" "scan/read"
for kind in "${kinds[@]}"; do
  s=$(tr ' ' '\n' <<<"${scans[$kind]}" | grep . | median)
  r=$(tr ' ' '\n' <<<"${reads[$kind]}" | grep . | median)
  printf "%-13s %10s %8.3f %9s  %-30s %8.3f %8.2f\n" "$kind" \
    "$(($(du -k --apparent-size "${file[$kind]}" | cut -f1) / 1024))" "$s" "$(mbs "$s")" \
    "$(awk -v a="$raw_scan" -v b="$s" 'BEGIN{printf "%.2f", a/b}')" "$r" \
    "$(awk -v a="$s" -v b="$r" 'BEGIN{printf "%.2f", a/b}')"
done
echo "(scan/read above 1: the scan takes longer than the format's own tool takes to read the guest)"
