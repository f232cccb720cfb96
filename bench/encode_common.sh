# What the encoding benchmarks share (sourced by encode_bench.sh and
# effects_bench.sh, from the source tree's top): the build's command-line
# front end under a private home, a 720p30 source with sound, timing, and
# rounds that alternate between reelpage-cli and ffmpeg so that a busy
# machine hurts both alike. The sourcing script defines theirs ROUND [default],
# the ffmpeg command it compares with.
#
#   usage in a script: . bench/encode_common.sh "$@"; make_source SECONDS

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

# A moving test picture with film grain, so that the encoders have real
# work, and a tone; sets rate to its video bit rate.
make_source() {
  local seconds="$1"
  ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=s=1280x720:r=30:d=$seconds,noise=alls=6:allf=t" \
    -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=$seconds" -ac 2 \
    -c:v libx264 -preset veryfast -crf 23 -pix_fmt yuv420p -c:a aac -b:a 128k "$src"
  rate=$(ffprobe -v error -select_streams v:0 -show_entries stream=bit_rate -of csv=p=0 "$src")
  echo "source: 1280x720 30 fps, $seconds s, video $((rate / 1000)) kbit/s" >&2
}

# Runs a command; prints "wall cpu" seconds (cpu = user + system of it and
# every process it started).
timed() {
  local TIMEFORMAT='%R %U %S' t
  t=$( { time "$@" >/dev/null 2>"$work/stderr"; } 2>&1 ) || { cat "$work/stderr" >&2; exit 1; }
  awk '{ printf "%.2f %.2f\n", $1, $2 + $3 }' <<<"$t"
}

# reelpage-cli to the three formats at the source's size, with any further
# options; every run imports the file afresh, as a user's first run would.
ours() {
  local out="$work/ours-$1"
  shift
  mkdir -p "$out"
  rm -rf "$XDG_DATA_HOME/Zelmorix" "$XDG_CONFIG_HOME/Zelmorix"
  timed "$cli" -q --output "$out" --size source --formats webm,mp4,ogg "$@" "$src"
}

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

# ROUNDS rounds of ours (with the options given) and theirs; prints each
# round, then the median wall and CPU times and their ratio. Leaves the
# medians in o, t (wall) and oc, tc (CPU).
run_rounds() {
  local ours_runs=() theirs_runs=() i
  for i in $(seq 1 "$rounds"); do
    ours_runs+=("$(ours "$i" "$@")")
    theirs_runs+=("$(theirs "$i")")
    echo "round $i: reelpage-cli ${ours_runs[-1]% *} s (cpu ${ours_runs[-1]#* } s)," \
         "ffmpeg ${theirs_runs[-1]% *} s (cpu ${theirs_runs[-1]#* } s)" >&2
  done
  o=$(printf '%s\n' "${ours_runs[@]%% *}" | median)
  t=$(printf '%s\n' "${theirs_runs[@]%% *}" | median)
  oc=$(printf '%s\n' "${ours_runs[@]##* }" | median)
  tc=$(printf '%s\n' "${theirs_runs[@]##* }" | median)
  echo
  printf 'wall time (median of %d): reelpage-cli %.2f s, ffmpeg %.2f s, ratio %.3f\n' \
    "$rounds" "$o" "$t" "$(awk -v a="$o" -v b="$t" 'BEGIN { print a / b }')"
  printf 'cpu time (median): reelpage-cli %.2f s, ffmpeg %.2f s\n' "$oc" "$tc"
}
