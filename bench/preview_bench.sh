#!/usr/bin/env bash
# Preview benchmark: plays FILE in the preview as the program shows it
# (1280x720 letterbox, brightness/contrast and a watermark; with --effects
# every picture effect at a middle setting too), offscreen with the paced
# sound sink, for 60 s or the file's length, then seeks 20 times while paused
# and measures the idle load. Prints one JSON line:
#   presented       share of the frames due while playing that were presented
#   av_p95_ms       |frame time - clock| at presentation, 95th percentile
#   av_max_ms       the same, largest
#   seek_p95_ms     paused seek until the target's frame is presented
#   first_frame_ms  from CreateProject to the first picture
#   replay_ms       Play at the end (clip start S, default 3 s; Play MS after
#                   the end, default 500; played from L s before the end,
#                   default 2, -1: from the clip start) until the clip
#                   start's frame is presented
#   idle_cpu_pct    the program and its helper, paused, over 10 s
# and, on stderr, ffmpeg's seek of one frame at the same 20 positions
# (ffmpeg -ss T -i FILE -frames:v 1 -f null -) for comparison.
#
# and the load average before and after the run.
#
# usage: bench/preview_bench.sh FILE [--effects] [--original] [--seconds N] [--clip-start S] [--replay-pause MS] [--replay-lead L]
# (--original: the source's own size in place of 1280x720)
# The build is build/ or $BUILD_DIR (ninja -C BUILD preview_driver install_manifest_file).
set -euo pipefail
[[ $# -ge 1 ]] || { echo "usage: $0 FILE [--effects] [--original] [--seconds N] [--clip-start S] [--replay-pause MS] [--replay-lead L]" >&2; exit 2; }
file="$(realpath "$1")"; shift
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build}"
driver="$build/bench/preview_driver"
[[ -x "$driver" ]] || { echo "build $driver first" >&2; exit 1; }

source bench/preview_common.sh
export REELPAGE_AUDIO_SINK=paced

ffmpeg -nostdin -v error -y -f lavfi -i "color=c=white@0.8:s=160x90,format=rgba,drawbox=x=10:y=10:w=140:h=70:color=red@0.6:t=fill" \
    -frames:v 1 "$work/mark.png"

# ffmpeg's seek of one frame at the positions the driver seeks to.
length=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$file")
last=$(awk -v d="$length" 'BEGIN { s = int(d) - 1; print (s > 0 ? s : 0) }')
times=()
for i in $(seq 0 19); do
    t=$(( last > 0 ? (i * 7 + 3) % (last + 1) : 0 ))
    start=$(date +%s%N)
    ffmpeg -nostdin -v error -ss "$t" -i "$file" -frames:v 1 -f null -
    end=$(date +%s%N)
    times+=("$(( (end - start) / 1000000 ))")
done
printf '%s\n' "${times[@]}" | sort -n | awk '{ a[NR] = $1 }
    END { i = int(NR * 0.95 + 0.999); printf "ffmpeg seek of one frame: p95 %d ms, median %d ms, max %d ms\n", a[i], a[int((NR + 1) / 2)], a[NR] }' >&2

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
"$driver" "$file" "$work/mark.png" "$@"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
