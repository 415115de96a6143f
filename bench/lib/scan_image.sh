# Sourced by the scan benchmarks (not a benchmark itself): the generated 2 GiB raw disk they
# measure, made once in $dir and kept. Sets $image.
image=$dir/scan-2g.img
mkdir -p "$dir"
if [ ! -f "$image" ]; then
  "$bin/tools/mkimage/ravelin-mkimage" image --kind raw --size 2G --pages 100000 --cluster 8 \
    --fragments 40 --stale-runs 20 --other-db-runs 20 --other-file-id-runs 20 \
    --zero-share 0.2 --seed 7 -o "$image" >/dev/null
fi
