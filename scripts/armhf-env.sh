# Sourced by the armhf scripts (cross-armhf.sh, bench-armhf.sh): where the
# board's sysroot, the qemu shim and the cross build live, and how to make
# them. Expects $repo, the checkout.
#
# The sysroot and the shim lie outside /tmp even when the checkout is under
# it: the end-to-end test runs the shipped daemon in the printer's mount
# namespace (scripts/printer-namespace.sh), whose /tmp is private, and qemu
# finds the board's libraries and the shim there by these paths.
# shellcheck shell=sh
out="${repo:?the checkout}/build-armhf"
build="$out/build"
case "$out" in
/tmp | /tmp/*) emulation="/var/tmp/brevdaemon-armhf" ;;
*) emulation="$out" ;;
esac
sysroot="${ARMHF_SYSROOT:-$emulation/sysroot}"
shim="$emulation/qemu-forkfd-shim.so"
mirror="${DEBIAN_MIRROR:-http://deb.debian.org/debian}"
case "$sysroot" in
/tmp | /tmp/*)
    echo "ARMHF_SYSROOT=$sysroot lies under /tmp, which the printer's namespace hides" >&2
    exit 2
    ;;
esac

# The host builds the moc and runs dbus-daemon; the rest is for the cross
# build and the emulation.
armhf_packages() {
    "$repo/scripts/install-deps.sh"
    "$repo/scripts/ensure-packages.sh" mmdebstrap crossbuild-essential-armhf qemu-user-static file
}

# The sysroot: headers and libraries only, nothing configured. No device
# nodes: qemu-arm -L looks up every absolute path in the sysroot first, and
# its /dev/ptmx would not reach this machine's pseudo-terminals. The security
# suite is left out; a build needs no security fixes. The first run downloads
# about 450 MB; later runs reuse it.
armhf_sysroot() {
    [ -e "$sysroot/.complete" ] && return 0
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
}

# Whether $2 is missing or older than its source $1.
out_of_date() {
    [ ! -e "$2" ] || [ -n "$(find "$1" -newer "$2")" ]
}

armhf_shim() {
    mkdir -p "$(dirname "$shim")"
    if out_of_date "$repo/scripts/qemu-forkfd-shim.c" "$shim"; then
        arm-linux-gnueabihf-gcc --sysroot="$sysroot" -shared -fPIC -O2 -Wall -Wextra \
            -o "$shim" "$repo/scripts/qemu-forkfd-shim.c" -ldl
    fi
}

# Test programs run under qemu-arm. QEMU_LD_PREFIX and QEMU_SET_ENV stay in
# their environment, so ARM programs they start through binfmt_misc find
# the sysroot and the shim too.
armhf_configure() {
    cmake -S "$repo" -B "$build" \
        -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchain-armhf.cmake" \
        -DCMAKE_SYSROOT="$sysroot" \
        -DCMAKE_CROSSCOMPILING_EMULATOR="env;QEMU_LD_PREFIX=$sysroot;QEMU_SET_ENV=LD_PRELOAD=$shim;qemu-arm-static" \
        >/dev/null
}
