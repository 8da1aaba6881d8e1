#!/bin/sh
# Runs COMMAND as root inside a small virtual machine that has the kernel's
# real USB printer gadget and a host attached to it, prints its output and
# exits with its exit status.
#
# The machine boots Debian's kernel under qemu-system-x86_64 (TCG, 2 vCPUs,
# no network). A busybox initramfs loads the dummy USB controller pair
# (dummy_hcd), the configfs gadget library with the printer function and the
# host's printer driver (usblp), then makes this machine's whole root its own:
# shared read-only over 9p, with an overlay on tmpfs on top, so every write
# stays in the VM (/tmp and the build tree included); /proc, /sys, /dev and
# /run are the VM's own. There it builds the gadget with
# scripts/gadget-setup.sh, links /dev/g_nira_printer to the printer node as
# the package's udev rule does on a board, and runs COMMAND in the caller's
# working directory with the caller's environment; its standard output and
# error both come out on standard output. /dev/g_printer0 is the printer's end
# of the cable, /dev/usb/lp0 the host's; /sys/bus/usb/devices/1-1/authorized
# (0 or 1) pulls and plugs the cable.
#
# Usage: scripts/realdevice-vm.sh COMMAND [ARGS...]
#
# Exits 77 with the reason on stderr when the pieces are missing: qemu
# (package qemu-system-x86), a static busybox (busybox-static) or the kernel
# package, which is downloaded once with apt-get into the cache
# (BREV_RIG_CACHE, default /var/cache/brevdaemon-rig, else
# ~/.cache/brevdaemon-rig). The machine is always powered off: when COMMAND
# returns, or after BREV_RIG_TIMEOUT seconds (default 600).
set -eu

repo=$(cd "$(dirname "$0")/.." && pwd)
timeout_s=${BREV_RIG_TIMEOUT:-600}

skip() {
    echo "realdevice-vm: skipped: $*" >&2
    exit 77
}
die() {
    echo "realdevice-vm: $*" >&2
    exit 1
}

[ $# -ge 1 ] || { echo "usage: $0 COMMAND [ARGS...]" >&2; exit 2; }

# The VM runs this machine's own programs.
[ "$(uname -m)" = x86_64 ] || skip "the VM is an x86-64 machine and this one is $(uname -m)"
command -v qemu-system-x86_64 >/dev/null 2>&1 ||
    skip "qemu-system-x86_64 is missing (apt-get install qemu-system-x86)"
# The initramfs holds busybox alone, so it must not need a shared library.
dpkg-query -W -f='${Status}\n' busybox-static 2>/dev/null | grep -q "ok installed" ||
    skip "no static busybox (apt-get install busybox-static)"

# shellcheck source=scripts/vm-lib.sh
. "$repo/scripts/vm-lib.sh"
vm_cache "${BREV_RIG_CACHE:-/var/cache/brevdaemon-rig}"

# Host controller and printer driver, gadget side, and the 9p/overlay root.
# Their dependencies are added when the kernel is unpacked.
modules="usb-common usbcore udc-core dummy_hcd configfs libcomposite usb_f_printer usblp
virtio_pci 9pnet_virtio 9p overlay"

# --- the initramfs: busybox, the modules and this init ---------------------

# shellcheck disable=SC2016 # expanded in the VM
init_script='#!/bin/sh
# Runs as process 1 of the rig VM: loads the modules, makes the host root
# writable and runs the job script of realdevice-vm.sh in it.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t devtmpfs dev /dev
exec </dev/console >/dev/console 2>&1
stty -onlcr
mount -t proc proc /proc
mount -t sysfs sys /sys
halt() { sync; poweroff -f; }
for module in $(cat /modules.order); do
    insmod /modules/$module.ko || { echo "rig: cannot load $module"; halt; }
done
mkdir -p /rig /lower /upper /root
mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 rig /rig || { echo "rig: no result share"; halt; }
mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144,cache=loose,ro hostroot /lower &&
    mount -t tmpfs -o mode=0755 upper /upper &&
    mkdir /upper/data /upper/work &&
    mount -t overlay -o lowerdir=/lower,upperdir=/upper/data,workdir=/upper/work overlay /root ||
    { echo "rig: cannot mount the host root"; halt; }
mount -t proc proc /root/proc
mount -t sysfs sys /root/sys
mount -t configfs configfs /root/sys/kernel/config
mount -t devtmpfs dev /root/dev
mkdir -p /root/dev/pts /root/dev/shm
mount -t devpts -o newinstance,ptmxmode=0666 devpts /root/dev/pts
mount -t tmpfs shm /root/dev/shm
mount -t tmpfs -o mode=0755 run /root/run
mkdir /root/run/brevdaemon-rig
mount --bind /rig /root/run/brevdaemon-rig
chroot /root /bin/sh /run/brevdaemon-rig/job.sh
status=$?
echo $status > /rig/status
[ $status -eq 0 ] || { echo "rig: last kernel messages:"; dmesg | tail -n 25; }
halt
'

# One preparation at a time: several runs may start together on a fresh cache.
exec 9>"$cache/lock"
flock 9
prepare_kernel linux-image-amd64 kernel
prepare_initramfs rig kernel "$init_script"
flock -u 9

# --- the job: gadget, link, environment, working directory, command ------

vm_share

# shellcheck disable=SC2016 # job.sh expands these in the VM
{
    echo 'set -e'
    echo "sh $(quote "$repo/scripts/gadget-setup.sh") dummy_udc.0 >/dev/null"
    # The host enumerates the device and usblp binds to it within a second or two.
    echo 'tries=0'
    echo 'until [ -e /dev/g_printer0 ] && [ -e /dev/usb/lp0 ]; do'
    echo '    tries=$((tries + 1)); [ $tries -lt 300 ] || { echo "rig: the gadget did not come up" >&2; exit 1; }'
    echo '    sleep 0.1'
    echo 'done'
    echo 'ln -sfn g_printer0 /dev/g_nira_printer'
    echo 'set +e'
    # The caller's environment, less what points at this machine's own
    # services and run-time folders.
    export -p
    echo 'unset DBUS_SESSION_BUS_ADDRESS DBUS_SYSTEM_BUS_ADDRESS XDG_RUNTIME_DIR'
    echo '[ -z "${TMPDIR:-}" ] || [ -d "$TMPDIR" ] || unset TMPDIR'
    echo 'export BREV_REALDEVICE_VM=1'
    echo "cd $(quote "$(pwd)")"
    printf 'exec'
    for argument in "$@"; do
        printf ' %s' "$(quote "$argument")"
    done
    echo
} > "$share/job.sh"

kernel=$cache/kernel
vm_run qemu-system-x86_64 \
    -accel tcg,thread=multi -smp 2 -m 1024 \
    -nodefaults -display none -no-reboot -nic none \
    -chardev stdio,id=console,signal=off -serial chardev:console \
    -kernel "$kernel/vmlinuz" -initrd "$initramfs" \
    -append "console=ttyS0 loglevel=2 panic=1 rdinit=/init" \
    -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
    -virtfs "local,path=$share,mount_tag=rig,security_model=none"
vm_exit
