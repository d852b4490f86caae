#!/bin/bash
# Native test run: configure and build the sanitized build in build/native,
# run its tests, then fuzz the decode core for FUZZ_SECONDS (default 60).
# Usage: tools/test-native.sh [FUZZ_SECONDS]
set -euo pipefail
fuzzSeconds="${1:-60}"
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/native"

stage_start=0
start_stage() {
    stage_start=$(date +%s%N)
    echo "== $1"
}
end_stage() {
    local ms=$(( ($(date +%s%N) - stage_start) / 1000000 ))
    printf '== %s: %d.%01d s\n' "$1" $((ms / 1000)) $((ms % 1000 / 100))
}

start_stage "configure"
cmake -S "$root" -B "$build" -G Ninja -DSANITIZE=ON >/dev/null
end_stage "configure"

start_stage "build"
cmake --build "$build" -j2
end_stage "build"

start_stage "tests"
(cd "$build" && ctest --output-on-failure -j2)
end_stage "tests"

if [ "$fuzzSeconds" -gt 0 ]; then
    start_stage "fuzz (${fuzzSeconds} s)"
    "$root/tools/run-fuzz.sh" "$fuzzSeconds"
    end_stage "fuzz"
fi
echo "native tests: all passed"
