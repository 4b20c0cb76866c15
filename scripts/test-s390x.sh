#!/usr/bin/env bash
# Installs what is missing, cross-builds the release configuration for 64-bit IBM Z
# Linux, a big-endian target, and runs every test under qemu's user-mode emulator.
# GoogleTest is built for the target from the sources Debian ships in
# /usr/src/googletest, into build-s390x/.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh g++-s390x-linux-gnu qemu-user-static
toolchain="$PWD/cmake/s390x-linux-gnu.cmake"
gtest="$PWD/build-s390x/googletest"

cmake -S /usr/src/googletest -B "$gtest/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -DCMAKE_INSTALL_PREFIX="$gtest/install"
cmake --build "$gtest/build" --parallel
cmake --install "$gtest/build"

cmake -S . -B build-s390x -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
  -DMESHCODEC_BENCH=OFF -DGTest_ROOT="$gtest/install"
cmake --build build-s390x --parallel
ctest --test-dir build-s390x --output-on-failure --parallel "$(nproc)" --timeout 900
