#!/bin/sh
# Brings up a whole simulated printer on this machine: a private system bus,
# the service simulator (brevsim) and the shipped daemon, unmodified, in a
# mount namespace where its fixed paths lead to a simulated USB link and a
# scratch folder (scripts/printer-namespace.sh). The host's end of the link is
# /var/tmp/brevprinter/host, which brevctl talks to once the shell has read
# /var/tmp/brevprinter/env. What you type goes to the simulator. Ctrl-C,
# Ctrl-D, "quit", closing the terminal or ending the script stop everything
# and remove what it made.
#
# Usage: scripts/run-simulated-printer.sh [BUILD_DIR]   (default: build)
set -eu
cd "$(dirname "$0")/.."
build=${1:-build}

if [ "${2:-}" != "--built" ]; then
    scripts/install-deps.sh --run
    cmake -S . -B "$build" >/dev/null
    cmake --build "$build" -j"$(nproc)" --target brevdaemon packageinstaller brevsim brevctl brevlink
    # The mount namespace needs root; the build stays the caller's.
    [ "$(id -u)" -eq 0 ] || exec sudo "$0" "$build" --built
fi

build=$(realpath "$build")
brevsim=$build/tools/simulator/brevsim
export BREV_LINK="$build/tools/simulator/brevlink"
export BREV_INSTALLER="$build/components/packageinstaller/install-package"
bus_pid=""
simulator_pid=""
printer_pid=""
state=""

cleanup() {
    trap - EXIT
    trap "" INT TERM HUP
    exec 3>&-
    [ -z "$state" ] || simulator_pid="$simulator_pid $(cat "$state/simulator.pid" 2>/dev/null || true)"
    for pid in $printer_pid $simulator_pid $bus_pid; do
        kill -TERM "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    [ -z "$state" ] || rm -rf "$state"
    # The terminal may be gone already.
    echo "Simulated printer stopped." 2>/dev/null || true
}
# Each end cleans up itself rather than through the exit trap, which a shell
# may skip when it exits from within a trap.
trap cleanup EXIT
trap 'cleanup; exit 130' INT
trap 'cleanup; exit 143' TERM
trap 'cleanup; exit 129' HUP

# The printer's folder, at the same place every run, so that its host path
# stays the same; a second simulated printer meanwhile gets one of its own.
# What a printer ended by force left behind is removed first.
make_state() {
    stable=/var/tmp/brevprinter
    if [ -d "$stable" ] && [ ! -L "$stable" ] && [ "$(stat -c %u "$stable")" -eq 0 ] &&
        ! kill -0 "$(cat "$stable/pid" 2>/dev/null || echo none)" 2>/dev/null; then
        rm -rf "$stable"
    fi
    if mkdir -m 755 "$stable" 2>/dev/null; then
        state=$stable
    else
        state=$(mktemp -d /var/tmp/brevprinter.XXXXXX)
        chmod 755 "$state"
        echo "$stable is in use by another simulated printer: this one is in $state."
    fi
    echo $$ >"$state/pid"
}

# wait_for WHAT COMMAND [ARGS...]: runs the command until it succeeds, for
# at most 30 s.
wait_for() {
    what=$1
    shift
    tries=0
    until "$@"; do
        tries=$((tries + 1))
        if [ "$tries" -gt 300 ]; then
            echo "$0: timed out waiting for $what" >&2
            exit 1
        fi
        sleep 0.1
    done
}

# The stock session bus lets anyone own any name, as the services need; it
# stands in for the system bus at a socket of its own.
start_bus() {
    dbus-daemon --session --nofork --address="unix:path=$state/system_bus_socket" 2>"$state/bus.log" &
    bus_pid=$!
    export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$state/system_bus_socket"
    wait_for "the private bus" test -S "$state/system_bus_socket"
}

