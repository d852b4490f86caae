#!/bin/bash
# Builds the decode benchmarks without sanitizers (build/bench, Release) and runs one:
# by default the whole-picture one on 4000 x 4000 lossy pictures (plain RGB, sYCC 4:2:0,
# RGB with an ICC profile), with `region` the window of a 50,000 x 50,000 tiled picture
# at full resolution; their pictures are generated there on first use.
# Usage: tools/run-bench.sh [region] [ARGS...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/bench"
cmake -S "$root" -B "$build" -G Ninja -DSANITIZE=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
if [ "${1:-}" = region ]; then
    shift
    cmake --build "$build" -j2 --target bench_region
    cd "$build" && ./tools/bench_region . "$@"
    exit
fi
cmake --build "$build" -j2 --target bench_decode
cd "$build" && ./tools/bench_decode bench_4000x4000.j2k "$@"
