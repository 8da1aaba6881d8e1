#!/bin/sh
# Builds the benchmarks as the package builds the daemon (dpkg-buildflags:
# -O2 -g and the hardening options, so the figures are those of the shipped
# code) and runs each; every one prints its rates, the user-space
# instructions per MiB that callgrind counts, and last "ratio: R".
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/ensure-packages.sh valgrind dpkg-dev
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=None \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build build-release -j"$(nproc)"
for bench in build-release/bench/bench_*; do
    { [ -f "$bench" ] && [ -x "$bench" ]; } || continue
    echo "== $(basename "$bench")"
    QT_NO_GLIB=1 "$bench"
done
