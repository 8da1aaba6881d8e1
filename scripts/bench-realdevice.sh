#!/bin/sh
# Builds the spool benchmark optimised and runs it on the kernel's printer
# gadget, inside the virtual machine of scripts/realdevice-vm.sh; it ends with
# "ratio: R" against a plain read/write loop on the same gadget. Exits 77,
# with the reason, where the VM cannot run here.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-release -j"$(nproc)" --target bench_spool_gadget
QT_NO_GLIB=1 exec scripts/realdevice-vm.sh build-release/bench/realdevice/bench_spool_gadget
