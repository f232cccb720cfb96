#!/usr/bin/env bash
# Soak: one process imports, encodes (WebM, MP4, Ogg) and publishes JOBS
# videos of mixed kinds in a row (bench/soak_driver.cpp) and reports its
# descriptors, threads, resident memory and history records before and after.
# Fails when anything but the history grows from job to job.
#
#   bench/soak.sh [BUILD_DIR] [JOBS]
set -euo pipefail
cd "$(dirname "$0")/.."
build="$(realpath "${1:-build}")"
jobs="${2:-50}"
media="$build/bench/soak-media"
mkdir -p "$media"

# Small and short, so that the soak measures the jobs' leftovers rather than
# the encoders: containers and codecs as users bring them, one without sound,
# one with an odd size, one filmed upright (rotation in its metadata).
make() {
  local out="$media/$1"; shift
  [ -s "$out" ] || ffmpeg -nostdin -v error -y "$@" "$out"
}
pic=(-f lavfi -i testsrc2=s=160x120:r=25:d=1)
tone=(-f lavfi -i sine=frequency=440:sample_rate=44100:duration=1)
make camera.mp4 "${pic[@]}" "${tone[@]}" -c:v libx264 -preset veryfast -pix_fmt yuv420p -c:a aac
make web.webm "${pic[@]}" "${tone[@]}" -c:v libvpx -c:a libvorbis
make silent.mkv "${pic[@]}" -c:v mpeg4
make odd.mov -f lavfi -i testsrc2=s=162x98:r=30:d=1 "${tone[@]}" -c:v mjpeg -c:a pcm_s16le
make upright.mp4 "${pic[@]}" "${tone[@]}" -c:v libx264 -preset veryfast -pix_fmt yuv420p \
  -c:a aac -metadata:s:v:0 rotate=90

# A private home: the history, settings and log of this run only.
home=$(mktemp -d "${TMPDIR:-/tmp}/reelpage-soak-XXXXXX")
work=""
trap 'rm -rf "$home" ${work:+"$work"}' EXIT
export HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" \
  XDG_CACHE_HOME="$home/.cache" XDG_RUNTIME_DIR="$home/run" REELPAGE_MACHINE_REGISTRY="$home/machine"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
# The work folder is on the same file system as the media: jobs import hard links.
work=$(mktemp -d "$media/work-XXXXXX")
start=$(date +%s)
rc=0
"$build/bench/soak_driver" "$work" "$jobs" "$media"/camera.mp4 "$media"/web.webm \
  "$media"/silent.mkv "$media"/odd.mov "$media"/upright.mp4 || rc=$?
echo "$jobs jobs in $(( $(date +%s) - start )) s; machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
exit "$rc"
