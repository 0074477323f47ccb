#!/usr/bin/env bash
# Builds ZELKO and runs every test: a normal build, then the same tests under
# AddressSanitizer + UndefinedBehaviorSanitizer, then the threaded tests under
# ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

echo "== build and test (RelWithDebInfo)"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

echo "== build and test under AddressSanitizer + UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DZELKO_SANITIZE=asan-ubsan >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan --output-on-failure -j"$jobs"

echo "== threaded tests under ThreadSanitizer"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DZELKO_SANITIZE=tsan >/dev/null
tsan_tests="test_link test_operations test_lockfuse"
cmake --build build-tsan -j"$jobs" --target $tsan_tests zi1sim zelko-cli
for t in $tsan_tests; do
    echo "-- $t under ThreadSanitizer"
    (cd build-tsan/tests && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 "./$t" --gtest_brief=1)
done
echo "== all tests passed"
