#!/bin/sh
# The daemon's spooling cost on the ARM board, in guest instructions: boots
# the armhf virtual board (scripts/board-vm.sh) with an instruction-counting
# plugin (scripts/qemu-system-insn-count.c), installs the packages there and
# runs bench/board/spool-count.sh, which sends the same print data through
# the kernel's gadget to the daemon and to a plain read/write loop, the
# reader alone on the second processor. Prints, per stretch and on average,
# the reader's processor's instructions per MiB, user and kernel together,
# the ratio daemon / plain loop, and the MB/s a 1 GHz core at one instruction
# per cycle would reach at that cost.
#
# Usage: scripts/bench-armhf-gadget.sh [MIB [ROUNDS]]   (default 16 MiB, 2 rounds)
set -eu
repo="$(cd "$(dirname "$0")/.." && pwd)"
. "$repo/scripts/armhf-env.sh"

armhf_packages
"$repo/scripts/ensure-packages.sh" gcc
mkdir -p "$out"
plugin="$out/qemu-system-insn-count.so"
if out_of_date "$repo/scripts/qemu-system-insn-count.c" "$plugin"; then
    gcc -shared -fPIC -O2 -Wall -Wextra -o "$plugin" "$repo/scripts/qemu-system-insn-count.c"
fi
# The markers are A32 instructions: built in ARM state, not Thumb.
mark="$out/mark"
if out_of_date "$repo/bench/board/mark.c" "$mark"; then
    arm-linux-gnueabihf-gcc -static -marm -O2 -Wall -Wextra -o "$mark" "$repo/bench/board/mark.c"
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
status=0
BREV_BOARD_FILES="$mark" BREV_BOARD_QEMU_OPTIONS="-plugin $plugin,out=$work/counts" \
    "$repo/scripts/board-vm.sh" armhf "$repo/bench/board/spool-count.sh" "$@" |
    tee "$work/report" || status=$?

# Stretch N of the plugin is the Nth "counted" line of the board's report.
awk -v counts="$work/counts" '
    /^counted / { n++; reader[n] = $2; bytes[n] = $3 }
    END {
        while ((getline line < counts) > 0) {
            split(line, f, " ")
            if (f[4] == 1) { user[f[2]] = f[6]; kernel[f[2]] = f[8] }
        }
        for (i = 1; i <= n; i++) {
            mib = bytes[i] / 1048576
            per = (user[i] + kernel[i]) / mib / 1e6
            printf "%-10s %6.2f M instructions/MiB (user %.2f M, kernel %.2f M)\n",
                reader[i], per, user[i] / mib / 1e6, kernel[i] / mib / 1e6
            sum[reader[i]] += per
            runs[reader[i]]++
        }
        if (!runs["daemon"] || !runs["plain-loop"]) exit 1
        daemon = sum["daemon"] / runs["daemon"]
        plain = sum["plain-loop"] / runs["plain-loop"]
        printf "daemon / plain loop: %.2f\n", daemon / plain
        printf "at 1 GHz, one instruction per cycle: daemon %.0f MB/s, plain loop %.0f MB/s\n",
            1048.576 / daemon, 1048.576 / plain
    }' "$work/report" || status=1
exit "$status"
