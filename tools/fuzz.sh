#!/usr/bin/env bash
# Builds the fuzz targets with clang into build-fuzz/ (or $FUZZ_BUILD_DIR) and
# runs each for $FUZZ_SECONDS seconds (default 20). Extra arguments go to cmake.
# By hand, longer: build-fuzz/fuzz/<target> -max_total_time=3600 DIR tests/fuzz/corpus/<target>
set -euo pipefail
cd "$(dirname "$0")/.."
build="${FUZZ_BUILD_DIR:-build-fuzz}"
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DREELPAGE_FUZZ=ON -DREELPAGE_BUILD_APP=OFF -DREELPAGE_BUILD_TESTS=OFF \
  -DREELPAGE_FUZZ_SECONDS="${FUZZ_SECONDS:-20}" "$@"
cmake --build "$build" --target fuzz_targets -j "$(nproc)"
ctest --test-dir "$build" -L fuzz --output-on-failure -j "$(nproc)"
