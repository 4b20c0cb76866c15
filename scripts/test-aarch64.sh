#!/usr/bin/env bash
# Installs what is missing, cross-builds the release configuration for 64-bit Arm
# Linux and runs every test under qemu's user-mode emulator. GoogleTest is built for
# the target from the sources Debian ships in /usr/src/googletest, into build-aarch64/.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh g++-aarch64-linux-gnu qemu-user-static
toolchain="$PWD/cmake/aarch64-linux-gnu.cmake"
gtest="$PWD/build-aarch64/googletest"

cmake -S /usr/src/googletest -B "$gtest/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -DCMAKE_INSTALL_PREFIX="$gtest/install"
cmake --build "$gtest/build" --parallel
cmake --install "$gtest/build"

cmake -S . -B build-aarch64 -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
  -DMESHCODEC_BENCH=OFF -DGTest_ROOT="$gtest/install"
cmake --build build-aarch64 --parallel
ctest --test-dir build-aarch64 --output-on-failure --parallel "$(nproc)" --timeout 900
