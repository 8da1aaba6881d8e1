#!/bin/sh
# Installs what is missing, checks every shell script with shellcheck (any
# finding fails the run), builds everything and runs every test: the suite
# under the sanitizers, each fuzz target for 30 s, and last the suite as the
# package builds it, whose summary ends the output.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
shellcheck scripts/*.sh .ci/run
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
scripts/sanitize.sh
scripts/fuzz.sh 30
ctest --test-dir build --output-on-failure -j2
