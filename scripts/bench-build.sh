#!/usr/bin/env bash
# Installs what the benchmark scripts need (the build's packages and /usr/bin/time) and
# builds the given targets of the release configuration into build-bench:
#
#   scripts/bench-build.sh <target ...>        (BENCH_JOBS: build jobs; default 3)
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh
if [ ! -x /usr/bin/time ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update && $SUDO apt-get install -y time
fi
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DMESHCODEC_BENCH=ON >/dev/null
cmake --build build-bench --parallel "${BENCH_JOBS:-3}" --target "$@"
