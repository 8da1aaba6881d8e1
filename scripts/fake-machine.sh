#!/bin/sh
# Makes the parts of a printer that tests and the simulated printer fake, in
# DIR:
#
#   DIR/bin/PROGRAM   for each PROGRAM named: a stub that records its
#                     arguments, one call per line, in DIR/PROGRAM.calls, runs
#                     the shell lines of DIR/PROGRAM.action if there are any,
#                     and exits with the number in DIR/PROGRAM.exit (else 0)
#   DIR/Home/         the update folder
#   DIR/apt/apt.conf  an APT configuration (for APT_CONFIG) whose whole tree
#                     lies in DIR/apt, with no sources, parts or preferences:
#                     nothing of the machine's APT state is read or written;
#                     its package database, DIR/apt/status, lists only
#                     "cvipc" 1.0
#
# Usage: fake-machine.sh DIR [PROGRAM...]
set -eu
dir=$1
shift
mkdir -p "$dir/bin" "$dir/Home" "$dir/apt"

for program in "$@"; do
    cat >"$dir/bin/$program" <<STUB
#!/bin/sh
echo "\$@" >> '$dir/$program.calls'
[ ! -f '$dir/$program.action' ] || . '$dir/$program.action'
exit \$(cat '$dir/$program.exit' 2>/dev/null || echo 0)
STUB
    chmod 755 "$dir/bin/$program"
done

cat >"$dir/apt/status" <<STATUS
Package: cvipc
Status: install ok installed
Architecture: all
Version: 1.0

STATUS
cat >"$dir/apt/apt.conf" <<CONF
Dir "$dir/apt/";
Dir::Etc "/dev/null";
Dir::State::status "$dir/apt/status";
CONF
