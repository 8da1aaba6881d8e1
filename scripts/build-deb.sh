#!/bin/sh
# Builds the Debian packages of the daemon and of the host tool from the last
# commit, leaves the .deb files in build-deb/, shows what the packages hold
# and checks the daemon's systemd unit with systemd-analyze (verify, and its
# exposure). Uncommitted changes are not packaged.
# Can be run again; it installs what it misses.
#
#   scripts/build-deb.sh          for this machine, in a clean clone under a
#                                 temp dir (dpkg-buildpackage writes beside it)
#   scripts/build-deb.sh armhf    for the board, cross-built in a throwaway
#                                 Debian 12 chroot
set -eu
repo="$(cd "$(dirname "$0")/.." && pwd)"
out="$repo/build-deb"
target="${1:-}"
mirror="${DEBIAN_MIRROR:-http://deb.debian.org/debian}"

"$repo/scripts/ensure-packages.sh" git systemd
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/debs"

case "$target" in
"")
    "$repo/scripts/install-deps.sh"
    "$repo/scripts/ensure-packages.sh" build-essential debhelper
    git clone -q "$repo" "$work/brevdaemon"
    (cd "$work/brevdaemon" && dpkg-buildpackage -us -uc -b) > "$work/build.log" 2>&1 || {
        tail -n 40 "$work/build.log"
        echo "dpkg-buildpackage failed" >&2
        exit 1
    }
    cp "$work"/*.deb "$work/debs/"
    ;;
armhf)
    # Cross-built: dpkg-buildpackage -a armhf in a throwaway Debian 12 chroot
    # of this machine's architecture with armhf added. A native build under
    # qemu-user takes far longer (README, "The virtual board"). brevctl writes
    # its own manual page, so that build runs it under qemu-user.
    "$repo/scripts/ensure-packages.sh" mmdebstrap
    mkdir -p "$work/brevdaemon"
    git -C "$repo" archive HEAD | tar -x -C "$work/brevdaemon"
    # The chroot installs the Build-Depends from debian/control itself.
    # shellcheck disable=SC2016 # mmdebstrap gives each hook the chroot as $1
    mmdebstrap --quiet --variant=buildd --architectures="$(dpkg --print-architecture),armhf" \
        --include=crossbuild-essential-armhf,qemu-user-static \
        --customize-hook='mkdir -p "$1/build"' \
        --customize-hook="copy-in $work/brevdaemon /build" \
        --customize-hook='chroot "$1" sh -c "cd /build/brevdaemon && apt-get -qq build-dep -y -a armhf ./ >/dev/null"' \
        --customize-hook='chroot "$1" sh -c "cd /build/brevdaemon && dpkg-buildpackage -a armhf -us -uc -b >../build.log 2>&1 || { tail -n 40 ../build.log; exit 1; }"' \
        --customize-hook='chroot "$1" sh -c "mkdir /debs && cp /build/*.deb /debs/"' \
        --customize-hook="sync-out /debs $work/debs" \
        bookworm /dev/null "deb $mirror bookworm main" "deb $mirror bookworm-updates main"
    ;;
*)
    echo "usage: $0 [armhf]" >&2
    exit 2
    ;;
esac

built="$(ls "$work"/debs/brevdaemon_*.deb)"
mkdir -p "$out"
rm -f "$out"/*_"$(dpkg-deb -f "$built" Architecture)".deb
cp "$work"/debs/*.deb "$out"/
for package in "$work"/debs/*.deb; do
    echo "== $out/$(basename "$package")"
    dpkg -c "$package"
done
deb="$out/$(basename "$built")"

# The unit is checked where the package puts it, beside the system's own
# units, so that its ExecStart binary, the targets it names and the manual
# page of its Documentation key all exist.
root="$work/root"
mkdir -p "$root/lib/systemd/system" "$root/usr/bin"
cp -a /lib/systemd/system/. "$root/lib/systemd/system/"
# The unit's start check runs test(1).
cp /usr/bin/test "$root/usr/bin/"
dpkg-deb -x "$deb" "$root"
echo "== systemd-analyze verify brevdaemon.service"
findings="$(MANPATH="$root/usr/share/man" \
    systemd-analyze verify --root="$root" /lib/systemd/system/brevdaemon.service 2>&1)"
if [ -n "$findings" ]; then
    echo "$findings"
    exit 1
fi
echo "no findings"

# How exposed the daemon's unit leaves the board; the unit's comments say why
# each remaining exposure is there.
echo "== systemd-analyze security brevdaemon.service"
systemd-analyze security --offline=yes --root="$root" brevdaemon.service | tail -n 1
