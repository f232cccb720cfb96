#!/usr/bin/env bash
# Encodes a 10 s 720p30 clip with sound to WebM, MP4 and Ogg with every
# picture effect on at a middle setting, in the same run: through
# reelpage-cli (import, encode, publish), and through one ffmpeg process that
# runs the matching ffmpeg filters once and feeds the same three encoders.
# Prints both wall times and their ratio.
#
#   bench/effects_bench.sh [BUILD_DIR] [ROUNDS]
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/encode_common.sh "$@"
make_source 10

# Every effect at a middle setting.
effects=(--brightness 10 --contrast 10
  --effect hue=30 --effect saturation=20 --effect lightness=10
  --effect blur=4 --effect expand-edge=1 --effect sharpen-radius=6 --effect sharpen-amount=15
  --effect tint-hue=40 --effect tint-amount=20
  --effect cyan-red=20 --effect magenta-green=-10 --effect yellow-blue=15
  --effect levels-highlight=10 --effect levels-midtone=20 --effect levels-shadow=10
  --effect exposure=20 --effect density=20
  --effect white-saturation=30 --effect black-saturation=20)
# The same kinds of work with ffmpeg's own filters, run once for all three
# outputs: brightness/contrast, levels, exposure, density as a curve,
# white/black points, colour balance, hue/saturation/lightness, tint, blur,
# sharpen.
chain="eq=brightness=0.04:contrast=1.1,colorlevels=rimin=0.1:gimin=0.1:bimin=0.1:rimax=0.9:gimax=0.9:bimax=0.9,"
chain+="format=gbrpf32,exposure=exposure=0.4,format=gbrp,lutrgb=r='255*pow(val/255,1.15)':g='255*pow(val/255,1.15)':b='255*pow(val/255,1.15)',"
chain+="colorlevels=rimin=0.08:gimin=0.08:bimin=0.08:rimax=0.88:gimax=0.88:bimax=0.88,"
chain+="colorbalance=rm=0.1:gm=-0.05:bm=0.075,hue=h=30:s=1.4:b=0.5,colorize=hue=80:saturation=0.5:mix=0.2,"
chain+="gblur=sigma=1.33:steps=4,unsharp=lx=5:ly=5:la=1.5,format=yuv420p,split=3[a][b][c]"

theirs() {
  local out="$work/ffmpeg-$1" threads=(-threads 1)
  mkdir -p "$out"
  timed ffmpeg -nostdin -v error -y -i "$src" -filter_complex "[0:v]$chain" \
    -map "[a]" -map 0:a -c:v libvpx -deadline realtime -cpu-used -8 -b:v "$rate" "${threads[@]}" \
      -c:a libvorbis -b:a 128k -avoid_negative_ts make_zero "$out/video.webm" \
    -map "[b]" -map 0:a -c:v libx264 -preset veryfast -b:v "$rate" "${threads[@]}" \
      -c:a aac -b:a 128k -movflags +faststart "$out/video.mp4" \
    -map "[c]" -map 0:a -c:v libtheora -b:v "$rate" "${threads[@]}" \
      -c:a flac -sample_fmt s16 -avoid_negative_ts make_zero "$out/video.ogv"
}

run_rounds "${effects[@]}"
printf 'machine: %s cores, load average %s\n' "$(nproc)" "$(cut -d' ' -f1-3 /proc/loadavg)"
