#!/bin/sh
# Installs the Debian packages the build, the tests and the simulated printer
# need. Does nothing when they are all there.
set -eu
exec "$(dirname "$0")/ensure-packages.sh" cmake g++ make pkg-config qtbase5-dev libqapt-dev \
    dbus-daemon util-linux socat cups cups-client cups-bsd
