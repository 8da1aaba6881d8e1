#!/bin/sh
# Boots a virtual printer board: Debian 12 under systemd with dbus, udev and
# CUPS, the kernel's USB printer gadget looped back to a USB host in the same
# machine, the simulator standing in for the three sibling services, and a
# stub update program. The project's packages are handed in, not installed:
# the job installs them with dpkg, so their maintainer scripts, udev and
# systemd act as on a board.
#
# Usage: scripts/board-vm.sh [amd64|armhf] [JOB [ARGS...]]
#
# With JOB (a shell script on this machine), the board boots, runs it as root
# once the system is up, prints its output, powers off and exits with its
# exit status. Without one, the board installs the packages, sets up the
# gadget and gives a root console on the serial line (Ctrl-A X quits).
#
# In the board: the packages are in /run/board/debs, /dev/usb/lp0 is the
# host's end of the cable, /sys/bus/usb/devices/1-1/authorized (0/1) pulls and
# plugs it, gadget-setup.sh is in /run/board; "lp" prints to the default
# raw queue "board", whose backend keeps the last job in /var/spool/board/out; the simulator reads
# commands from /run/brevsim/r6, supplyd and cvutility; /usr/bin/Fenwick logs
# its starts to /var/log/fenwick-starts.
#
# Cached outside the checkout (BREV_BOARD_CACHE, default
# /var/cache/brevdaemon-board): the board's root, built with mmdebstrap and
# keyed by its package list; the packages of the last commit (rebuilt when it
# changed; BREV_BOARD_DEBS names a folder of others); the kernel, from
# Debian's package, shares the real-device rig's cache. The simulator comes
# from the build tree (BREV_BOARD_BREVSIM names another). Exits 77 with the reason when qemu,
# mmdebstrap, a static busybox, the kernel or the mirror cannot be had. The
# board is powered off after BREV_BOARD_TIMEOUT seconds (default 1200).
# BREV_BOARD_FILES names files of this machine handed in too (in /run/board),
# BREV_BOARD_QEMU_OPTIONS more options for qemu (a plugin, say).
set -eu

repo=$(cd "$(dirname "$0")/.." && pwd)
arch=amd64
case "${1:-}" in amd64 | armhf) arch=$1; shift ;; esac
timeout_s=${BREV_BOARD_TIMEOUT:-1200}
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}

skip() {
    echo "board-vm: skipped: $*" >&2
    exit 77
}
die() {
    echo "board-vm: $*" >&2
    exit 1
}

# What the board runs besides the project's packages and their dependencies.
packages="systemd-sysv dbus udev kmod procps libqt5dbus5 libqapt3 cups-daemon cups-client debsig-verify"
case $arch in
amd64)
    qemu="qemu-system-x86_64"
    [ "$(uname -m)" = x86_64 ] || skip "the amd64 board runs on an x86-64 machine only"
    machine="-accel tcg,thread=multi"
    console=ttyS0
    kernel_meta=linux-image-amd64
    kernel_dir=kernel
    ;;
armhf)
    qemu="qemu-system-arm"
    machine="-M virt -cpu cortex-a15 -accel tcg,thread=multi"
    console=ttyAMA0
    kernel_meta=linux-image-armmp
    kernel_dir="kernel-armmp"
    # The kernel and the initramfs's busybox are the board's own.
    packages="$packages busybox-static linux-image-armmp"
    ;;
esac
command -v "$qemu" >/dev/null 2>&1 || skip "$qemu is missing (scripts/install-deps.sh)"
command -v mmdebstrap >/dev/null 2>&1 || skip "mmdebstrap is missing (scripts/install-deps.sh)"
dpkg-query -W -f='${Status}\n' busybox-static 2>/dev/null | grep -q "ok installed" ||
    skip "no static busybox (apt-get install busybox-static)"

# shellcheck source=scripts/vm-lib.sh
. "$repo/scripts/vm-lib.sh"

# Gadget and host driver, then the 9p and overlay pieces of the root (armmp
# has usb-common built in, and its virtio devices on MMIO).
modules="usbcore udc-core dummy_hcd configfs libcomposite usb_f_printer usblp 9pnet_virtio 9p overlay"
case $arch in
amd64) modules="usb-common $modules virtio_pci" ;;
armhf) modules="$modules virtio_mmio" ;;
esac

vm_cache "${BREV_BOARD_CACHE:-/var/cache/brevdaemon-board}"
board_cache=$cache

# --- the board's root: mmdebstrap, once per package list ---------------------

