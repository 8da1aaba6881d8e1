#!/bin/sh
# Installs the Debian packages the build, the tests and the simulated printer
# need. Does nothing when they are all there. With --run, only what building
# and running the simulated printer need (scripts/run-simulated-printer.sh).
set -eu
dir="$(dirname "$0")"
"$dir/ensure-packages.sh" cmake g++ make pkg-config qtbase5-dev libqapt-dev dbus-daemon util-linux
[ "${1:-}" != "--run" ] || exit 0
# The end-to-end suite prints through a real CUPS scheduler.
"$dir/ensure-packages.sh" cups cups-client cups-bsd
# The sanitizer and fuzzing builds (scripts/sanitize.sh, scripts/fuzz.sh):
# clang with its sanitizer runtimes and libFuzzer.
"$dir/ensure-packages.sh" clang libclang-rt-14-dev
# The real-device test rig (scripts/realdevice-vm.sh): the emulator and the
# static busybox of its initramfs. It downloads the kernel package itself.
exec "$dir/ensure-packages.sh" --no-install-recommends qemu-system-x86 busybox-static
