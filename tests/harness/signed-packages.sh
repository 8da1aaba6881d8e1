#!/bin/sh
# Makes, in DIR, packages and a maker's key for the signature checks, with
# throwaway keys (ed25519, no passphrase) in a GnuPG home of DIR's own:
#
#   DIR/debsig/        a root whose debsig folders hold the maker's key: its
#                      policy and keyring (BREVDAEMON_DEBSIG_ROOT)
#   DIR/unsigned.deb   a package without signature
#   DIR/maker.deb      the same package signed by the maker's key
#   DIR/other.deb      the same package signed by another key
#
# Usage: signed-packages.sh DIR
set -eu
dir=$1
GNUPGHOME="$dir/gnupg"
export GNUPGHOME
mkdir -m 700 "$GNUPGHOME"
# The agent that making and using the keys starts ends with the script.
trap 'gpgconf --kill all' EXIT

# Makes a key and prints its long id.
make_key() {
    gpg --batch --quiet --passphrase '' --quick-gen-key "$1" ed25519 sign never
    gpg --batch --with-colons --list-keys "$1" | awk -F: '$1 == "pub" { print $5; exit }'
}
maker=$(make_key 'Maker <maker@example.org>')
other=$(make_key 'Other <other@example.org>')

mkdir -p "$dir/package/DEBIAN"
printf 'Package: signed-update\nVersion: 1.0\nArchitecture: all\nMaintainer: Maker <maker@example.org>\nDescription: update\n' \
    >"$dir/package/DEBIAN/control"
dpkg-deb --root-owner-group -b "$dir/package" "$dir/unsigned.deb" >/dev/null
cp "$dir/unsigned.deb" "$dir/maker.deb"
debsigs --sign=origin -k "$maker" "$dir/maker.deb"
cp "$dir/unsigned.deb" "$dir/other.deb"
debsigs --sign=origin -k "$other" "$dir/other.deb"

gpg --batch --export "$maker" >"$dir/maker.key"
"$(dirname "$0")/../../scripts/install-maker-key.sh" "$dir/debsig" "$dir/maker.key" >/dev/null
