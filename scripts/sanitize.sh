#!/bin/sh
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer in
# build-asan/ and runs the test suite on it. A finding fails the run, also
# one in a program a test starts (the daemon, the simulator, brevctl) whose
# exit status the test does not look at: every report is written to
# build-asan/sanitizer-reports/ and shown at the end.
# Arguments go to ctest, e.g. scripts/sanitize.sh -R tst_cvparse.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
    -DCMAKE_CXX_COMPILER=clang++ -DBREV_SANITIZE=ON >/dev/null
cmake --build build-asan -j"$(nproc)"

. scripts/sanitizer-env.sh
reports="$PWD/build-asan/sanitizer-reports"
rm -rf "$reports"
mkdir -p "$reports"
export ASAN_OPTIONS="$ASAN_OPTIONS:log_path=$reports/asan"
export UBSAN_OPTIONS="$UBSAN_OPTIONS:log_path=$reports/ubsan"
# tst_realdevice is left out: it boots a virtual machine for about 75 s,
# longer with the sanitizers' slowdown, to check the daemon against the
# kernel's printer gadget driver; the daemon's reading, spooling and writing
# are run here by the other tests over a pseudo-terminal. tst_board too: it
# installs the packages, built without the sanitizers, on a virtual board.
status=0
ctest --test-dir build-asan --output-on-failure -j2 -E '^(tst_realdevice|tst_board)$' "$@" || status=$?
for report in "$reports"/*; do
    [ -f "$report" ] || continue
    echo "== sanitizer report $report"
    cat "$report"
    status=1
done
exit $status
