#!/bin/sh
# Cross-builds the daemon and its tests for the board (32-bit ARM, Debian 12)
# and runs the tests under qemu-arm. The first run downloads an armhf sysroot
# of about 450 MB into build-armhf/sysroot (/var/tmp/brevdaemon-armhf/sysroot
# for a checkout under /tmp; ARMHF_SYSROOT, when set); later runs reuse it.
# Not part of CI for that reason.
#
#   scripts/cross-armhf.sh            build, then run every test
#   scripts/cross-armhf.sh -R NAME    build, then run the tests ctest -R picks
set -eu
repo="$(cd "$(dirname "$0")/.." && pwd)"
. "$repo/scripts/armhf-env.sh"

armhf_packages
armhf_sysroot
armhf_shim
armhf_configure
cmake --build "$build" -j"$(nproc)"
file "$build/app/brevdaemon"
file "$build/app/brevdaemon" | grep -q "ELF 32-bit.*ARM"

# ARM programs started by a test (the shipped daemon, the simulator, brevctl)
# need qemu registered with binfmt_misc.
starts_arm_programs() {
    grep -q -E 'BREV_SIMULATOR|BREV_DAEMON|BREVCTL|simulator\.h' "$@"
}

exclude=""
if ! "$repo/scripts/armhf-binfmt.sh"; then
    for source in "$repo"/tests/tst_*.cpp "$repo"/tests/*/tst_*.cpp; do
        [ -e "$source" ] || continue
        dir="$(dirname "$source")"
        if [ "$dir" = "$repo/tests" ]; then
            starts_arm_programs "$source" || continue
        else
            starts_arm_programs "$dir"/*.cpp || continue
        fi
        exclude="${exclude:+$exclude|}^$(basename "$source" .cpp)\$"
    done
    echo "binfmt_misc has no qemu-arm here: skipping the tests that start ARM programs: $exclude"
fi

ctest --test-dir "$build" --output-on-failure ${exclude:+-E "$exclude"} "$@"
