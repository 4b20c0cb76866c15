#!/usr/bin/env bash
# Builds the release configuration into build-bench and prints the peak memory of
# animated decoding (-dd) against the frame count:
#
#   scripts/bench-frames.sh [frame count ...]        (default: 100 1000 10000)
#
# It generates a sphere of about 2900 vertices and four frames of it deformed, encodes
# them with method 0 and 0 and 3 bases, and rewrites each file for every frame count
# with bench/stretch_frames (the encoder cannot take thousands of frames). Each file
# is decoded by the program under /usr/bin/time: whole-command seconds and peak
# resident memory, which grows by a few hundred bytes per frame (the PCA mean and
# basis, and the frame files' names kept until all are renamed into place); the
# output, one OBJ file per frame, grows far more.
#
# Environment: BENCH_DIR (scratch directory; default build-bench/frames-run; each
# decoded animation is removed once measured), BENCH_JOBS (build jobs; default 3).
set -euo pipefail
cd "$(dirname "$0")/.."

dir=$(realpath -m "${BENCH_DIR:-build-bench/frames-run}")
counts=("$@")
[ ${#counts[@]} -eq 0 ] && counts=(100 1000 10000)

./scripts/bench-build.sh meshcodec make_mesh stretch_frames
exe=$(realpath build-bench/meshcodec)
stretch=$(realpath build-bench/stretch_frames)
maker=$(realpath build-bench/make_mesh)

rm -rf "$dir"
mkdir -p "$dir/frames"
cd "$dir"
"$maker" sphere 2900 sphere.obj >/dev/null
vertices=$(grep -c '^v ' sphere.obj)
# Four frames: the sphere swelling, shearing and bending.
for f in 0 1 2 3; do
  awk -v t="$f" '/^v / { s = 1 + 0.1 * t; printf "v %.9g %.9g %.9g\n", $2 * s + 0.05 * t * $3, $3, $4 + 0.02 * t * $2 * $2; next }
                 { print }' sphere.obj >"frames/mesh_0000$f.obj"
done

printf '%-6s %8s %8s %10s %8s %8s %10s\n' bases vertices frames "file B" seconds "RSS MB" "output MB"
for bases in 0 3; do
  "$exe" -ed frames 'mesh_[0-9]+\.obj' "k$bases.bin" "$bases" 0.01 0.001 0 sphere.obj >/dev/null
  for frames in "${counts[@]}"; do
    "$stretch" "k$bases.bin" "$frames" stretched.bin >/dev/null
    rm -rf out && mkdir out
    /usr/bin/time -f "%e %M" -o time.txt "$exe" -dd stretched.bin out/f 0 >/dev/null
    read -r seconds rss <time.txt
    output=$(du -sk out | cut -f1)
    printf '%-6s %8d %8d %10d %8.2f %8.1f %10.1f\n' "$bases" "$vertices" "$frames" "$(stat -c %s stretched.bin)" \
      "$seconds" "$(awk -v k="$rss" 'BEGIN { print k / 1024 }')" "$(awk -v k="$output" 'BEGIN { print k / 1024 }')"
    rm -rf out
  done
done
