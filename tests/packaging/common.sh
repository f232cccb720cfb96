# shellcheck shell=bash
# Shared by the packaging tests: a private home, and the installed program
# started offscreen up to the point where it has passed the installation check.
set -euo pipefail

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# A temporary folder holding HOME and the XDG folders, removed at exit.
make_home() {
    work=$(mktemp -d /tmp/reelpage-packaging-XXXXXX)
    program_pid=""
    trap 'if [ -n "$program_pid" ]; then kill "$program_pid" 2>/dev/null || true; wait "$program_pid" 2>/dev/null || true; fi; rm -rf "$work"' EXIT
    export HOME="$work/home"
    export XDG_CONFIG_HOME="$HOME/.config" XDG_DATA_HOME="$HOME/.local/share"
    export XDG_CACHE_HOME="$HOME/.cache" XDG_RUNTIME_DIR="$HOME/run"
    mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
}

# reelpage-cli of an installed tree: the sample becomes a package, and a
# damaged installation is refused.
check_cli() {
    local cli=$1 sample=$2
    "$cli" --version | grep -q '^reelpage-cli ' || fail "$cli --version"
    mkdir -p "$work/out"
    local page
    page=$("$cli" -q --formats webm --size 320x240 --output "$work/out" "$sample") ||
        fail "$cli did not make the package"
    [ -s "$page" ] || fail "no page at '$page'"
    [ -s "$(dirname "$page")/video.webm" ] || fail "no video.webm beside $page"
    # The helpers were forked by the installed helper host, not started on
    # their own after it failed.
    local log="$HOME/Documents/Log Files/reelpage.log"
    [ -s "$log" ] || fail "no log at $log"
    ! grep -aq "helper host" "$log" || fail "the helper host did not serve the job"
}

# Starts the installed program on a video and waits until it has imported
# it: it is past the installation check and its helpers and plug-ins work
# from the installed folder.
check_program() {
    local program=$1 video=$2
    local log="$HOME/Documents/Log Files/reelpage.log"
    QT_QPA_PLATFORM=offscreen "$program" "$video" >"$work/program.out" 2>&1 &
    program_pid=$!
    for _ in $(seq 240); do
        if [ -f "$log" ] && grep -aq "asked from outside the program: imported" "$log"; then
            break
        fi
        grep -aq "Error shown" "$log" 2>/dev/null && break
        kill -0 "$program_pid" 2>/dev/null || break
        sleep 0.25
    done
    grep -aq "asked from outside the program: imported" "$log" 2>/dev/null ||
        fail "the installed program did not import $video: $(cat "$log" "$work/program.out" 2>/dev/null)"
    kill "$program_pid"
    wait "$program_pid" 2>/dev/null || true
    program_pid=""
}
