#!/usr/bin/env bash
# Installs what is missing, cross-builds the release configuration for 32-bit x86
# Linux and runs every test natively, started through the target's own loader (see
# cmake/i686-linux-gnu.cmake). GoogleTest is built for the target from the sources
# Debian ships in /usr/src/googletest, into build-i686/.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh g++-i686-linux-gnu
toolchain="$PWD/cmake/i686-linux-gnu.cmake"
gtest="$PWD/build-i686/googletest"

cmake -S /usr/src/googletest -B "$gtest/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -DCMAKE_INSTALL_PREFIX="$gtest/install"
cmake --build "$gtest/build" --parallel
cmake --install "$gtest/build"

cmake -S . -B build-i686 -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
  -DMESHCODEC_BENCH=OFF -DGTest_ROOT="$gtest/install"
cmake --build build-i686 --parallel
ctest --test-dir build-i686 --output-on-failure --parallel "$(nproc)" --timeout 900
