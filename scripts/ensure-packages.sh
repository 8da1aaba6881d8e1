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
# Keeps only the missing packages in "$@".
for package in "$@"; do
    shift
    dpkg-query -W -f='${Status}\n' "$package" 2>/dev/null | grep -q "ok installed" || set -- "$@" "$package"
done
[ $# -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq ${options:+"$options"} "$@"
