#!/usr/bin/env bash
# Installs what is missing, builds, then encodes and decodes a generated torus of
# about 10,000 vertices with method 0 and prints the sizes and the coding error.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --parallel --target meshcodec make_mesh compare_obj
mkdir -p out && cd out
../build/make_mesh torus 10000 torus.obj 0.05
../build/meshcodec -e torus.obj torus.bin 0.01 0
../build/meshcodec -d torus.bin torus_decoded.obj 0
../build/meshcodec -r torus.obj torus_reindexed.obj
echo "OBJ file: $(stat -c %s torus.obj) bytes; compressed: $(stat -c %s torus.bin) bytes"
../build/compare_obj torus_reindexed.obj torus_decoded.obj
