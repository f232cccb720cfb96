#!/usr/bin/env bash
# Import benchmark: the engine's import of a 60-second 1080p H.264/AAC file
# and of a 10-second 640x360 clip (thumbnail plus the whole sound track as
# PCM) against
#   ffmpeg -i FILE -vn -f wav OUT.wav
# on the same machine in the same run. Each round runs both, in alternating
# order; the medians are compared. Both are timed as whole commands, start-up
# included (the driver's start with the installation check, the helper's
# start); the driver's own figure from OpenMedia to the result is shown too.
#
# usage: bench/import_bench.sh [BUILD_DIR] [ROUNDS]
# Needs the build's bench/import_driver (ninja -C BUILD_DIR import_driver).
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
rounds="${2:-7}"
driver="$build/bench/import_driver"
[[ -x "$driver" ]] || { echo "build $driver first" >&2; exit 1; }

cache="${REELPAGE_BENCH_CACHE:-$build/bench/media}"
mkdir -p "$cache"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# camera: a keyframe every second, as phones and cameras record.
# x264-defaults: what ffmpeg writes by default (a keyframe at most every
# 250 frames), where the frame at 3 s depends on every reference frame before it.
make_media() {
    local name="$1" size="$2" seconds="$3"; shift 3
    local file="$cache/$name.mp4"
    if [[ ! -s "$file" ]]; then
        echo "making $file" >&2
        ffmpeg -nostdin -v error -y \
            -f lavfi -i testsrc2=size=$size:rate=30:duration=$seconds \
            -f lavfi -i sine=frequency=440:sample_rate=48000:duration=$seconds \
            -ac 2 -c:v libx264 -pix_fmt yuv420p "$@" -c:a aac -b:a 128k "$file"
    fi
    echo "$file"
}

now() { date +%s.%N; }

time_ffmpeg() {
    local start end
    start=$(now)
    ffmpeg -nostdin -v error -y -i "$1" -vn -f wav "$work/out.wav"
    end=$(now)
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f\n", b - a }'
}

# A fresh home per import, so that the file is never answered from the
# history. The cache folder stays, as a user's does between starts: only the
# first start after installing reads every installed file.
time_import() {
    local home start end inner
    home="$(mktemp -d "$work/home.XXXXXX")"
    start=$(now)
    inner=$(HOME="$home" XDG_DATA_HOME="$home/.local/share" XDG_CONFIG_HOME="$home/.config" \
        XDG_CACHE_HOME="$work/cache" XDG_RUNTIME_DIR="$home" "$driver" "$1")
    end=$(now)
    rm -rf "$home"
    awk -v a="$start" -v b="$end" -v i="$inner" 'BEGIN { printf "%.3f %s\n", b - a, i }'
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

run() {
    local label="$1" file="$2"
    local imports=() ffmpegs=()
    # One untimed round of each warms the page cache.
    time_ffmpeg "$file" > /dev/null
    time_import "$file" > /dev/null
    for ((i = 0; i < rounds; i++)); do
        if ((i % 2)); then
            ffmpegs+=("$(time_ffmpeg "$file")")
            imports+=("$(time_import "$file")")
        else
            imports+=("$(time_import "$file")")
            ffmpegs+=("$(time_ffmpeg "$file")")
        fi
    done
    local mi mo mf
    mi=$(printf '%s\n' "${imports[@]}" | cut -d' ' -f1 | median)
    mo=$(printf '%s\n' "${imports[@]}" | cut -d' ' -f2 | median)
    mf=$(printf '%s\n' "${ffmpegs[@]}" | median)
    printf '%-14s import %.3f s (OpenMedia to result %.3f s)   ffmpeg -vn wav %.3f s   ratio %.2f\n' \
        "$label" "$mi" "$mo" "$mf" "$(awk -v a="$mi" -v b="$mf" 'BEGIN { print a / b }')"
    printf '               imports: %s\n               ffmpeg:  %s\n' \
        "$(printf '%s\n' "${imports[@]}" | cut -d' ' -f1 | tr '\n' ' ')" "${ffmpegs[*]}"
}

camera=$(make_media camera 1920x1080 60 -preset veryfast -g 30)
defaults=$(make_media x264-defaults 1920x1080 60 -preset veryfast)
short=$(make_media short-640x360 640x360 10 -preset veryfast)
echo "$(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg), $rounds rounds"
run camera "$camera"
run x264-defaults "$defaults"
run short-clip "$short"
echo "load at the end $(cut -d' ' -f1-3 /proc/loadavg)"
