#!/bin/sh
# Cross-builds the daemon and its tests for the board (32-bit ARM, Debian 12)
# and runs the tests under qemu-arm. The first run downloads an armhf sysroot
# of about 450 MB into build-armhf/sysroot (or ARMHF_SYSROOT, when set);
# later runs reuse it. Not part of CI for that reason.
#
#   scripts/cross-armhf.sh            build, then run every test
#   scripts/cross-armhf.sh -R NAME    build, then run the tests ctest -R picks
set -eu
repo="$(cd "$(dirname "$0")/.." && pwd)"
out="$repo/build-armhf"
sysroot="${ARMHF_SYSROOT:-$out/sysroot}"
build="$out/build"
shim="$out/qemu-forkfd-shim.so"
mirror="${DEBIAN_MIRROR:-http://deb.debian.org/debian}"

# The host builds the moc and runs dbus-daemon; the rest is for the cross
# build and the emulation.
"$repo/scripts/install-deps.sh"
"$repo/scripts/ensure-packages.sh" mmdebstrap crossbuild-essential-armhf qemu-user-static file

# The sysroot: headers and libraries only, nothing configured. No device
# nodes: qemu-arm -L looks up every absolute path in the sysroot first, and
# its /dev/ptmx would not reach this machine's pseudo-terminals. The security
# suite is left out; a build needs no security fixes.
if [ ! -e "$sysroot/.complete" ]; then
    rm -rf "$sysroot" "$sysroot.partial"
    mkdir -p "$(dirname "$sysroot")"
    started=$(date +%s)
    mmdebstrap --quiet --variant=extract --arch=armhf \
        --include=qtbase5-dev,libqapt-dev,libc6-dev,libstdc++-12-dev \
        bookworm "$sysroot.partial" \
        "deb $mirror bookworm main" "deb $mirror bookworm-updates main"
    rm -rf "$sysroot.partial/dev"
    touch "$sysroot.partial/.complete"
    mv "$sysroot.partial" "$sysroot"
    echo "sysroot: $(du -sh "$sysroot" | cut -f1) in $(($(date +%s) - started)) s"
fi

mkdir -p "$out"
if [ ! -e "$shim" ] || [ "$repo/scripts/qemu-forkfd-shim.c" -nt "$shim" ]; then
    arm-linux-gnueabihf-gcc --sysroot="$sysroot" -shared -fPIC -O2 -Wall -Wextra \
        -o "$shim" "$repo/scripts/qemu-forkfd-shim.c" -ldl
fi

# Test programs run under qemu-arm. QEMU_LD_PREFIX and QEMU_SET_ENV stay in
# their environment, so ARM programs they start through binfmt_misc find
# the sysroot and the shim too.
cmake -S "$repo" -B "$build" \
    -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchain-armhf.cmake" \
    -DCMAKE_SYSROOT="$sysroot" \
    -DCMAKE_CROSSCOMPILING_EMULATOR="env;QEMU_LD_PREFIX=$sysroot;QEMU_SET_ENV=LD_PRELOAD=$shim;qemu-arm-static" \
    >/dev/null
cmake --build "$build" -j"$(nproc)"
file "$build/app/brevdaemon"
file "$build/app/brevdaemon" | grep -q "ELF 32-bit.*ARM"

# ARM programs started by a test (the shipped daemon, the simulator, brevctl)
# need qemu registered with binfmt_misc.
exclude=""
if ! "$repo/scripts/armhf-binfmt.sh"; then
    for source in "$repo"/tests/tst_*.cpp "$repo"/tests/*/tst_*.cpp; do
        [ -e "$source" ] || continue
        dir="$(dirname "$source")"
        files="$source"
        [ "$dir" = "$repo/tests" ] || files="$dir"/*.cpp
        if grep -q -E 'BREV_SIMULATOR|BREV_DAEMON|BREVCTL|simulator\.h' $files; then
            exclude="${exclude:+$exclude|}^$(basename "$source" .cpp)\$"
        fi
    done
    echo "binfmt_misc has no qemu-arm here: skipping the tests that start ARM programs: $exclude"
fi

ctest --test-dir "$build" --output-on-failure ${exclude:+-E "$exclude"} "$@"
