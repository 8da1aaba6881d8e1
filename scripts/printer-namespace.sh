#!/bin/sh
# Runs a program (the shipped daemon) as it runs on the printer, with its
# fixed paths redirected into STATE, a folder outside /tmp:
#
#   /dev/g_nira_printer  one end of a raw pseudo-terminal pair; the host's end
#                        is STATE/host (socat carries the bytes and writes a
#                        transcript of them to STATE/link.log)
#   /Home                STATE/Home
#   /tmp                 a private, empty tmpfs
#   /usr/bin/Fenwick     a stub that records its arguments in STATE/Fenwick.calls
#   dpkg (on PATH)       the same kind of stub: STATE/dpkg.calls; a number in
#                        STATE/dpkg.exit becomes its exit status
#   APT_CONFIG           a package database that lists only "cvipc" 1.0
#
# Programs that the caller puts into STATE/bin come first on PATH (a stub "lp").
# PROGRAM runs as a copy in STATE, since it may live under /tmp.
# The system bus is the one named by DBUS_SYSTEM_BUS_ADDRESS; CUPS_SERVER and
# the rest of the environment pass through.
#
# The redirections live in a private mount namespace and end with it. Mount
# points that did not exist are created for the run and removed afterwards,
# on every way out. A second run waits until the first has ended. Needs root.
#
# Usage: printer-namespace.sh STATE PROGRAM [ARGUMENT...]
set -eu

if [ $# -lt 2 ]; then
    echo "usage: $0 STATE PROGRAM [ARGUMENT...]" >&2
    exit 2
fi
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

created=""
link_pid=""
program_pid=""

cleanup() {
    trap - EXIT INT TERM
    [ -z "$program_pid" ] || kill -TERM "$program_pid" 2>/dev/null || true
    [ -z "$program_pid" ] || wait "$program_pid" 2>/dev/null || true
    [ -z "$link_pid" ] || kill -TERM "$link_pid" 2>/dev/null || true
    [ -z "$link_pid" ] || wait "$link_pid" 2>/dev/null || true
    for target in $created; do
        rm -rf "$target"
    done
}
trap cleanup EXIT
trap 'exit 143' TERM
trap 'exit 130' INT

# A stub that records its arguments, one call per line.
write_stub() {
    cat >"$state/bin/$1" <<EOF
#!/bin/sh
echo "\$@" >> '$state/$1.calls'
[ -f '$state/$1.exit' ] && exit "\$(cat '$state/$1.exit')"
exit 0
EOF
    chmod 755 "$state/bin/$1"
}

write_package_database() {
    mkdir -p "$state/apt/lists/partial" "$state/apt/cache/archives/partial" "$state/apt/empty"
    cat >"$state/apt/status" <<EOF
Package: cvipc
Status: install ok installed
Priority: optional
Section: misc
Installed-Size: 1
Maintainer: Simulated printer <printer@example.invalid>
Architecture: all
Version: 1.0
Description: printer software

EOF
    cat >"$state/apt/apt.conf" <<EOF
Dir::State::status "$state/apt/status";
Dir::State::Lists "$state/apt/lists/";
Dir::Cache "$state/apt/cache/";
Dir::Etc::SourceList "$state/apt/empty/sources.list";
Dir::Etc::SourceParts "$state/apt/empty/";
Dir::Etc::Parts "$state/apt/empty/";
Dir::Etc::PreferencesParts "$state/apt/empty/";
EOF
}

# A bind mount needs its target: make a missing one of the source's kind.
ensure_target() {
    [ -e "$2" ] && return 0
    if [ -d "$1" ]; then mkdir "$2"; else : >"$2"; fi
    created="$created $2"
}

start_link() {
    rm -f "$state/host" "$state/gadget"
    socat -v "pty,rawer,link=$state/host" "pty,rawer,link=$state/gadget" 2>>"$state/link.log" &
    link_pid=$!
    tries=0
    until [ -e "$state/host" ] && [ -e "$state/gadget" ]; do
        tries=$((tries + 1))
        if [ "$tries" -gt 100 ] || ! kill -0 "$link_pid" 2>/dev/null; then
            echo "$0: socat did not make the pseudo-terminal pair" >&2
            exit 1
        fi
        sleep 0.1
    done
}

# One simulated printer at a time: the redirected paths are the machine's own.
exec 9>/run/lock/brev-printer-namespace.lock
flock 9

mkdir -p "$state/bin" "$state/Home"
write_stub dpkg
write_stub Fenwick
write_package_database
start_link

program=$(command -v "$1")
shift
mkdir -p "$state/program"
cp "$program" "$state/program/"
set -- "$state/program/$(basename "$program")" "$@"

ensure_target "$state/gadget" /dev/g_nira_printer
ensure_target "$state/Home" /Home
ensure_target "$state/bin/Fenwick" /usr/bin/Fenwick

PATH="$state/bin:$PATH" APT_CONFIG="$state/apt/apt.conf" \
    unshare --mount --propagation private -- sh -c '
        state=$1
        shift
        mount --bind "$state/gadget" /dev/g_nira_printer
        mount --bind "$state/Home" /Home
        mount --bind "$state/bin/Fenwick" /usr/bin/Fenwick
        mount -t tmpfs -o mode=1777 tmpfs /tmp
        exec "$@"' redirect "$state" "$@" &
program_pid=$!
status=0
wait "$program_pid" || status=$?
program_pid=""
exit "$status"
