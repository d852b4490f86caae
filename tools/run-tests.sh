#!/usr/bin/env bash
# Runs every test of the project: installs what is missing, builds natively
# (sanitizers) and for Windows, runs the native tests, a bounded fuzz run and
# the Windows tests under Wine. Prints each stage's time and one summary line.
set -uo pipefail
cd "$(dirname "$0")/.."
FUZZ_SECONDS=${FUZZ_SECONDS:-60}
log=$(mktemp -d)
status=0

stage() {  # stage NAME COMMAND...
    local name=$1; shift
    local t0=$SECONDS
    echo "=== $name"
    "$@" 2>&1 | tee "$log/$name.log"
    local rc=${PIPESTATUS[0]}
    echo "=== $name: $((SECONDS - t0)) s, exit $rc"
    [ "$rc" = 0 ] || status=1
    return 0
}

stage deps bash tools/install-deps.sh all
stage native bash tools/test-native.sh
stage fuzz bash tools/run-fuzz.sh "$FUZZ_SECONDS"
# Wine's window timing on a loaded machine can make a UI test miss a beat: a
# failing Windows test is run once more, and fails the run if it fails again.
stage windows bash tools/test-windows.sh build/win --repeat until-pass:2

# Sum the ctest results of both builds into one closing line.
passed=0; failed=0
for f in "$log"/native.log "$log"/windows.log; do
    line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$f" | tail -n 1)
    [ -n "$line" ] || { status=1; echo "no test summary in $(basename "$f")"; continue; }
    total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
    bad=$(sed -E 's/.*tests passed, ([0-9]+) tests? failed.*/\1/' <<<"$line")
    passed=$((passed + total - bad)); failed=$((failed + bad))
done
grep -q 'fuzz: clean' "$log/fuzz.log" && passed=$((passed + 1)) || failed=$((failed + 1))
[ "$failed" = 0 ] || status=1
echo "$passed passed, $failed failed"
exit $status
