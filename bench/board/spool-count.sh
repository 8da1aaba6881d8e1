#!/bin/sh
# The board's job of scripts/bench-armhf-gadget.sh (run by scripts/board-vm.sh
# as root once systemd is up): the same print data goes from the host end of
# the gadget (/dev/usb/lp0) to the installed daemon, which spools it, and to a
# plain read(1023)/write loop (dd) on the printer's node, in turns, ROUNDS
# times. The reader runs on the second processor, everything else on the
# first; each stretch is marked for the instruction-counting plugin and
# printed as "counted READER BYTES", in the order of the plugin's stretches.
#
# Usage: spool-count.sh [MIB [ROUNDS]]   (default 16 MiB, 2 rounds)
set -eu
cd /run/board
mib=${1:-16}
rounds=${2:-2}

wait_until() {
    deadline=$(($(date +%s) + $1))
    shift
    until "$@" >/dev/null 2>&1; do
        [ "$(date +%s)" -lt "$deadline" ] || { echo "timed out: $*" >&2; exit 1; }
        sleep 0.2
    done
}
mark() { taskset -c 0 ./mark "$1"; }
# The host end stays open on descriptor 3 until the stretch ends: the
# gadget's reader sees the end of the file when the host closes it.
send() { taskset -c 0 dd if=/tmp/job bs=64k 2>/dev/null >&3; }
daemon_pid() { systemctl show -p MainPID --value brevdaemon.service; }
daemon_serves() { timeout 15 brevctl -t 8 status; }
written() { sed -n 's/^wchar: //p' "/proc/$1/io"; }
spooled() { [ $(($(written "$1") - $2)) -ge "$bytes" ]; }
printed() { [ "$(stat -c %s /var/spool/board/out)" -ge "$bytes" ]; }
sleeping() { grep -q '^State:[[:space:]]*S' "/proc/$1/status"; }

# Every process on the first processor; a reader started later is moved.
for pid in $(ps -e -o pid=); do
    taskset -a -p -c 0 "$pid" >/dev/null 2>&1 || true
done

sh gadget-setup.sh dummy_udc.0 >/dev/null
dpkg -i debs/brevdaemon_*.deb debs/brevctl_*.deb >/dev/null
wait_until 60 test -e /dev/usb/lp0
wait_until 60 daemon_serves

# Print data without an end marker: the daemon spools it and starts no lp
# inside the stretch; the marker follows once the stretch is counted.
{ printf '^K1'; head -c $((mib * 786432)) /dev/urandom | base64 -w 76; } > /tmp/job
bytes=$(($(stat -c %s /tmp/job) - 3))

count_daemon() {
    systemctl start brevdaemon.service
    wait_until 60 daemon_serves
    pid=$(daemon_pid)
    taskset -a -p -c 1 "$pid" >/dev/null
    before=$(written "$pid")
    exec 3>/dev/usb/lp0
    mark start
    send
    wait_until 300 spooled "$pid" "$before"
    mark end
    exec 3>&-
    echo "counted daemon $bytes"
    # The job ends, and is in CUPS' output, before the daemon stops.
    rm -f /var/spool/board/out
    printf 'E\r\n' > /dev/usb/lp0
    wait_until 300 printed
}

count_plain_loop() {
    systemctl stop brevdaemon.service
    # The gadget's read now and then returns 0 before the host is done: dd
    # is started again for the rest.
    # shellcheck disable=SC2016 # expanded by the reader's shell
    taskset -c 1 sh -c ': > /tmp/plain
        while [ "$(stat -c %s /tmp/plain)" -lt "$1" ]; do
            dd if=/dev/g_nira_printer of=/tmp/plain bs=1023 iflag=count_bytes oflag=append \
                conv=notrunc count=$(($1 - $(stat -c %s /tmp/plain))) 2>/tmp/plain.err || exit 1
        done' reader $((bytes + 3)) &
    reader=$!
    wait_until 10 sleeping "$reader"
    exec 3>/dev/usb/lp0
    mark start
    send
    wait "$reader"
    mark end
    exec 3>&-
    echo "counted plain-loop $bytes"
    cmp -s /tmp/job /tmp/plain || {
        echo "the plain loop's copy differs: $(cat /tmp/plain.err)" >&2
        systemctl status --no-pager brevdaemon.service >&2
        exit 1
    }
}

round=0
while [ "$round" -lt "$rounds" ]; do
    count_daemon
    count_plain_loop
    round=$((round + 1))
done
