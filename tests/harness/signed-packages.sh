#!/bin/sh
# Makes in DIR, with throwaway keys: unsigned.deb, the same signed by the maker
# (maker.deb) and by another key (other.deb), and a root debsig/ with maker's key.
set -eu
dir=$1
export GNUPGHOME="$dir/gnupg"
mkdir -m 700 "$GNUPGHOME"
trap 'gpgconf --kill all' EXIT
mkdir -p "$dir/package/DEBIAN"
printf 'Package: signed-update\nVersion: 1.0\nArchitecture: all\nMaintainer: M <m@example.org>\nDescription: u\n' >"$dir/package/DEBIAN/control"
dpkg-deb --root-owner-group -b "$dir/package" "$dir/unsigned.deb" >/dev/null
for signer in maker other; do
    gpg --batch --quiet --passphrase '' --quick-gen-key "$signer" ed25519 sign never
    cp "$dir/unsigned.deb" "$dir/$signer.deb"
    debsigs --sign=origin -k "$signer" "$dir/$signer.deb"
done
gpg --batch --export maker >"$dir/maker.key"
"$(dirname "$0")/../../scripts/install-maker-key.sh" "$dir/debsig" "$dir/maker.key" >/dev/null
