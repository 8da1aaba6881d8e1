#!/bin/sh
# Builds optimised and runs every benchmark; each ends with "ratio: R".
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-release -j"$(nproc)"
for bench in build-release/bench/bench_*; do
    [ -f "$bench" ] && [ -x "$bench" ] || continue
    echo "== $(basename "$bench")"
    QT_NO_GLIB=1 "$bench"
done
