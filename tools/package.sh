#!/usr/bin/env bash
# Installs what is missing, builds, and makes the Debian package
# reelpage_<version>_<arch>.deb in build/ (or $BUILD_DIR); prints its path.
# Extra arguments go to cmake.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build}"
tools/install-deps.sh >&2
tools/build.sh "$@" >&2
# dpkg-shlibdeps and dpkg-deb come from dpkg-dev; fakeroot gives the files root
# as owner whoever builds.
(cd "$build" && fakeroot cpack -G DEB --config CPackConfig.cmake) >&2
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
arch=$(dpkg --print-architecture)
deb="$build/reelpage_${version}_${arch}.deb"
test -f "$deb"
echo "$deb"
