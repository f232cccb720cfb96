#!/usr/bin/env bash
# Encodes a 720p30 clip with sound (20 s unless SECONDS says otherwise, SIZE
# for another picture size) to WebM, MP4 and Ogg twice, in the same run:
# through reelpage-cli (import, encode, publish), and through one ffmpeg
# process with the same encoder settings. Prints both wall times, their
# ratio, what each of our encoders took, each output's SSIM against the
# source, and the peak memory of each (summed PSS of every process).
#
#   bench/encode_bench.sh [BUILD_DIR] [ROUNDS] [SECONDS] [SIZE] [WEBM_CODECS]
#
# SIZE is WxH; it and WEBM_CODECS may come in either order. With WEBM_CODECS
# (vp9, av1 or vp9,av1) every round also runs reelpage-cli with
# --webm-codec vp8 and with each of them, and the script prints each job's
# time against the VP8 job's and its WebM file's bytes and SSIM against the
# VP8 WebM file's.
#
# Rounds alternate between the two so that a busy machine hurts both alike;
# the median of each is compared. ROUNDS 0 measures the memory only.
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/encode_common.sh "$@"
size=1280x720 webm_codecs=
for a in "${@:4}"; do
  if [[ $a =~ ^[0-9]+x[0-9]+$ ]]; then size=$a; else webm_codecs=$a; fi
done
make_source "${3:-20}" "$size"

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

# The WebM codecs to compare with VP8 (vp9, av1 or both, comma-separated).
IFS=, read -r -a codecs <<<"$webm_codecs"
if [ "${#codecs[@]}" -gt 0 ]; then
  # Rounds of the VP8 job and each other codec's job, alternating, before
  # the comparison with ffmpeg, so that all meet the same machine.
  declare -A walls cpus
  for i in $(seq 1 "$rounds"); do
    for c in vp8 "${codecs[@]}"; do
      r=$(ours "$c-$i" --webm-codec "$c")
      walls[$c]+="${r% *} " cpus[$c]+="${r#* } "
      echo "round $i: $c job ${r% *} s (cpu ${r#* } s)" >&2
    done
  done
fi

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
# The floor: ffmpeg writing only the Ogg output's video, with the settings
# above. Theora is the slowest encoder and one libtheora state runs on one
# core, so no job that writes this Ogg output finishes faster than this.
floors=()
for i in $(seq 1 "$rounds"); do
  floors+=("$(timed ffmpeg -nostdin -v error -y -i "$src" -map 0:v -c:v libtheora -b:v "$rate" \
    -threads 1 "$work/theora-alone.ogv")")
done
f=$(printf '%s\n' "${floors[@]%% *}" | median)
printf 'ffmpeg writing the Ogg video alone (median of %d): %.2f s, %.3f of the ffmpeg command\n' \
  "$rounds" "$f" "$(awk -v a="$f" -v b="$t" 'BEGIN { print a / b }')"
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

if [ "${#codecs[@]}" -gt 0 ]; then
  echo
  # One codec's figures: its first round's WebM file (bytes, SSIM) and the
  # medians of its job's wall and CPU times.
  figures() {
    local webm
    webm=$(find "$work/ours-$1-1" -name video.webm | head -1)
    bytes=$(stat -c %s "$webm")
    s=$(ssim "$webm")
    wall=$(tr ' ' '\n' <<<"${walls[$1]}" | grep . | median)
    cpu=$(tr ' ' '\n' <<<"${cpus[$1]}" | grep . | median)
  }
  figures vp8
  vp8_bytes=$bytes vp8_ssim=$s vp8_wall=$wall vp8_cpu=$cpu
  printf 'vp8: job %.2f s wall, %.2f s cpu (medians); WebM %d bytes, SSIM %s\n' \
    "$vp8_wall" "$vp8_cpu" "$vp8_bytes" "$vp8_ssim"
  for c in "${codecs[@]}"; do
    figures "$c"
    printf '%s: job %.2f s wall (x%.3f of vp8), %.2f s cpu (x%.3f); WebM %d bytes (x%.3f), SSIM %s (%+.4f)\n' \
      "$c" "$wall" "$(awk -v a="$wall" -v b="$vp8_wall" 'BEGIN { print a / b }')" \
      "$cpu" "$(awk -v a="$cpu" -v b="$vp8_cpu" 'BEGIN { print a / b }')" \
      "$bytes" "$(awk -v a="$bytes" -v b="$vp8_bytes" 'BEGIN { print a / b }')" \
      "$s" "$(awk -v a="$s" -v b="$vp8_ssim" 'BEGIN { print a - b }')"
  done
fi
