#!/bin/sh
# The printer as it ships, on the virtual board (run by scripts/board-vm.sh
# as the board's job, as root, once systemd is up): the packages installed
# with dpkg, the daemon under its unit, the kernel's gadget looped back to the
# host driver, real CUPS and the simulated sibling services. Each case prints
# PASS or FAIL; the exit status is the number of failures.
#
# The cases run in one boot, in order: later ones use what earlier ones set
# up (the installed packages, the printed job, the updated version).
# The cases are functions run through check and wait_until.
# shellcheck disable=SC2317
set -u
cd /run/board || exit 1
failures=0

pass() { echo "PASS: $*"; }
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
# check DESCRIPTION COMMAND...: one case, passed when COMMAND succeeds.
check() {
    description=$1
    shift
    if "$@"; then pass "$description"; else fail "$description"; fi
}
# Runs COMMAND... until it succeeds, for at most $1 seconds.
wait_until() {
    deadline=$(($(date +%s) + $1))
    shift
    until "$@" >/dev/null 2>&1; do
        [ "$(date +%s)" -lt "$deadline" ] || return 1
        sleep 0.2
    done
}
# A simulator command for service $1 (r6, supplyd, cvutility).
simulate() { echo "$2" > "/run/brevsim/$1"; }
# brevctl under a bound of its own: a host's write to usblp blocks while the
# printer side takes nothing, whatever brevctl's timeout says.
brevctl() { timeout 150 /usr/bin/brevctl "$@"; }
answers() { timeout 15 /usr/bin/brevctl -t 8 status >/dev/null 2>&1; }
daemon_pid() { systemctl show -p MainPID --value brevdaemon.service; }
daemon_log() { journalctl -b -o cat -u brevdaemon.service; }

gadget=/sys/kernel/config/usb_gadget/brevprinter
gadget_up() {
    sh ./gadget-setup.sh dummy_udc.0 >/dev/null && wait_until 30 test -e /dev/usb/lp0
}
gadget_down() {
    echo "" > "$gadget"/UDC
    rm "$gadget"/configs/c.1/printer.usb0
    rmdir "$gadget"/configs/c.1/strings/0x409 "$gadget"/configs/c.1 \
        "$gadget"/functions/printer.usb0 "$gadget"/strings/0x409 "$gadget"
    wait_until 10 test ! -e /dev/g_printer0
}

# A package of the name whose version the daemon reports.
make_cvipc() {
    mkdir -p "/tmp/cvipc-$1/DEBIAN"
    printf 'Package: cvipc\nVersion: %s\nArchitecture: all\nMaintainer: board <board@localhost>\nDescription: stand-in\n' "$1" \
        > "/tmp/cvipc-$1/DEBIAN/control"
    dpkg-deb -b "/tmp/cvipc-$1" "/tmp/cvipc_$1_all.deb" >/dev/null
}
reports_version() { timeout 15 /usr/bin/brevctl -t 8 version 2>/dev/null | grep -q "$1"; }

echo "board: up, the job starts $(cut -d' ' -f1 /proc/uptime) s after boot"

# --- installing on a board whose gadget is up --------------------------------

make_cvipc 1.0
dpkg -i /tmp/cvipc_1.0_all.deb >/dev/null
gadget_up
dpkg -i debs/brevdaemon_*.deb debs/brevctl_*.deb >/tmp/install.log 2>&1 || cat /tmp/install.log
check "a fresh install serves with nothing done by hand" wait_until 30 answers
check "the reported version is the installed package's" reports_version 1.0

# --- printing through CUPS -----------------------------------------------------

{ printf '^K1'; head -c 200000 /dev/urandom | base64; printf 'E\r\n'; } > /tmp/job
# brevctl returns once the printer reads again: after the print engine,
# played here, has reported its queue complete.
brevctl print /tmp/job >/dev/null &
printing=$!
check "a print job reaches the CUPS queue's output byte for byte" \
    wait_until 60 cmp -s /tmp/job /var/spool/board/out
simulate r6 "emit r6 R6_PrintQueueComplete"
check "brevctl print returns once the printer reads again" wait "$printing"

# The job file is not the daemon's to move: a job lp did not take is kept
# as a copy in the daemon's private /tmp.
failed_job_kept() {
    cupsreject board
    printf '^K1refused jobE\r\n' > /tmp/refused
    brevctl print /tmp/refused >/dev/null
    kept=$?
    cupsaccept board
    [ "$kept" -eq 0 ] && cmp -s /tmp/refused "/proc/$(daemon_pid)/root/tmp/temp.cvzl.failed"
}
check "a job lp did not take is kept as a copy" failed_job_kept
next_job_prints() {
    printf '^K1next jobE\r\n' > /tmp/next
    brevctl print /tmp/next >/dev/null &
    printing=$!
    wait_until 60 cmp -s /tmp/next /var/spool/board/out
    printed=$?
    simulate r6 "emit r6 R6_PrintQueueComplete"
    wait "$printing" && [ "$printed" -eq 0 ]
}
check "the job after it prints" next_job_prints

