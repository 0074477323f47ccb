#!/usr/bin/env bash
# Builds the libFuzzer targets with clang under AddressSanitizer +
# UndefinedBehaviorSanitizer and runs each for a bounded time on its seed
# corpus (fuzz/corpus/<name without "fuzz_">). FUZZ_SECONDS sets the time per
# target (default 60). New inputs go to a scratch copy of the corpus, so the
# committed seeds stay as they are; a crash leaves its input in build-fuzz/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
build=build-fuzz

CXX=clang++ CC=clang cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZELKO_BUILD_FUZZ=ON -DZELKO_BUILD_TESTS=OFF -DZELKO_SANITIZE=asan-ubsan >/dev/null

targets=(fuzz_ini)
[ -f fuzz/fuzz_hex.cpp ] && targets+=(fuzz_hex)
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"

for t in "${targets[@]}"; do
    seeds="fuzz/corpus/${t#fuzz_}"
    work="$build/corpus-${t#fuzz_}"
    mkdir -p "$work"
    echo "== $t for ${seeds} (${seconds} s)"
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        "$build/fuzz/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$build/$t-" "$work" "$seeds"
done
echo "== fuzzing finished without a finding"
