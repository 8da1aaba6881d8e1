#!/bin/sh
# Runs the board tests (scripts/board-vm.sh ARCH tests/board/board-tests.sh)
# with the signed update packages and the maker's key that they hand in,
# made here with throwaway keys.
#
# Usage: with-signed-packages.sh ARCH
set -eu
repo=$(cd "$(dirname "$0")/../.." && pwd)
made=$(mktemp -d)
trap 'rm -rf "$made"' EXIT
sh "$repo/tests/harness/signed-packages.sh" "$made"
status=0
BREV_BOARD_FILES="$made/unsigned.deb $made/maker.deb $made/other.deb
$made/maker.key $repo/scripts/install-maker-key.sh" \
    "$repo/scripts/board-vm.sh" "$1" "$repo/tests/board/board-tests.sh" || status=$?
exit "$status"
