#!/bin/sh
# Builds the benchmarks (optimised) and runs every one of them. They print
# figures; nothing here passes or fails on speed.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DZELKO_BUILD_BENCH=ON -DZELKO_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"${JOBS:-2}"
for exe in "$build"/bench/*; do
    if [ -f "$exe" ] && [ -x "$exe" ]; then
        echo "== $(basename "$exe")"
        "$exe"
    fi
done
