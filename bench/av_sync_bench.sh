#!/usr/bin/env bash
# Picture and sound together, end to end: a private PulseAudio server with a
# null sink (no sound card needed), a 20 s source whose frames carry their
# number in their grey level and a 10 ms click at 0.5 s, 1.5 s, ... (H.264
# and PCM in Matroska, so no encoder delay sits between the two), played
# through by the preview with the real sound device; the driver notes when
# each frame is painted and records the sink's monitor. Prints the driver's JSON line: offsets in ms, positive when
# the sound came after the picture.
#
# usage: bench/av_sync_bench.sh [SIZE]   (default 1280x720)
# The build is build/ or $BUILD_DIR (ninja -C BUILD preview_driver install_manifest_file).
set -euo pipefail
size="${1:-1280x720}"
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build}"
driver="$build/bench/preview_driver"
[[ -x "$driver" ]] || { echo "build $driver first" >&2; exit 1; }
command -v pulseaudio >/dev/null && command -v parec >/dev/null ||
    { echo "needs pulseaudio and parec (pulseaudio-utils)" >&2; exit 1; }
source bench/preview_common.sh
unset REELPAGE_AUDIO_SINK

ffmpeg -nostdin -v error -y \
    -f lavfi -i "color=c=black:s=$size:r=30:d=20,format=yuv420p,geq=lum='16+4*mod(N\,50)':cb=128:cr=128" \
    -f lavfi -i "aevalsrc='if(lt(mod(t+0.5\,1)\,0.01)\,0.8*sin(2*PI*1000*t)\,0)':s=48000:d=20" \
    -c:v libx264 -preset veryfast -g 30 -pix_fmt yuv420p -c:a pcm_s16le "$work/flash.mkv"
ffmpeg -nostdin -v error -y -f lavfi -i "color=c=white:s=160x90" -frames:v 1 "$work/mark.png"

# The server lives in the private runtime folder and ends with the script.
pulseaudio --daemonize=no --exit-idle-time=-1 -n \
    --load="module-native-protocol-unix" \
    --load="module-null-sink sink_name=bench rate=48000" \
    --load="module-always-sink" >"$work/pulse.log" 2>&1 &
server=$!
trap 'kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
pactl set-default-sink bench

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
"$driver" "$work/flash.mkv" "$work/mark.png" --av-sync bench.monitor
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
