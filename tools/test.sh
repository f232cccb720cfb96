#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
tools/build.sh "$@"
build="${BUILD_DIR:-build}"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
