#!/usr/bin/env bash
# Eight 10 s clips made into packages (WebM, MP4 and Ogg at the source size)
# three ways, in the same run: eight separate reelpage-cli runs one after the
# other, one reelpage-cli run on the folder with --jobs 1, and one with
# --jobs 2. Prints each round, the median wall and CPU times, and their
# ratios to the separate runs.
#
#   bench/batch_bench.sh [BUILD_DIR] [ROUNDS] [SIZE]
#
# SIZE is the clips' picture size (default 640x360). The order of the three
# ways turns from round to round, so that a busy machine hurts each alike;
# every way starts from an empty history, so every clip is imported.
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/encode_common.sh "${1:-build}" "${2:-3}"
size="${3:-640x360}"

clips="$work/clips"
mkdir -p "$clips"
for i in $(seq 1 8); do
  # A different start into the test picture and pitch for each clip.
  ffmpeg -nostdin -v error -y \
    -f lavfi -i "testsrc2=s=$size:r=30:d=$((10 + i)),trim=start=$i,setpts=PTS-STARTPTS,noise=alls=6:allf=t" \
    -f lavfi -i "sine=frequency=$((300 + 40 * i)):sample_rate=44100:duration=10" -ac 2 \
    -c:v libx264 -preset veryfast -crf 23 -pix_fmt yuv420p -c:a aac -b:a 128k -t 10 \
    "$clips/clip$i.mp4"
done
echo "clips: 8 x 10 s, $size 30 fps, H.264 + AAC stereo" >&2

options=(-q --size source --formats webm,mp4,ogg)

separate() {
  local clip
  for clip in "$clips"/*.mp4; do
    "$cli" "${options[@]}" --output "$1" "$clip"
  done
}
jobs1() { "$cli" "${options[@]}" --output "$1" --jobs 1 "$clips"; }
jobs2() { "$cli" "${options[@]}" --output "$1" --jobs 2 "$clips"; }

# One way into a fresh output folder and history; "wall cpu".
way() {
  local out="$work/out-$1-$2"
  mkdir -p "$out"
  rm -rf "$XDG_DATA_HOME/Zelmorix" "$XDG_CONFIG_HOME/Zelmorix"
  timed "$1" "$out"
  local made
  made=$(find "$out" -name index.html | wc -l)
  [ "$made" = 8 ] || { echo "$1: $made packages instead of 8" >&2; exit 1; }
}

ways=(separate jobs1 jobs2)
declare -A wall cpu
for r in $(seq 1 "$rounds"); do
  line="round $r:"
  for k in 0 1 2; do
    w=${ways[$(((r - 1 + k) % 3))]}
    result=$(way "$w" "$r")
    wall[$w]+="${result% *} "
    cpu[$w]+="${result#* } "
    line+=" $w ${result% *} s (cpu ${result#* } s)"
  done
  echo "$line" >&2
done

echo
printf 'machine: %s cores, load average %s\n' "$(nproc)" "$(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-9s %-12s %-12s %-11s %s\n' way "wall median" "cpu median" "wall ratio" "cpu ratio"
base_wall=$(tr ' ' '\n' <<<"${wall[separate]}" | grep . | median)
base_cpu=$(tr ' ' '\n' <<<"${cpu[separate]}" | grep . | median)
for w in "${ways[@]}"; do
  mw=$(tr ' ' '\n' <<<"${wall[$w]}" | grep . | median)
  mc=$(tr ' ' '\n' <<<"${cpu[$w]}" | grep . | median)
  printf '%-9s %-12s %-12s %-11.3f %.3f\n' "$w" "$mw s" "$mc s" \
    "$(awk -v a="$mw" -v b="$base_wall" 'BEGIN { print a / b }')" \
    "$(awk -v a="$mc" -v b="$base_cpu" 'BEGIN { print a / b }')"
done
