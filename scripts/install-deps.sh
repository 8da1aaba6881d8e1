#!/bin/sh
# Installs the Debian packages the build, the tests and the simulated printer
# need. Does nothing when they are all there. With --run, only what building
# and running the simulated printer need (scripts/run-simulated-printer.sh).
set -eu
dir="$(dirname "$0")"
"$dir/ensure-packages.sh" cmake g++ make pkg-config qtbase5-dev libqapt-dev dbus-daemon util-linux
[ "${1:-}" != "--run" ] || exit 0
# Updates are checked against the maker's key with debsig-verify; the tests
# make throwaway keys with gpg and sign packages with debsigs.
"$dir/ensure-packages.sh" debsig-verify debsigs gpg gpg-agent
# Every shell script is checked with shellcheck.
"$dir/ensure-packages.sh" shellcheck
# The sanitizer and fuzzing builds (scripts/sanitize.sh, scripts/fuzz.sh):
# clang with its sanitizer runtimes and libFuzzer.
"$dir/ensure-packages.sh" clang libclang-rt-14-dev
# The real-device test rig (scripts/realdevice-vm.sh) and the virtual board
# (scripts/board-vm.sh): the emulator, the static busybox of their initramfs
# and the board root's builder. They download the kernel package themselves.
exec "$dir/ensure-packages.sh" --no-install-recommends qemu-system-x86 busybox-static mmdebstrap
