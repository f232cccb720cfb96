#!/usr/bin/env bash
# The soak's growth check must catch a leak: three jobs, each leaving a
# descriptor and 2 MiB behind (REELPAGE_SOAK_LEAK), must fail with both named.
#   leak_test.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
out=$(REELPAGE_SOAK_LEAK=1 "$1/bench/soak.sh" "$2" 3 2>&1)
rc=$?
echo "$out"
fail() { echo "FAIL: $*"; exit 1; }
[ "$rc" -eq 1 ] || fail "the soak ended with $rc, not 1 (something grew)"
grep -q '^GREW: descriptors' <<<"$out" || fail "the leaked descriptors were not caught"
grep -q '^GREW: resident memory' <<<"$out" || fail "the leaked memory was not caught"
echo "the growth check caught both leaks"
