#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test and the fuzz targets.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
tools/build.sh -DREELPAGE_WERROR=ON "$@"
build="${BUILD_DIR:-build}"
# The W3C checker for the published-page tests, at the version the lock file
# pins. Its install script would download a Java of its own; the system's is used.
npm ci --prefix tests/web --ignore-scripts --no-audit --no-fund --loglevel=error
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
# The parsers' fuzz targets, built with clang in a folder of their own, each
# run for a bounded time.
tools/fuzz.sh -DREELPAGE_WERROR=ON