prepare_root() {
    key=$(echo "$arch $mirror $packages" | md5sum | cut -c1-12)
    root=$board_cache/root-$arch-$key
    [ -d "$root" ] && return 0
    [ "$arch" = amd64 ] || "$repo/scripts/armhf-binfmt.sh" >/dev/null
    partial=$board_cache/partial-$arch
    rm -rf "$partial"
    # The kernel package's own initramfs is never booted, and making it
    # under qemu-user takes minutes: its hook is left out.
    # shellcheck disable=SC2016 # the hook's $1 is mmdebstrap's, expanded by it
    mmdebstrap --quiet --variant=minbase --arch="$arch" \
        --aptopt='APT::Install-Recommends "false"' \
        --dpkgopt='path-exclude=/etc/kernel/postinst.d/initramfs-tools' \
        --include="$(echo "$packages" | tr ' ' ',')" \
        --customize-hook='rm -rf "$1"/var/lib/apt/lists/* "$1"/var/cache/apt/*.bin' \
        bookworm "$partial" "deb $mirror bookworm main" >"$board_cache/mmdebstrap.log" 2>&1 || {
        tail -n 20 "$board_cache/mmdebstrap.log" >&2
        rm -rf "$partial"
        skip "mmdebstrap could not build the board's root (no mirror?)"
    }
    rm -rf "$board_cache"/root-"$arch"-*
    mv "$partial" "$root"
}

# --- the packages: from the last commit, rebuilt when it changed -------------

