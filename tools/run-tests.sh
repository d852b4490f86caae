#!/usr/bin/env bash
# Runs every test of the project: installs what is missing, builds natively
# (sanitizers) and for Windows (i686 and x86-64), runs the native tests, a
# bounded fuzz run and the Windows tests of both architectures under Wine. Prints each stage's time and one summary line.
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
# Both architectures in one stage: build/win64 (x86-64), then build/win
# (i686, which also makes and tests the installer), under one Xvfb.
stage windows bash tools/test-windows.sh build/win64 build/win --repeat until-pass:2

# Sum the ctest results of every build (native, x86-64, i686) into one
# closing line; the Windows log holds one summary per build.
passed=0; failed=0
summaries() {
    grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log/native.log" | tail -n 1
    grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log/windows.log"
}
count=0
while read -r line; do
    count=$((count + 1))
    total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
    bad=$(sed -E 's/.*tests passed, ([0-9]+) tests? failed.*/\1/' <<<"$line")
    passed=$((passed + total - bad)); failed=$((failed + bad))
done < <(summaries)
[ "$count" = 3 ] || { status=1; echo "expected 3 test summaries (native, win64, win), found $count"; }
grep -q 'fuzz: clean' "$log/fuzz.log" && passed=$((passed + 1)) || failed=$((failed + 1))
[ "$failed" = 0 ] || status=1
echo "$passed passed, $failed failed"
exit $status
