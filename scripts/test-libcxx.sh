#!/usr/bin/env bash
# Installs what is missing, builds the release configuration with clang and LLVM's
# C++ library (libc++) and runs every test. GoogleTest is built against libc++ from
# the sources Debian ships in /usr/src/googletest, into build-libcxx/.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh clang libc++-dev libc++abi-dev
export CC=clang CXX=clang++ CXXFLAGS="-stdlib=libc++" LDFLAGS="-stdlib=libc++"
gtest="$PWD/build-libcxx/googletest"

cmake -S /usr/src/googletest -B "$gtest/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF \
  -DCMAKE_INSTALL_PREFIX="$gtest/install"
cmake --build "$gtest/build" --parallel
cmake --install "$gtest/build"

cmake -S . -B build-libcxx -G Ninja -DCMAKE_BUILD_TYPE=Release -DMESHCODEC_BENCH=OFF \
  -DGTest_ROOT="$gtest/install"
cmake --build build-libcxx --parallel
ctest --test-dir build-libcxx --output-on-failure --parallel "$(nproc)" --timeout 900