# amd64: dpkg-buildpackage in a clone kept in the cache, moved to the last
# commit and built without a clean first, so that only what the commit
# changed is compiled again; the packages are the project's own, maintainer
# scripts and all. armhf: scripts/build-deb.sh armhf.
prepare_debs() {
    if [ -n "${BREV_BOARD_DEBS:-}" ]; then
        debs=$BREV_BOARD_DEBS
        return 0
    fi
    debs=$board_cache/debs-$arch
    stamp=$debs/.commit
    commit=$(git -C "$repo" rev-parse HEAD)
    [ "$(cat "$stamp" 2>/dev/null)" = "$commit" ] && return 0
    log=$board_cache/build-deb.log
    rm -rf "$debs"
    if [ "$arch" = amd64 ]; then
        "$repo/scripts/install-deps.sh"
        "$repo/scripts/ensure-packages.sh" build-essential debhelper help2man git
        src=$board_cache/deb-build/brevdaemon
        [ -d "$src/.git" ] || git clone -q "$repo" "$src"
        git -C "$src" fetch -q "$repo" HEAD
        git -C "$src" checkout -q --force FETCH_HEAD
        rm -f "$src"/debian/debhelper-build-stamp "$src"/debian/*.debhelper.log "$src"/../*.deb
        (cd "$src" && dpkg-buildpackage -us -uc -b -nc) >"$log" 2>&1 || {
            tail -n 30 "$log" >&2
            die "the packages did not build"
        }
        mkdir -p "$debs"
        cp "$src"/../brevdaemon_*.deb "$src"/../brevctl_*.deb "$debs/"
    else
        "$repo/scripts/build-deb.sh" armhf >"$log" 2>&1 || {
            tail -n 30 "$log" >&2
            die "the packages did not build"
        }
        mkdir -p "$debs"
        cp "$repo"/build-deb/brevdaemon_*_armhf.deb "$repo"/build-deb/brevctl_*_armhf.deb "$debs/"
    fi
    echo "$commit" > "$stamp"
}

# --- boot: the initramfs mounts the root and hands over to systemd -----------

# shellcheck disable=SC2016 # expanded in the VM
init_script='#!/bin/sh
# Process 1 until systemd: loads the modules, mounts the cached board root
# read-only with an overlay on tmpfs on top (every write stays in the VM),
# the job share as /run/board, installs the test fixture and starts systemd.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t devtmpfs dev /dev
exec </dev/console >/dev/console 2>&1
mount -t proc proc /proc
mount -t sysfs sys /sys
halt() { echo "board: $*"; sync; poweroff -f; }
for module in $(cat /modules.order); do
    insmod /modules/$module.ko || halt "cannot load $module"
done
mkdir -p /lower /upper /root
options=trans=virtio,version=9p2000.L,msize=262144
mount -t 9p -o $options,cache=loose,ro boardroot /lower &&
    mount -t tmpfs -o mode=0755 upper /upper &&
    mkdir /upper/data /upper/work &&
    mount -t overlay -o lowerdir=/lower,upperdir=/upper/data,workdir=/upper/work overlay /root ||
    halt "cannot mount the board root"
mount -t tmpfs -o mode=0755,nosuid,nodev run /root/run &&
    mkdir /root/run/board &&
    mount -t 9p -o $options job /root/run/board || halt "no job share"
sh /root/run/board/prepare /root || halt "cannot install the fixture"
umount /proc /sys
exec switch_root /root /sbin/init
'

# Writes the share's "prepare" (run by the initramfs on the root) and "run"
# (the job, as board-job.service) for job $1 with its arguments; interactive
# without one.
write_share() {
    mkdir -p "$share/debs" "$share/fixture"
    cp "$debs"/brevdaemon_*_"$arch".deb "$debs"/brevctl_*_"$arch".deb "$share/debs/" ||
        die "no packages for $arch in $debs"
    cp -a "$repo/tests/board/fixture/." "$share/fixture/"
    mkdir -p "$share/fixture/usr/local/bin"
    cp "$brevsim" "$share/fixture/usr/local/bin/brevsim"
    cp "$repo/scripts/gadget-setup.sh" "$share/"
    # shellcheck disable=SC2086 # a list of files
    [ -z "${BREV_BOARD_FILES:-}" ] || cp $BREV_BOARD_FILES "$share/"
    wants=/root/etc/systemd/system/multi-user.target.wants
    {
        echo 'set -e'
        echo 'cp -a /root/run/board/fixture/. /root/'
        echo "mkdir -p $wants /root/etc/systemd/system/sockets.target.wants /root/var/spool/board"
        for service in r6 supplyd cvutility; do
            echo "ln -s ../brevsim@.service $wants/brevsim@$service.service"
            echo "ln -s ../brevsim@.socket /root/etc/systemd/system/sockets.target.wants/brevsim@$service.socket"
        done
        echo "ln -s ../board-job.service $wants/board-job.service"
        echo 'chmod 700 /root/usr/lib/cups/backend/boardfile'
        echo 'echo board > /root/etc/hostname'
        if [ $# -gt 0 ]; then
            # The job's output alone on the console.
            echo "ln -s /dev/null /root/etc/systemd/system/serial-getty@$console.service"
        else
            getty=/root/etc/systemd/system/serial-getty@$console.service.d
            echo "mkdir -p $getty"
            printf 'printf "[Service]\\nExecStart=\\nExecStart=-/sbin/agetty --autologin root --noclear --keep-baud %%%%I 115200 linux\\n" > %s/autologin.conf\n' "$getty"
        fi
    } > "$share/prepare"
    {
        echo 'cd /run/board'
        echo 'lpadmin -p board -E -v boardfile:/ -m raw 2>/dev/null && lpadmin -d board'
        if [ $# -eq 0 ]; then
            echo 'sh gadget-setup.sh dummy_udc.0 && dpkg -i debs/*.deb'
            echo 'echo "board: packages installed, gadget up; root console on the serial line (Ctrl-A X quits)"'
        else
            cp "$1" "$share/job"
            shift
            printf 'sh ./job'
            for argument in "$@"; do
                printf ' %s' "$(quote "$argument")"
            done
            echo
            echo 'echo $? > status'
            echo 'systemctl --no-block poweroff'
        fi
    } > "$share/run"
}

# One lock per architecture: each root is its own, and an armhf root, built
# under qemu-user, takes long enough to hold up every amd64 run otherwise.
exec 9>"$board_cache/lock-$arch"
flock 9
prepare_root
flock -u 9
rig_cache=${BREV_RIG_CACHE:-/var/cache/brevdaemon-rig}
vm_cache "$rig_cache"
exec 9>"$cache/lock"
flock 9
if [ "$arch" = amd64 ]; then
    prepare_kernel "$kernel_meta" "$kernel_dir"
else
    prepare_kernel "$kernel_meta" "$kernel_dir" "$root"
    busybox=$root/bin/busybox
fi
prepare_initramfs "board-$arch" "$kernel_dir" "$init_script"
flock -u 9
kernel=$cache/$kernel_dir
prepare_debs
if [ -n "${BREV_BOARD_BREVSIM:-}" ]; then
    brevsim=$BREV_BOARD_BREVSIM
elif [ "$arch" = amd64 ]; then
    brevsim=$repo/build/tools/simulator/brevsim
else
    # The simulator for the board, from the project's cross build.
    # shellcheck source=scripts/armhf-env.sh
    . "$repo/scripts/armhf-env.sh"
    armhf_packages
    armhf_sysroot
    armhf_configure
    cmake --build "$build" --target brevsim >/dev/null
    brevsim=$build/tools/simulator/brevsim
fi
[ -x "$brevsim" ] || die "no simulator at $brevsim (build it, or name it in BREV_BOARD_BREVSIM)"

vm_share
write_share "$@"

if [ $# -eq 0 ]; then
    serial="-serial mon:stdio"
    vm_input=/dev/stdin
else
    serial="-chardev stdio,id=console,signal=off -serial chardev:console"
fi
case $arch in
amd64) shares="-virtfs local,path=$root,mount_tag=boardroot,security_model=none,readonly=on,multidevs=remap
-virtfs local,path=$share,mount_tag=job,security_model=none" ;;
armhf) shares="-fsdev local,id=root,path=$root,security_model=none,readonly=on,multidevs=remap
-device virtio-9p-device,fsdev=root,mount_tag=boardroot
-fsdev local,id=job,path=$share,security_model=none -device virtio-9p-device,fsdev=job,mount_tag=job" ;;
esac
# shellcheck disable=SC2086 # the option lists are split on purpose
vm_run "$qemu" $machine -smp 2 -m 1024 \
    -nodefaults -display none -no-reboot -nic none $serial \
    -kernel "$kernel/vmlinuz" -initrd "$initramfs" \
    -append "console=$console loglevel=2 panic=1 rdinit=/init quiet systemd.show_status=0" \
    $shares ${BREV_BOARD_QEMU_OPTIONS:-}
[ $# -gt 0 ] || exit 0
vm_exit
