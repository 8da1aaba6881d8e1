#!/bin/sh
# Makes this machine run 32-bit ARM programs under qemu-arm-static through
# binfmt_misc, with the fix-binary flag, so that they also run inside chroots
# and mount namespaces where the emulator's path is not visible. Fails when
# the kernel does not let that be set up (a container without binfmt_misc).
# Also installs arch-test, with which mmdebstrap checks that armhf runs here.
set -eu
repo="$(cd "$(dirname "$0")/.." && pwd)"
"$repo/scripts/ensure-packages.sh" qemu-user-static arch-test

entry=/proc/sys/fs/binfmt_misc/qemu-arm
registered() {
    grep -qx "enabled" "$entry" 2>/dev/null && grep -qx "flags: .*F.*" "$entry"
}
registered && exit 0

# A machine booted with systemd registers it when the package is installed;
# elsewhere it is done here, replacing an entry without the flag.
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
[ -e /proc/sys/fs/binfmt_misc/register ] ||
    $sudo mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
[ ! -e "$entry" ] || echo -1 | $sudo tee "$entry" >/dev/null
$sudo /lib/systemd/systemd-binfmt /usr/lib/binfmt.d/qemu-arm.conf
registered
