#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job on the sample video
# the build makes: reelpage-cli imports it, encodes WebM, MP4 and Ogg, publishes
# the page, and this prints where the package is.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
tools/build.sh
build="${BUILD_DIR:-build}"
out="$PWD/$build/demo"
mkdir -p "$out"
echo
page=$("$build/bin/reelpage-cli" --output "$out" "$build/sample/sample.mp4")
echo
echo "The package is in $(dirname "$page")"
echo "Its page: $page"
