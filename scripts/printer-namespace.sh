#!/bin/sh
# Runs a program (the shipped daemon) as it runs on the printer, with its
# fixed paths redirected into STATE, a folder outside /tmp:
#
#   /dev/g_nira_printer  one end of the simulated USB link; the host's end is
#                        STATE/host (the program named by BREV_LINK, brevlink,
#                        carries the bytes; STATE/link.log has a line per line
#                        of commands and answers, data summed up)
#   /Home                STATE/Home
#   /tmp                 a private, empty tmpfs
#   /usr/bin/Fenwick     a stub that records its arguments in STATE/Fenwick.calls
#   /usr/libexec/brevdaemon/install-package
#                        the package installer named by BREV_INSTALLER (the
#                        build tree's), which runs the stub dpkg
#   dpkg (on PATH)       the same kind of stub: STATE/dpkg.calls; a number in
#                        STATE/dpkg.exit becomes its exit status
#   APT_CONFIG           a package database that lists only "cvipc" 1.0
#
# Programs that the caller puts into STATE/bin come first on PATH (a stub "lp").
# PROGRAM runs as a copy in STATE, since it may live under /tmp.
# The system bus is the one named by DBUS_SYSTEM_BUS_ADDRESS; CUPS_SERVER and
# the rest of the environment pass through.
#
# The redirections live in a private mount namespace and end with it: the
# program runs in a root of its own, built there from the machine's folders,
# so nothing is created on the machine's own root and any number of runs can
# share the machine. Needs root.
#
# Usage: printer-namespace.sh STATE PROGRAM [ARGUMENT...]
set -eu

if [ $# -lt 2 ]; then
    echo "usage: $0 STATE PROGRAM [ARGUMENT...]" >&2
    exit 2
fi
scripts=$(dirname "$(realpath "$0")")
state=$(realpath "$1")
shift
case "$state" in
/tmp | /tmp/*)
    echo "$0: $state lies under /tmp, which the program does not see" >&2
    exit 2
    ;;
esac
if [ "$(id -u)" -ne 0 ]; then
    echo "$0: needs root for the mount namespace" >&2
    exit 2
fi
link_program=${BREV_LINK:-}
if [ ! -x "$link_program" ]; then
    echo "$0: BREV_LINK must name the link program (build/tools/simulator/brevlink)" >&2
    exit 2
fi
installer=${BREV_INSTALLER:-}
if [ ! -x "$installer" ]; then
    echo "$0: BREV_INSTALLER must name the package installer (build/components/packageinstaller/install-package)" >&2
    exit 2
fi

link_pid=""
program_pid=""

# shellcheck disable=SC2317 # run by the trap
cleanup() {
    trap - EXIT INT TERM
    [ -z "$program_pid" ] || kill -TERM "$program_pid" 2>/dev/null || true
    [ -z "$program_pid" ] || wait "$program_pid" 2>/dev/null || true
    [ -z "$link_pid" ] || kill -TERM "$link_pid" 2>/dev/null || true
    [ -z "$link_pid" ] || wait "$link_pid" 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 143' TERM
trap 'exit 130' INT
trap 'exit 129' HUP

start_link() {
    rm -f "$state/host" "$state/gadget"
    "$link_program" "$state/host" "$state/gadget" "$state/link.log" &
    link_pid=$!
    tries=0
    until [ -e "$state/host" ] && [ -e "$state/gadget" ]; do
        tries=$((tries + 1))
        if [ "$tries" -gt 100 ] || ! kill -0 "$link_pid" 2>/dev/null; then
            echo "$0: $link_program did not make the link" >&2
            exit 1
        fi
        sleep 0.1
    done
}

mkdir -p "$state/bin" "$state/Home" "$state/root" "$state/usrbin/upper" "$state/usrbin/work" \
    "$state/libexec/upper/brevdaemon" "$state/libexec/work"
cp "$installer" "$state/libexec/upper/brevdaemon/install-package"
"$scripts/fake-machine.sh" "$state" dpkg Fenwick
start_link

program=$(command -v "$1")
shift
mkdir -p "$state/program"
cp "$program" "$state/program/"
set -- "$state/program/$(basename "$program")" "$@"

# shellcheck disable=SC2016 # the inner shell expands its own variables
PATH="$state/bin:$PATH" APT_CONFIG="$state/apt/apt.conf" \
    unshare --mount --propagation private -- sh -c '
        set -e
        state=$1
        root=$state/root
        shift
        # Every folder of the machine, as it is, but for /dev, /tmp and /Home.
        mount -t tmpfs -o mode=755 tmpfs "$root"
        for entry in /*; do
            name=${entry#/}
            case $name in dev | tmp | Home) continue ;; esac
            if [ -L "$entry" ]; then
                cp -P "$entry" "$root/$name"
            elif [ -d "$entry" ]; then
                mkdir "$root/$name"
                mount --rbind "$entry" "$root/$name"
            fi
        done
        # A /dev of its own: the usual nodes, the machine'"'"'s terminals, and
        # the link'"'"'s end as the gadget.
        mkdir "$root/dev" "$root/tmp" "$root/Home"
        mount -t tmpfs -o mode=755 tmpfs "$root/dev"
        cp -a /dev/null /dev/zero /dev/full /dev/random /dev/urandom /dev/tty "$root/dev/"
        for folder in pts shm mqueue; do
            [ -d "/dev/$folder" ] || continue
            mkdir "$root/dev/$folder"
            mount --rbind "/dev/$folder" "$root/dev/$folder"
        done
        ln -s /proc/self/fd "$root/dev/fd"
        ln -s "$(readlink -f "$state/gadget")" "$root/dev/g_nira_printer"
        mount -t tmpfs -o mode=1777 tmpfs "$root/tmp"
        mount --bind "$state/Home" "$root/Home"
        # The update program: a stub over the machine'"'"'s /usr/bin.
        mount -t overlay overlay \
            -o "lowerdir=/usr/bin,upperdir=$state/usrbin/upper,workdir=$state/usrbin/work" "$root/usr/bin"
        cp "$state/bin/Fenwick" "$root/usr/bin/Fenwick"
        # The package installer, over the machine'"'"'s /usr/libexec.
        mount -t overlay overlay \
            -o "lowerdir=/usr/libexec,upperdir=$state/libexec/upper,workdir=$state/libexec/work" "$root/usr/libexec"
        cd /
        exec chroot "$root" "$@"' redirect "$state" "$@" &
program_pid=$!
status=0
wait "$program_pid" || status=$?
program_pid=""
exit "$status"
