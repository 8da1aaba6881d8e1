#!/bin/sh
# The root side of the daemon's two root jobs, for one connection to one of
# the package's sockets, which only the daemon's group may connect to: run by
# brevdaemon-install@.service and brevdaemon-update@.service with the
# connection as standard input and output. Reads the daemon's request (one
# argument a line), does the one job the unit names with the job's output in
# the journal, and answers the job's exit status on a line of its own.
#
# Usage: root-job install|update
#
# install: the request is the installer's arguments as the daemon would run
#   it itself outside systemd: options from the list below, then the package
#   file, which must be a regular file directly in the update folder's
#   set-aside folder, reached through no symbolic link. The file is read
#   once, into a folder only this job sees (the unit's private /tmp), and
#   that copy is installed: the daemon, which owns the update folder, can
#   neither swap nor change what is installed. Anything else is refused
#   (status 1) and nothing is run.
# update: the printer's update program; the request is read and ignored.
set -u

# The installer and the only options the daemon may pass it.
installer=/usr/libexec/brevdaemon/install-package
installer_options="--allow-downgrade"
update_program="/usr/bin/Fenwick --internal-usb"
pending=/Home/.pending

answer() {
    echo "$1"
    exit "$1"
}
refuse() {
    echo "root-job: request refused: $*" >&2
    answer 1
}

# The copy of the package file $1 that is installed, made through one open
# file: its path is checked as the kernel resolved it.
private_copy() {
    case $1 in
    "$pending"/*/* | "$pending"/. | "$pending"/..) refuse "not a file in $pending: $1" ;;
    "$pending"/?*) ;;
    *) refuse "not a file in $pending: $1" ;;
    esac
    if [ ! -f "$1" ] || [ -L "$1" ]; then refuse "no regular file: $1"; fi
    command exec 3<"$1" || refuse "cannot read $1"
    if [ "$(readlink /proc/self/fd/3)" != "$1" ] || [ ! -f /proc/self/fd/3 ]; then
        refuse "reached through a link: $1"
    fi
    # Removed with the unit's private /tmp when the job ends.
    copy=$(mktemp -d)/${1##*/} || refuse "no private folder"
    cat <&3 >"$copy" || refuse "cannot copy $1"
    exec 3<&-
}

install_package() {
    [ $# -ge 1 ] || refuse "no package named"
    options=
    while [ $# -gt 1 ]; do
        case " $installer_options " in
        *" $1 "*) options="$options $1" ;;
        *) refuse "option not allowed: $1" ;;
        esac
        shift
    done
    private_copy "$1"
    # shellcheck disable=SC2086 # the options are single words from the list
    $installer $options "$copy" </dev/null >&2
    answer $?
}

case ${1:-} in
install)
    set --
    while IFS= read -r argument; do set -- "$@" "$argument"; done
    install_package "$@"
    ;;
update)
    # The request is read to its end, though unused: a connection closed
    # with bytes unread is reset, and the daemon would lose the answer.
    while IFS= read -r _; do :; done
    # shellcheck disable=SC2086 # the program and its fixed argument
    $update_program </dev/null >&2
    answer $?
    ;;
*)
    echo "usage: root-job install|update" >&2
    exit 2
    ;;
esac
