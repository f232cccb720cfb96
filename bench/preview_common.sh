# Sourced by the preview benchmarks from the top of the repository: a private
# home in $work (removed at exit) and the offscreen platform.
work="$(mktemp -d /tmp/reelpage-preview-bench-XXXXXX)"
trap 'rm -rf "$work"' EXIT
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share"
export XDG_CACHE_HOME="$work/home/.cache" XDG_RUNTIME_DIR="$work/home/run"
export REELPAGE_MACHINE_REGISTRY="$work/home/machine"
mkdir -p "$XDG_RUNTIME_DIR" "$REELPAGE_MACHINE_REGISTRY"
chmod 700 "$XDG_RUNTIME_DIR"
export QT_QPA_PLATFORM=offscreen
