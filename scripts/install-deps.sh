#!/bin/sh
# Installs the Debian packages the build, the tests and the simulated printer
# need. Does nothing when they are all there.
set -eu
packages="cmake g++ make pkg-config qtbase5-dev libqapt-dev dbus-daemon util-linux socat cups cups-client cups-bsd"
missing=""
for package in $packages; do
    dpkg-query -W -f='${Status}\n' "$package" 2>/dev/null | grep -q "ok installed" || missing="$missing $package"
done
[ -z "$missing" ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq $missing