# The simulator reads its commands from a FIFO, fed by what you type and by
# the printer's print command. However it ends (its own "quit" included),
# the whole printer ends with it.
start_simulator() {
    mkfifo "$state/simulator.in"
    : >"$state/events.log"
    (
        trap - EXIT INT TERM HUP
        "$brevsim" --keep-running <"$state/simulator.in" >>"$state/events.log" 2>&1 &
        echo $! >"$state/simulator.pid"
        wait $! || true
        kill -TERM $$ 2>/dev/null || true
    ) &
    simulator_pid=$!
    exec 3>"$state/simulator.in"
    wait_for "the simulator" grep -q "^ready" "$state/events.log"
    # A printer with a supply and two ribbons in it: the print engine hands
    # the daemon these when it connects.
    cat >&3 <<EOF2
emit r6 R6_R6SupplyID SUP-0001
emit r6 R6_R6SupplyUID 04A1B2C3D4E5F601
emit r6 R6_R6RibbonIDs RIB-0001,RIB-0002
emit r6 R6_R6Ribbon1UID 04A1B2C3D4E5F611
emit r6 R6_R6Ribbon2UID 04A1B2C3D4E5F612
EOF2
}

# The printer's "lp": keeps a copy of the job that anyone may read, and has
# the print engine report its queue complete, which reopens the port for the
# next job.
write_print_command() {
    mkdir -p "$state/bin" "$state/jobs"
    cat >"$state/bin/lp" <<EOF2
#!/bin/sh
number=\$((\$(ls '$state/jobs' | wc -l) + 1))
copy='$state/jobs/job-'\$number.cvzl
cat "\$1" >"\$copy"
chmod 644 "\$copy"
echo "printer: job \$number printed to \$copy (\$(wc -c <"\$1") bytes)" >>'$state/events.log'
echo 'emit r6 R6_PrintQueueComplete' >'$state/simulator.in'
EOF2
    chmod 755 "$state/bin/lp"
}

start_printer() {
    scripts/printer-namespace.sh "$state" "$build/app/brevdaemon" 2>"$state/brevdaemon.log" &
    printer_pid=$!
    wait_for "the printer link" test -e "$state/host"
    # brevctl may run as the user who asked for the printer.
    [ -z "${SUDO_USER:-}" ] || chown "$SUDO_USER" "$(realpath "$state/host")"
    cat >"$state/env" <<EOF2
# Read by a shell (. $state/env), lets brevctl talk to the simulated printer.
BREVCTL_DEVICE=$state/host
export BREVCTL_DEVICE
case ":\$PATH:" in *":$build/tools/brevctl:"*) ;; *) PATH="$build/tools/brevctl:\$PATH" ;; esac
EOF2
}

# The link's traffic, one time-stamped line per line of commands and
# answers, and the simulator.
show_link() {
    tail --pid=$$ -n +1 -f "$state/link.log" &
    tail --pid=$$ -n 0 -f "$state/events.log" &
}

make_state
start_bus
start_simulator
write_print_command
start_printer

cat <<EOF2

A simulated printer is running.
  host end of the link   $state/host
  daemon log             $state/brevdaemon.log
  printed jobs           $state/jobs/
  received updates       $state/Home/   (installer calls: $state/dpkg.calls)

In another terminal, talk to it as a host does:
  . $state/env
  brevctl supply
  ... status | ids | uids | ribbons | version | network | print FILE | update FILE.deb
  ... watch   (every line from the printer; run no other brevctl meanwhile)

Type simulator commands here, for example:
  emit supplyd SUPPLYD_SupplyPercentChanged 0.42   the host gets ~S,SRFIDRES,42
  emit r6 R6_R6SupplyID SUP-1                      the host gets SIRES,SUP-1
  emit r6 R6_Error 3                               the host gets ~S,STATUSRES,3
  reply supplyd supplyRibbon1Percent 0.1           what the next query answers
  help                                             every command
Below: the link (PING every 5 s) and the simulator. Ctrl-C, Ctrl-D or quit
stops everything.

EOF2
show_link
while IFS= read -r command; do
    case $command in
    quit | exit) break ;;
    esac
    printf '%s\n' "$command" >&3
done
