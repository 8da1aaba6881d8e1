#!/bin/sh
# The recognizer benchmark for the board: built for armhf and run under
# qemu-user with an instruction-counting plugin (scripts/qemu-insn-count.c).
# Prints guest instructions per MiB of the recognizer (NEON where qemu's
# processor has it, and on machine words) and of the same floor built for
# armhf. Wall-clock time under emulation says nothing about the board, so
# only the counts are shown. The first run downloads the armhf sysroot
# (see scripts/cross-armhf.sh) and cross-builds what the benchmark needs.
set -eu
repo="$(cd "$(dirname "$0")/.." && pwd)"
. "$repo/scripts/armhf-env.sh"

# qemu-user-static cannot load plugins; the dynamic qemu-arm can.
armhf_packages
"$repo/scripts/ensure-packages.sh" qemu-user gcc
armhf_sysroot
armhf_configure
if ! cmake --build "$build" -j"$(nproc)" --target bench_recognizer >"$out/bench-build.log" 2>&1; then
    cat "$out/bench-build.log"
    exit 1
fi

plugin="$out/qemu-insn-count.so"
if out_of_date "$repo/scripts/qemu-insn-count.c" "$plugin"; then
    gcc -shared -fPIC -O2 -Wall -Wextra -o "$plugin" "$repo/scripts/qemu-insn-count.c"
fi
count="$(mktemp)"
trap 'rm -f "$count"' EXIT
echo "== bench_recognizer, armhf under $(qemu-arm --version | head -1)"
BREV_INSN_COUNT_FILE="$count" qemu-arm -L "$sysroot" -plugin "$plugin,out=$count" \
    "$build/bench/bench_recognizer" --count
