#!/bin/sh
# Installs those of the Debian packages named as arguments that are missing.
# Does nothing when they are all there. With --no-install-recommends first,
# the packages' recommendations are left out (qemu's recommend a desktop's
# worth of libraries the test rig never uses).
#
#   ensure-packages.sh [--no-install-recommends] PACKAGE...
set -eu
options=""
if [ "${1:-}" = "--no-install-recommends" ]; then
    options=$1
    shift
fi
missing=""
for package in "$@"; do
    dpkg-query -W -f='${Status}\n' "$package" 2>/dev/null | grep -q "ok installed" || missing="$missing $package"
done
[ -z "$missing" ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq $options $missing