# --- updates -------------------------------------------------------------------

installed_by_install_unit() {
    [ "$(dpkg-query -W -f='${Version}' cvipc)" = 2.0 ] &&
        journalctl -b -o cat -u 'brevdaemon-install@*' | grep -q "^Setting up cvipc (2.0)"
}
update_through_link() { brevctl -t 120 update "$1" >/dev/null; }
make_cvipc 2.0
check "an update through the link is installed and reported done" update_through_link /tmp/cvipc_2.0_all.deb
check "dpkg installed it in the package's install unit, outside the daemon's" installed_by_install_unit
check "the reported version follows the update" wait_until 10 reports_version 2.0

update_program_outside_sandbox() {
    wait_until 10 test -s /var/log/fenwick-starts &&
        grep -q "^--internal-usb .*/brevdaemon-update@" /var/log/fenwick-starts &&
        ! grep -q brevdaemon.service /var/log/fenwick-starts
}
printf '^UPDATE\r\n' | timeout 10 tee /dev/usb/lp0 >/dev/null
check "^UPDATE starts the update program in the package's update unit" update_program_outside_sandbox

# --- the daemon holds no root -------------------------------------------------

# Field $2 of line $1 of the daemon's /proc status.
daemon_status() { awk -v key="$1:" -v field="$2" '$1 == key { print $field }' "/proc/$(daemon_pid)/status"; }
no_root_no_capability() {
    [ "$(daemon_status Uid 2)" != 0 ] && [ "$(daemon_status Uid 3)" != 0 ] && [ "$(daemon_status Gid 3)" != 0 ] &&
        for set in CapEff CapPrm CapBnd CapAmb; do
            [ "$(daemon_status "$set" 2)" = 0000000000000000 ] || return 1
        done
}
check "the daemon runs as a user of its own with no capability" no_root_no_capability

# What the daemon's process may run, as its user and groups.
as_daemon() {
    setpriv --reuid="$(daemon_status Uid 2)" --regid="$(daemon_status Gid 2)" --init-groups "$@"
}
no_systemd_run() { as_daemon true && ! as_daemon systemd-run --quiet --wait --collect true 2>/dev/null; }
check "systemd-run from the daemon's user is refused" no_systemd_run

call_root=/usr/libexec/brevdaemon/call-root
root_units_refuse() {
    # Anything but a file in the set-aside folder, even from the daemon.
    ! as_daemon timeout 60 "$call_root" /run/brevdaemon/install --allow-downgrade /tmp/cvipc_1.0_all.deb &&
        journalctl -b -o cat -u 'brevdaemon-install@*' | grep -q "request refused: not a file in" &&
        # Nothing from anyone outside the daemon's group.
        setpriv --reuid=nobody --regid=nogroup --clear-groups "$call_root" /run/brevdaemon/update 2>&1 |
        grep -q "cannot connect: Permission denied" &&
        [ "$(dpkg-query -W -f='${Version}' cvipc)" = 2.0 ] && [ "$(wc -l < /var/log/fenwick-starts)" = 1 ]
}
check "the root units do their one job for the daemon, and nothing else" root_units_refuse

exposure() { systemd-analyze security brevdaemon.service 2>/dev/null | sed -n 's/.*Overall exposure level for brevdaemon.service: \([0-9.]*\).*/\1/p'; }
exposure_at_most_before() {
    echo "systemd-analyze security brevdaemon.service: $(exposure)"
    awk "BEGIN { exit !($(exposure) <= 1.8) }"
}
check "systemd-analyze security rates the unit at most 1.8, as the root daemon" exposure_at_most_before

# --- the daemon, its services and its device failing ------------------------------

