#!/bin/sh
# Builds the Debian package of the daemon from the last commit, in a clean
# clone under a temp dir (dpkg-buildpackage writes beside the source tree),
# and leaves the .deb files in build-deb/. Then shows their contents and
# checks the systemd unit with systemd-analyze. Uncommitted changes are not
# packaged. Can be run again; it installs what it misses.
set -eu
repo="$(cd "$(dirname "$0")/.." && pwd)"
out="$repo/build-deb"

"$repo/scripts/install-deps.sh"
"$repo/scripts/ensure-packages.sh" build-essential debhelper git systemd

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
git clone -q "$repo" "$work/brevdaemon"
(cd "$work/brevdaemon" && dpkg-buildpackage -us -uc -b) > "$work/build.log" 2>&1 || {
    tail -n 40 "$work/build.log"
    echo "dpkg-buildpackage failed" >&2
    exit 1
}
mkdir -p "$out"
rm -f "$out"/*.deb
cp "$work"/*.deb "$out"/
deb="$(ls "$out"/brevdaemon_*.deb)"
echo "== $deb"
dpkg -c "$deb"

# The unit is checked where the package puts it, beside the system's own
# units, so that its ExecStart binary, the targets it names and the manual
# page of its Documentation key all exist.
root="$work/root"
mkdir -p "$root/lib/systemd/system"
cp -a /lib/systemd/system/. "$root/lib/systemd/system/"
dpkg-deb -x "$deb" "$root"
echo "== systemd-analyze verify brevdaemon.service"
findings="$(MANPATH="$root/usr/share/man" \
    systemd-analyze verify --root="$root" /lib/systemd/system/brevdaemon.service 2>&1)"
if [ -n "$findings" ]; then
    echo "$findings"
    exit 1
fi
echo "no findings"
