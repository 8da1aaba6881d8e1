#!/bin/sh
# Installs what is missing, builds everything and runs every test; then the
# suite again under the sanitizers, and each fuzz target for 30 s.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j2
scripts/sanitize.sh
scripts/fuzz.sh 30