restarted_and_serving() {
    killed=$(daemon_pid)
    systemctl kill -s KILL brevdaemon.service
    wait_until 30 sh -c "[ \"\$(systemctl show -p MainPID --value brevdaemon.service)\" != 0 ] &&
        [ \"\$(systemctl show -p MainPID --value brevdaemon.service)\" != $killed ]" &&
        wait_until 20 answers
}
check "the daemon killed with SIGKILL is restarted and serves" restarted_and_serving

notices_after_sibling_restart() {
    systemctl restart brevsim@supplyd.service || return 1
    brevctl watch > /tmp/watch.out 2>&1 &
    watcher=$!
    wait_until 10 sh -c "ls -l /proc/$watcher/fd | grep -q /dev/usb/lp0"
    simulate supplyd "emit supplyd SUPPLYD_SupplyPercentChanged 0.42"
    wait_until 10 grep -q "~S,SRFIDRES,42" /tmp/watch.out
    seen=$?
    kill "$watcher"
    wait "$watcher"
    return "$seen"
}
check "a sibling service restarted keeps its notices flowing" notices_after_sibling_restart

now() { date +%s.%N; }
cable=/sys/bus/usb/devices/1-1/authorized
daemon_cpu_us() { sed -n 's/^usage_usec //p' /sys/fs/cgroup/system.slice/brevdaemon.service/cpu.stat; }
cheap_cable_pull() {
    cpu_before=$(daemon_cpu_us)
    lines_before=$(daemon_log | wc -l)
    echo 0 > "$cable"
    sleep 5 # the cable stays out this long
    cpu_us=$(($(daemon_cpu_us) - cpu_before))
    lines=$(($(daemon_log | wc -l) - lines_before))
    echo 1 > "$cable"
    plugged=$(now)
    wait_until 5 brevctl -t 5 status
    answered=$?
    after=$(echo "$plugged $(now)" | awk '{ printf "%.1f", $2 - $1 }')
    echo "cable out 5 s: $((cpu_us / 1000)) ms CPU, $lines log lines; answered $after s after it was back"
    [ "$cpu_us" -lt 250000 ] && [ "$lines" -lt 20 ] && [ "$answered" -eq 0 ] &&
        awk "BEGIN { exit !($after <= 5) }"
}
check "a cable pulled for 5 s costs little and the link answers at once after" cheap_cable_pull
check "the daemon's fault lines reach the journal at warning priority" \
    sh -c 'journalctl -b -o cat -u brevdaemon.service -p warning | grep -q "^Error"'

# --- the gadget made before and after the daemon --------------------------------

gadget_remade() { gadget_down && gadget_up && wait_until 30 answers; }
check "a gadget made again while the daemon runs is served" gadget_remade

# As on a board whose gadget is set up late in boot: the daemon's unit is
# started first, the gadget made afterwards by the package's set-up unit.
gadget_gone_for_systemd() { ! systemctl -q is-active dev-g_nira_printer.device; }
gadget_after_daemon() {
    gadget_down && wait_until 10 gadget_gone_for_systemd
    systemctl restart brevdaemon.service 2>/dev/null
    systemctl restart brevdaemon-gadget.service && wait_until 30 test -e /dev/usb/lp0 &&
        wait_until 30 answers
}
check "a gadget made after the daemon started is served without a restart by hand" gadget_after_daemon

# --- updates signed by the maker -----------------------------------------------
# The packages and the key are made on the build machine with throwaway keys
# (tests/harness/signed-packages.sh) and handed in beside this job.

refused_as_unsigned() {
    ! brevctl -t 120 update "$1" 2>/tmp/refused.err && grep -q "error 5:" /tmp/refused.err
}
signed_updates_only() {
    sh ./install-maker-key.sh / maker.key >/dev/null &&
        refused_as_unsigned unsigned.deb && refused_as_unsigned other.deb &&
        ! dpkg-query -W signed-update >/dev/null 2>&1 &&
        brevctl -t 120 update maker.deb >/dev/null && dpkg-query -W signed-update >/dev/null
}
# Without the key again, for the unsigned packages after it.
forget_maker_key() { rm -rf /etc/debsig/policies /usr/share/debsig/keyrings; }
check "with the maker's key, only packages the maker signed are installed" signed_updates_only
forget_maker_key

# --- the daemon updating itself ----------------------------------------------------

serves_as_new_version() {
    pid=$(daemon_pid)
    [ "$pid" != 0 ] && [ "$pid" != "$before_update" ] &&
        [ "$(readlink "/proc/$pid/exe")" = /usr/sbin/brevdaemon ] && answers
}
self_update() {
    rm -rf /tmp/newdaemon
    dpkg-deb -R debs/brevdaemon_*.deb /tmp/newdaemon
    sed -i 's/^Version: .*/&+board1/' /tmp/newdaemon/DEBIAN/control
    dpkg-deb -b /tmp/newdaemon /tmp/brevdaemon_board1.deb >/dev/null
    before_update=$(daemon_pid)
    update_through_link /tmp/brevdaemon_board1.deb &&
        dpkg-query -W -f='${Version}' brevdaemon | grep -q '+board1$' &&
        wait_until 60 serves_as_new_version
}
check "an update holding the daemon itself completes, and the new version serves" self_update

# --- over the whole run -----------------------------------------------------------

no_denials() {
    ! journalctl -b -o cat | grep -E "status=31/SYS|type=1326|seccomp" &&
        ! daemon_log | grep -E -i "denied|not permitted"
}
check "no system-call filter or sandbox denial in the journal" no_denials

[ "$failures" -eq 0 ] || {
    echo "--- the daemon's log:"
    daemon_log | tail -n 40
    systemctl list-jobs --no-pager
    systemctl status --no-pager brevdaemon.service 'brevdaemon-*' 2>&1 | tail -n 30
}
echo "board tests: $failures failed; board up $(cut -d' ' -f1 /proc/uptime) s"
exit "$failures"
