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
# work, and a tone; sets rate to its video bit rate. SIZE is 1280x720 unless
# given.
make_source() {
  local seconds="$1" size="${2:-1280x720}"
  ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=s=$size:r=30:d=$seconds,noise=alls=6:allf=t" \
    -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=$seconds" -ac 2 \
    -c:v libx264 -preset veryfast -crf 23 -pix_fmt yuv420p -c:a aac -b:a 128k "$src"
  rate=$(ffprobe -v error -select_streams v:0 -show_entries stream=bit_rate -of csv=p=0 "$src")
  echo "source: $size 30 fps, $seconds s, video $((rate / 1000)) kbit/s" >&2
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
  "${measure:-timed}" "$cli" -q --output "$out" --size source --formats webm,mp4,ogg "$@" "$src"
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

# Runs a command and samples the proportional set size (PSS: shared pages
# counted once over the processes that map them, so the shared frame slots
# and the libraries are not counted once per helper) of it and every process
# it started, every 100 ms, from /proc/PID/smaps_rollup. Prints the peak of the
# sum in kB, then that sample's share of each process ("name=kB", encoders
# numbered in the order they started), then each process's own peak.
pss_peak() {
  local samples="$work/pss-samples"
  : >"$samples"
  "$@" >/dev/null 2>"$work/stderr" &
  local root=$!
  local tree kids f i
  while kill -0 "$root" 2>/dev/null; do
    # The tree from each thread's list of the children it started: builtins
    # only, so that sampling costs little beside the job.
    tree=("$root") i=0
    while ((i < ${#tree[@]})); do
      for f in /proc/"${tree[i]}"/task/*/children; do
        # The list ends without a newline, so read reports an end of file.
        kids=()
        read -r -a kids <"$f" 2>/dev/null || true
        tree+=("${kids[@]}")
      done
      i=$((i + 1))
    done
    awk '
      BEGIN {
        total = 0; line = ""
        for (i = 1; i < ARGC; i++) {
          p = ARGV[i]; kb = ""; name = ""
          f = "/proc/" p "/smaps_rollup"
          while ((getline l < f) > 0) if (l ~ /^Pss:/) { split(l, a, " "); kb = a[2] }
          close(f)
          f = "/proc/" p "/comm"
          getline name < f
          close(f)
          if (kb == "" || name == "") continue
          total += kb; line = line " " p ":" name ":" kb
        }
        print total line
      }' "${tree[@]}" >>"$samples"
    sleep 0.1
  done
  wait "$root" || { cat "$work/stderr" >&2; exit 1; }
  awk '
    { for (i = 2; i <= NF; i++) {
        split($i, a, ":"); pid = a[1] + 0
        # A child shows the name of its parent until it runs its own program.
        if (!(pid in name)) pids[++np] = pid
        name[pid] = a[2]
        if (a[3] > own[pid]) own[pid] = a[3]
      }
      if ($1 > peak) { peak = $1; row = $0 } }
    END {
      # Labels by start order (pid order): the encoders as enc#1, enc#2, ...
      for (i = 1; i <= np; i++) for (j = i + 1; j <= np; j++)
        if (pids[j] < pids[i]) { t = pids[i]; pids[i] = pids[j]; pids[j] = t }
      for (i = 1; i <= np; i++) {
        n = ++count[name[pids[i]]]
        label[pids[i]] = name[pids[i]] (name[pids[i]] == "enc" || n > 1 ? "#" n : "")
      }
      printf "%d", peak
      n = split(row, f, " ")
      for (i = 2; i <= n; i++) { split(f[i], a, ":"); at[a[1] + 0] = a[3] }
      for (i = 1; i <= np; i++) if (pids[i] in at) printf " %s=%d", label[pids[i]], at[pids[i]]
      printf " |"
      for (i = 1; i <= np; i++) printf " %s=%d", label[pids[i]], own[pids[i]]
      printf "\n"
    }' "$samples"
}
