#!/bin/sh
# Builds the pure parsers natively with clang, AddressSanitizer and UndefinedBehaviorSanitizer, runs
# their unit tests, then runs every fuzz target for a bounded time from its seed corpus.
# Usage: native-test.sh [SECONDS_PER_FUZZER]   (default 20; scripts/fuzz.sh runs them longer)
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-20}
build=build/native
[ -f $build/build.ninja ] || CXX=clang++ cmake -S native -B $build -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build $build
ASAN_OPTIONS=detect_leaks=1 $build/quorvantis_pure_tests --gtest_brief=1
for target in $build/fuzz_*; do
    name=$(basename "$target")
    corpus=build/native/corpus/$name
    mkdir -p "$corpus"
    cp fuzz/seeds/${name#fuzz_}/* "$corpus"/ 2>/dev/null || true
    echo "$name: fuzzing for $seconds s"
    "$target" -max_total_time="$seconds" -max_len=65536 -print_final_stats=1 "$corpus" 2>&1 |
        grep -E "stat::number_of_executed_units|ERROR|SUMMARY|crash-|leak-|timeout-" || true
    # A crash leaves its input in the working folder. Any one kind of input found is a failure,
    # so the kinds are looked for one by one (ls of all three fails unless all three exist).
    found=$(ls -d crash-* leak-* timeout-* 2>/dev/null || true)
    if [ -n "$found" ]; then
        echo "$name found a failing input:"; echo "$found"
        exit 1
    fi
done
