#!/bin/sh
# Builds the libFuzzer targets (tests/fuzz/) in build-fuzz/ and runs each for
# SECONDS (default 300). Each target's corpus is kept in
# build-fuzz/corpus/<target>/ and grows from run to run. A finding ends the
# script with status 1; the input that caused it is saved as
# build-fuzz/findings/<target>/crash-* (or leak-*, timeout-*), and
# build-fuzz/tests/fuzz/<target> FILE runs it again.
#
#   scripts/fuzz.sh [SECONDS]
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-300}
scripts/install-deps.sh
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
    -DCMAKE_CXX_COMPILER=clang++ -DBREV_FUZZ=ON >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target fuzz_recognizer fuzz_readpath

. scripts/sanitizer-env.sh
# The read path's target starts "lp" for every job it completes; with the
# default quarantine of freed memory (256 MB) the fuzzing process grows so
# large that each start takes several times as long.
export ASAN_OPTIONS="$ASAN_OPTIONS:quarantine_size_mb=32"
# The targets' scratch folders, which a finding leaves behind.
export TMPDIR="$PWD/build-fuzz/tmp"
rm -rf "$TMPDIR"
mkdir -p "$TMPDIR"

status=0
# target and the longest input it is given: the recognizer sees at most one
# read; the read path's input describes a stream of up to one read.
for run in fuzz_recognizer:1023 fuzz_readpath:2048; do
    target=${run%:*}
    corpus=build-fuzz/corpus/$target
    findings=build-fuzz/findings/$target
    log=build-fuzz/$target.log
    mkdir -p "$corpus" "$findings"
    echo "== $target: $seconds s, log in $log"
    if "build-fuzz/tests/fuzz/$target" -max_total_time="$seconds" -max_len="${run#*:}" -len_control=0 -timeout=30 \
        -artifact_prefix="$findings/" -print_final_stats=1 "$corpus" >"$log" 2>&1; then
        grep -E '^Done [0-9]+ runs' "$log" || true
        grep -E '^#[0-9]+.*DONE' "$log" || true
    else
        status=1
        echo "== $target found a fault:"
        tail -n 80 "$log"
    fi
done
exit $status
