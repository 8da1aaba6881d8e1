#!/bin/sh
# Brings up a whole simulated printer on this machine: a private system bus,
# the service simulator (brevsim) and the shipped daemon, unmodified, in a
# mount namespace where its fixed paths lead to a pseudo-terminal and a
# scratch folder (scripts/printer-namespace.sh). The host's end of the link is
# a path that brevctl talks to. What you type goes to the simulator. Ctrl-C
# (or Ctrl-D) stops everything and removes what it made.
#
# Usage: scripts/run-simulated-printer.sh [BUILD_DIR]   (default: build)
set -eu
cd "$(dirname "$0")/.."
build=${1:-build}

if [ "${2:-}" != "--built" ]; then
    scripts/install-deps.sh
    cmake -S . -B "$build" >/dev/null
    cmake --build "$build" -j"$(nproc)" --target brevdaemon brevsim brevctl
    # The mount namespace needs root; the build stays the caller's.
    [ "$(id -u)" -eq 0 ] || exec sudo "$0" "$build" --built
fi

brevsim=$build/tools/simulator/brevsim
brevctl=$(realpath "$build/tools/brevctl/brevctl")
state=$(mktemp -d /var/tmp/brevprinter.XXXXXX)
chmod 755 "$state"
bus_pid=""
simulator_pid=""
printer_pid=""

cleanup() {
    trap - EXIT INT TERM
    exec 3>&-
    for pid in $printer_pid $simulator_pid $bus_pid; do
        kill -TERM "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$state"
    echo "Simulated printer stopped."
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

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
# the printer's print command.
start_simulator() {
    mkfifo "$state/simulator.in"
    : >"$state/events.log"
    "$brevsim" --keep-running <"$state/simulator.in" >>"$state/events.log" 2>&1 &
    simulator_pid=$!
    exec 3>"$state/simulator.in"
    wait_for "the simulator" grep -q "^ready" "$state/events.log"
    # A printer with a supply and two ribbons in it: the print engine hands
    # the daemon these when it connects.
    cat >&3 <<EOF
emit r6 R6_R6SupplyID SUP-0001
emit r6 R6_R6SupplyUID 04A1B2C3D4E5F601
emit r6 R6_R6RibbonIDs RIB-0001,RIB-0002
emit r6 R6_R6Ribbon1UID 04A1B2C3D4E5F611
emit r6 R6_R6Ribbon2UID 04A1B2C3D4E5F612
EOF
}

# The printer's "lp": keeps the job where you can see it, and has the print
# engine report its queue complete, which reopens the port for the next job.
write_print_command() {
    mkdir -p "$state/bin" "$state/jobs"
    cat >"$state/bin/lp" <<EOF
#!/bin/sh
number=\$((\$(ls '$state/jobs' | wc -l) + 1))
cp "\$1" '$state/jobs/job-'\$number.cvzl
echo "printer: job \$number printed to $state/jobs/job-\$number.cvzl (\$(wc -c <"\$1") bytes)" >>'$state/events.log'
echo 'emit r6 R6_PrintQueueComplete' >'$state/simulator.in'
EOF
    chmod 755 "$state/bin/lp"
}

start_printer() {
    scripts/printer-namespace.sh "$state" "$build/app/brevdaemon" 2>"$state/brevdaemon.log" &
    printer_pid=$!
    wait_for "the printer link" test -e "$state/host"
    # brevctl may run as the user who asked for the printer.
    [ -z "${SUDO_USER:-}" ] || chown "$SUDO_USER" "$(realpath "$state/host")"
}

# The link's traffic, one time-stamped line per piece, and the simulator.
show_link() {
    tail --pid=$$ -n +1 -f "$state/link.log" &
    tail --pid=$$ -n 0 -f "$state/events.log" &
}

start_bus
start_simulator
write_print_command
start_printer

cat <<EOF

A simulated printer is running.
  host end of the link   $state/host
  daemon log             $state/brevdaemon.log
  printed jobs           $state/jobs/
  received updates       $state/Home/   (installer calls: $state/dpkg.calls)

In another terminal, talk to it as a host does:
  $brevctl -d $state/host supply
  ... status | ids | uids | ribbons | version | network | print FILE | update FILE.deb
  ... watch   (every line from the printer; run no other brevctl meanwhile)

Type simulator commands here, for example:
  emit supplyd SUPPLYD_SupplyPercentChanged 0.42   the host gets ~S,SRFIDRES,42
  emit r6 R6_R6SupplyID SUP-1                      the host gets SIRES,SUP-1
  emit r6 R6_Error 3                               the host gets ~S,STATUSRES,3
  reply supplyd supplyRibbon1Percent 0.1           what the next query answers
  help                                             every command
Below: the link (PING every 5 s) and the simulator. Ctrl-C stops everything.

EOF
show_link
while IFS= read -r command; do
    printf '%s\n' "$command" >&3
done
