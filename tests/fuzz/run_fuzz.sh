#!/usr/bin/env bash
# Runs one fuzz target for a bounded time: TARGET SEEDS WORK SECONDS.
# New inputs go to WORK/corpus (the seeds in the repository stay as they are),
# a crashing input to WORK/ beside the target's report; a fault fails the run.
set -euo pipefail
target=$1 seeds=$2 work=$3 seconds=$4
mkdir -p "$work/corpus"
# The target's HOME and XDG folders, so that it never touches the user's own.
home=$(mktemp -d "${TMPDIR:-/tmp}/reelpage-fuzz-XXXXXX")
trap 'rm -rf "$home"' EXIT
# Each input gets 30 s and 2 GB: a hung or growing one is a fault. (A loaded
# machine makes a 2 s picture take over 10 s.)
rc=0
REELPAGE_FUZZ_HOME=$home "$target" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$work/" "$work/corpus" "$seeds" || rc=$?
exit "$rc"
