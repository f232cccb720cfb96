#!/usr/bin/env bash
# The Debian package: built by CPack, its control fields, lintian without
# errors, and the program run from the extracted package.
# Usage: package_test.sh BUILD_DIR SAMPLE_VIDEO
# shellcheck source=common.sh
. "$(dirname "$0")/common.sh"
build=$1 sample=$2
make_home
(cd "$build" && fakeroot cpack -G DEB --config CPackConfig.cmake -B "$work/deb") \
    >"$work/cpack.log" 2>&1 || fail "cpack: $(cat "$work/cpack.log")"
deb=$(ls "$work"/deb/reelpage_*_"$(dpkg --print-architecture)".deb)
[ -f "$deb" ] || fail "no package made"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Section)" = video ] || fail "section $(field Section)"
depends=$(field Depends)
for lib in libavcodec libavformat libswscale libqt6widgets6 libqt6webenginewidgets6; do
    [[ "$depends" == *"$lib"* ]] || fail "Depends lacks $lib: $depends"
done
[[ ",$depends" != *", ffmpeg "* && ",$depends" != *",ffmpeg "* ]] || fail "Depends names ffmpeg"
[ -n "$(field Description | sed -n 2p)" ] || fail "no long description"

# No errors, and no warnings but those the README accepts (and says why).
lintian --fail-on error,warning --suppress-tags national-encoding,maintscript-calls-ldconfig \
    "$deb" >"$work/lintian.log" 2>&1 ||
    fail "lintian: $(cat "$work/lintian.log")"

# Purging removes what the program stored machine-wide; a remove keeps it.
control="$work/control"
dpkg-deb -e "$deb" "$control"
[ -x "$control/postrm" ] || fail "no postrm in the package"
machine="$work/dpkg-root/var/lib/reelpage/registry/SOFTWARE"
mkdir -p "$machine" && echo 7000 >"$machine/value"
DPKG_ROOT="$work/dpkg-root" "$control/postrm" remove || fail "postrm remove"
[ -e "$machine/value" ] || fail "a remove took the machine-wide store"
DPKG_ROOT="$work/dpkg-root" "$control/postrm" purge || fail "postrm purge"
[ ! -e "$work/dpkg-root/var/lib/reelpage" ] || fail "a purge left /var/lib/reelpage"

root="$work/root"
dpkg-deb -x "$deb" "$root"
desktop-file-validate "$root/usr/share/applications/reelpage.desktop" || fail "desktop entry"
# Stripped in the package, and still intact by its manifest.
file -L "$root/usr/lib/reelpage/reelpage" | grep -q ', stripped' || fail "not stripped"
check_cli "$root/usr/bin/reelpage-cli" "$sample"
echo "PASS"
