#!/bin/sh
# Installs the maker's public key into a board's root file system, so that
# the daemon's installer accepts only packages the maker signed (with
# "debsigs --sign=origin"). Writes, for each key in KEYFILE whose primary key
# signs (debsig-verify takes no signature by a subkey), with ID its long id:
#
#   ROOT/usr/share/debsig/keyrings/ID/maker.gpg    the public key
#   ROOT/etc/debsig/policies/ID/brevdaemon.pol     the debsig-verify policy
#                                                  that accepts its signature
#
# KEYFILE is the key as "gpg --export" or "gpg --armor --export" wrote it.
#
# Usage: install-maker-key.sh ROOT KEYFILE
set -eu

if [ $# -ne 2 ]; then
    echo "usage: $0 ROOT KEYFILE" >&2
    exit 2
fi
root=$1
keyfile=$2

ids=$(gpg --batch --with-colons --show-keys "$keyfile" |
    awk -F: '$1 == "pub" && $12 ~ /s/ { print $5 }')
if [ -z "$ids" ]; then
    echo "$0: $keyfile holds no key whose primary key can sign" >&2
    exit 1
fi
for id in $ids; do
    keyrings="$root/usr/share/debsig/keyrings/$id"
    policies="$root/etc/debsig/policies/$id"
    mkdir -p "$keyrings" "$policies"
    if grep -q -- '-----BEGIN PGP' "$keyfile"; then
        gpg --batch --yes --dearmor --output "$keyrings/maker.gpg" "$keyfile"
    else
        cp "$keyfile" "$keyrings/maker.gpg"
    fi
    cat >"$policies/brevdaemon.pol" <<POLICY
<?xml version="1.0"?>
<!DOCTYPE Policy SYSTEM "https://www.debian.org/debsig/1.0/policy.dtd">
<Policy xmlns="https://www.debian.org/debsig/1.0/">
  <Origin Name="maker" id="$id" Description="the printer's maker"/>
  <Selection>
    <Required Type="origin" File="maker.gpg" id="$id"/>
  </Selection>
  <Verification MinOptional="0">
    <Required Type="origin" File="maker.gpg" id="$id"/>
  </Verification>
</Policy>
POLICY
    echo "installed key $id under $root"
done
