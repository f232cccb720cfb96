#!/usr/bin/env bash
# Installs what building, running and testing reelpage needs on Debian 12.
# Only packages that are missing are installed; a machine that has them all
# is left alone (no apt-get update).
set -euo pipefail

packages=(
  # build
  cmake ninja-build pkg-config g++ git
  # the program's pictures and the template previews are rendered from SVG
  librsvg2-bin
  # libraries
  qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev qt6-webengine-dev qt6-svg-dev libgl-dev
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev
  libavfilter-dev
  # Theora is encoded with libtheora itself (for its speed level)
  libtheora-dev
  # tests: GoogleTest, media fixtures, a display for widget screenshots
  libgtest-dev libgmock-dev ffmpeg xvfb xauth
  # a sound server of the tests' own (null sink) for the preview's sound clock;
  # parec records its monitor for bench/av_sync_bench.sh
  pulseaudio pulseaudio-utils
  # the fuzz targets (tools/fuzz.sh): clang with libFuzzer and the sanitizers
  clang libclang-rt-14-dev
  # checks the desktop entry
  desktop-file-utils
  # the Debian package: dpkg-shlibdeps and dpkg-deb, file (CPack asks it what
  # is a binary), root-owned files for any builder, and the package's check
  dpkg-dev file fakeroot lintian
  # published pages: headless browser, and java for the W3C checker (from npm)
  chromium default-jre-headless
  # a private session bus for the launcher-progress test; screenshots of the
  # program under Xvfb (import -window root)
  dbus imagemagick
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
# Node.js and npm run the page checks. Judged by the commands, not the
# package names: a Node.js from elsewhere brings its own npm, which Debian's
# npm package would conflict with.
command -v node >/dev/null || missing+=(nodejs)
command -v npm >/dev/null || missing+=(npm)

if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
