#!/bin/bash
# Builds the decode benchmark without sanitizers (build/bench, Release) and runs it
# on 4000 x 4000 lossy pictures (plain RGB, sYCC 4:2:0, RGB with an ICC profile)
# generated there on first use.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/bench"
cmake -S "$root" -B "$build" -G Ninja -DSANITIZE=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target bench_decode
cd "$build" && ./tools/bench_decode bench_4000x4000.j2k "$@"
