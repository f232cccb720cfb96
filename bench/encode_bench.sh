#!/usr/bin/env bash
# Encodes a 720p30 clip with sound (20 s unless SECONDS says otherwise, SIZE
# for another picture size) to WebM, MP4 and Ogg twice, in the same run:
# through reelpage-cli (import, encode, publish), and through one ffmpeg
# process with the same encoder settings. Prints both wall times, their
# ratio, what each of our encoders took, each output's SSIM against the
# source, and the peak memory of each (summed PSS of every process).
#
#   bench/encode_bench.sh [BUILD_DIR] [ROUNDS] [SECONDS] [SIZE]
#
# Rounds alternate between the two so that a busy machine hurts both alike;
# the median of each is compared. ROUNDS 0 measures the memory only.
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/encode_common.sh "$@"
make_source "${3:-20}" "${4:-1280x720}"

# The settings the encoder helper uses (helpers/enc/CodecSettings.cpp): one
# thread per encoder, as there. With "default" ffmpeg keeps its own choice of
# threads instead (several per encoder), for reference.
theirs() {
  local out="$work/ffmpeg-$1" threads=(-threads 1)
  [ "${2:-}" = default ] && threads=()
  mkdir -p "$out"
  "${measure:-timed}" ffmpeg -nostdin -v error -y -i "$src" \
    -map 0:v -map 0:a -c:v libvpx -deadline realtime -cpu-used -8 -b:v "$rate" "${threads[@]}" \
      -c:a libvorbis -b:a 128k -avoid_negative_ts make_zero "$out/video.webm" \
    -map 0:v -map 0:a -c:v libx264 -preset veryfast -b:v "$rate" "${threads[@]}" \
      -c:a aac -b:a 128k -movflags +faststart "$out/video.mp4" \
    -map 0:v -map 0:a -c:v libtheora -b:v "$rate" "${threads[@]}" \
      -c:a flac -sample_fmt s16 -avoid_negative_ts make_zero "$out/video.ogv"
}

# Memory in a round of its own, as sampling costs some CPU: the peak of the
# summed PSS over the process tree, and what each process held then.
memory() {
  local ours_kb theirs_kb
  ours_kb=$(measure=pss_peak ours memory)
  theirs_kb=$(measure=pss_peak theirs memory)
  printf 'peak PSS: reelpage-cli %d MB, ffmpeg %d MB, ratio %.3f\n' "$((${ours_kb%% *} / 1024))" \
    "$((${theirs_kb%% *} / 1024))" "$(awk -v a="${ours_kb%% *}" -v b="${theirs_kb%% *}" 'BEGIN { print a / b }')"
  echo "  reelpage-cli at its peak (kB): ${ours_kb#* }" | sed 's/ | /\n  each process at its own peak (kB): /'
  echo "  ffmpeg (kB): ${theirs_kb#* }" | sed 's/ |.*//'
}

if [ "$rounds" -eq 0 ]; then
  memory
  exit 0
fi
run_rounds
memory
reference=$(theirs reference default)

ssim() {
  ffmpeg -nostdin -i "$1" -i "$src" -lavfi "[0:v][1:v]ssim" -f null - 2>&1 |
    sed -n 's/.*All:\([0-9.]*\).*/\1/p' | tail -1
}

printf 'ffmpeg with its own thread choice (once): %s s wall, %s s cpu\n' "${reference% *}" "${reference#* }"
printf 'machine: %s cores, load average %s\n' "$(nproc)" "$(cut -d' ' -f1-3 /proc/loadavg)"
# Each encoder's own account of the last round (time, CPU, time spent waiting):
# the one that seldom waited set the pace.
find "$HOME" -name reelpage.log -exec grep -h 'Wrote .*CPU' {} + | tail -3 | sed 's/^ *//'
printf '%-6s %-14s %-10s %-10s\n' file "SSIM ours" "SSIM ffmpeg" difference
for f in webm mp4 ogv; do
  ours_file=$(find "$work/ours-1" -name "video.$f" | head -1)
  a=$(ssim "$ours_file")
  b=$(ssim "$work/ffmpeg-1/video.$f")
  printf '%-6s %-14s %-10s %+.4f\n' "$f" "$a" "$b" "$(awk -v a="$a" -v b="$b" 'BEGIN { print a - b }')"
done
