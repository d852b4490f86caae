#!/bin/bash
# Builds the libFuzzer target in build/fuzz and runs it for SECONDS (default 60);
# exits non-zero on any crash, leak, timeout or sanitizer report.
set -euo pipefail
seconds="${1:-60}"
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/fuzz"
shared="${PROJECT_SHARED_DIR:-$root/../shared}"

launcher=(); command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DFUZZ=ON -DSANITIZE=ON "${launcher[@]}" >/dev/null
cmake --build "$build" -j2 --target fuzz_decode make_fuzz_seeds

# Seeds: the conformance files when present, the project's own sample and
# small fixtures of every container.
corpus="$build/corpus"
mkdir -p "$corpus"
"$build/tests/fuzz/make_fuzz_seeds" "$corpus"
for f in "$shared"/testdata/conformance/*.j2k "$shared"/testdata/conformance/*.jp2 "$root"/tools/sample/*.jp2; do
    [ -f "$f" ] && cp -n "$f" "$corpus/" || true
done

mkdir -p "$build/artifacts"
limits=(-rss_limit_mb=2048 -malloc_limit_mb=1024 -timeout=30)
# Inputs that once failed run first, each once, under the same limits.
regressions=("$root"/tests/fuzz/regressions/*)
if [ -f "${regressions[0]}" ]; then
    "$build/tests/fuzz/fuzz_decode" "${limits[@]}" "${regressions[@]}" >"$build/regressions.log" 2>&1 ||
        { tail -40 "$build/regressions.log"; echo "fuzz: FAILED on a regression input"; exit 1; }
    echo "fuzz regressions: ${#regressions[@]} inputs clean"
fi
# libFuzzer exits non-zero on the first crash, leak, out-of-memory or timeout.
"$build/tests/fuzz/fuzz_decode" "$corpus" \
    -max_total_time="$seconds" "${limits[@]}" \
    -dict="$root/tests/fuzz/jpeg2000.dict" -max_len=1048576 -artifact_prefix="$build/artifacts/" -print_final_stats=1 \
    2>"$build/fuzz.log" || { tail -60 "$build/fuzz.log"; echo "fuzz: FAILED (log: $build/fuzz.log)"; exit 1; }
grep -E "^(stat::number_of_executed_units|stat::peak_rss_mb)" "$build/fuzz.log" || true
echo "fuzz: clean for ${seconds}s"
