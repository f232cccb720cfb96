#!/usr/bin/env bash
# Encodes a 20 s 720p30 clip with sound to WebM, MP4 and Ogg twice, in the
# same run: through reelpage-cli (import, encode, publish), and through one
# ffmpeg process with the same encoder settings. Prints both wall times, their
# ratio, and each output's SSIM against the source.
#
#   bench/encode_bench.sh [BUILD_DIR] [ROUNDS]
#
# Rounds alternate between the two so that a busy machine hurts both alike;
# the median of each is compared.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
rounds="${2:-3}"
cli="$PWD/$build/bin/reelpage-cli"
[ -x "$cli" ] || { echo "build first: $cli is missing" >&2; exit 1; }

work=$(mktemp -d /tmp/reelpage-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
# reelpage-cli keeps its history, settings and log under HOME: a private one.
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share"
export XDG_RUNTIME_DIR="$work/home/run" REELPAGE_MACHINE_REGISTRY="$work/home/machine"
mkdir -p "$XDG_RUNTIME_DIR" "$REELPAGE_MACHINE_REGISTRY"

src="$work/source.mp4"
# A moving test picture with film grain, so that the encoders have real work.
ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=s=1280x720:r=30:d=20,noise=alls=6:allf=t" \
  -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=20" -ac 2 \
  -c:v libx264 -preset veryfast -crf 23 -pix_fmt yuv420p -c:a aac -b:a 128k "$src"
rate=$(ffprobe -v error -select_streams v:0 -show_entries stream=bit_rate -of csv=p=0 "$src")
echo "source: 1280x720 30 fps, 20 s, video $((rate / 1000)) kbit/s" >&2

# Runs a command; prints "wall cpu" seconds (cpu = user + system of it and
# every process it started).
timed() {
  local TIMEFORMAT='%R %U %S' t
  t=$( { time "$@" >/dev/null 2>"$work/stderr"; } 2>&1 ) || { cat "$work/stderr" >&2; exit 1; }
  awk '{ printf "%.2f %.2f\n", $1, $2 + $3 }' <<<"$t"
}

ours() {
  local out="$work/ours-$1"
  mkdir -p "$out"
  # Every run imports the file afresh, as a user's first run would.
  rm -rf "$XDG_DATA_HOME/Zelmorix" "$XDG_CONFIG_HOME/Zelmorix"
  timed "$cli" -q --output "$out" --size source --formats webm,mp4,ogg "$src"
}

# The settings the encoder helper uses (helpers/enc/CodecSettings.cpp): one
# thread per encoder, as there. With "default" ffmpeg keeps its own choice of
# threads instead (several per encoder), for reference.
theirs() {
  local out="$work/ffmpeg-$1" threads=(-threads 1)
  [ "${2:-}" = default ] && threads=()
  mkdir -p "$out"
  timed ffmpeg -nostdin -v error -y -i "$src" \
    -map 0:v -map 0:a -c:v libvpx -deadline realtime -cpu-used -8 -b:v "$rate" "${threads[@]}" \
      -c:a libvorbis -b:a 128k -avoid_negative_ts make_zero "$out/video.webm" \
    -map 0:v -map 0:a -c:v libx264 -preset veryfast -b:v "$rate" "${threads[@]}" \
      -c:a aac -b:a 128k -movflags +faststart "$out/video.mp4" \
    -map 0:v -map 0:a -c:v libtheora -b:v "$rate" "${threads[@]}" \
      -c:a flac -sample_fmt s16 -avoid_negative_ts make_zero "$out/video.ogv"
}

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

ours_runs=() theirs_runs=()
for i in $(seq 1 "$rounds"); do
  ours_runs+=("$(ours "$i")")
  theirs_runs+=("$(theirs "$i")")
  echo "round $i: reelpage-cli ${ours_runs[-1]% *} s (cpu ${ours_runs[-1]#* } s)," \
       "ffmpeg ${theirs_runs[-1]% *} s (cpu ${theirs_runs[-1]#* } s)" >&2
done
o=$(printf '%s\n' "${ours_runs[@]%% *}" | median)
t=$(printf '%s\n' "${theirs_runs[@]%% *}" | median)
oc=$(printf '%s\n' "${ours_runs[@]##* }" | median)
tc=$(printf '%s\n' "${theirs_runs[@]##* }" | median)
reference=$(theirs reference default)

ssim() {
  ffmpeg -nostdin -i "$1" -i "$src" -lavfi "[0:v][1:v]ssim" -f null - 2>&1 |
    sed -n 's/.*All:\([0-9.]*\).*/\1/p' | tail -1
}

echo
printf 'wall time (median of %d): reelpage-cli %.2f s, ffmpeg %.2f s, ratio %.3f\n' \
  "$rounds" "$o" "$t" "$(awk -v a="$o" -v b="$t" 'BEGIN { print a / b }')"
printf 'cpu time (median): reelpage-cli %.2f s, ffmpeg %.2f s\n' "$oc" "$tc"
printf 'ffmpeg with its own thread choice (once): %s s wall, %s s cpu\n' "${reference% *}" "${reference#* }"
printf 'machine: %s cores, load average %s\n' "$(nproc)" "$(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-6s %-14s %-10s %-10s\n' file "SSIM ours" "SSIM ffmpeg" difference
for f in webm mp4 ogv; do
  ours_file=$(find "$work/ours-1" -name "video.$f" | head -1)
  a=$(ssim "$ours_file")
  b=$(ssim "$work/ffmpeg-1/video.$f")
  printf '%-6s %-14s %-10s %+.4f\n' "$f" "$a" "$b" "$(awk -v a="$a" -v b="$b" 'BEGIN { print a - b }')"
done
