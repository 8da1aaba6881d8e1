# shellcheck shell=sh
# Sourced by the scripts that boot Debian's own kernel under qemu
# (realdevice-vm.sh, board-vm.sh): the cache folder, the kernel package
# downloaded and unpacked once, a busybox initramfs around a given init, the
# folder shared with the VM and the run of qemu itself.
#
# The caller sets $cache (see vm_cache), $modules (the modules the initramfs
# loads, in order; their dependencies are added) and defines skip and die.

busybox=/bin/busybox

# Sets $cache to $1 when it can be written, else to a folder of that name
# under the user's cache.
vm_cache() {
    cache=$1
    if ! mkdir -p "$cache" 2>/dev/null || [ ! -w "$cache" ]; then
        cache=${XDG_CACHE_HOME:-$HOME/.cache}/$(basename "$1")
        mkdir -p "$cache"
    fi
}

# Prints the file of module $1 under the unpacked tree $2 (names may differ
# in - and _).
module_file() {
    pattern=$(echo "$1" | sed 's/[-_]/[-_]/g')
    find "$2" -name "$pattern.ko*" | head -n 1
}

# Appends module $1 and, before it, everything it depends on to $order.
add_module() {
    name=$(echo "$1" | tr - _)
    case " $order " in *" $name "*) return 0 ;; esac
    file=$(module_file "$name" "$tree")
    [ -n "$file" ] || die "kernel package has no module $name"
    case "$file" in
    *.ko) cat "$file" ;;
    *.ko.xz) xz -dc "$file" ;;
    *.ko.gz) gzip -dc "$file" ;;
    *.ko.zst) zstd -qdc "$file" ;;
    *) die "cannot unpack $file" ;;
    esac > "$staging/modules/$name.ko"
    for dependency in $(tr '\0' '\n' < "$staging/modules/$name.ko" | sed -n 's/^depends=//p' | tr ',' ' '); do
        add_module "$dependency"
    done
    # (sh has no local variables: the calls above changed $name)
    order="$order $(echo "$1" | tr - _)"
}

# Prints the kernel package the meta package $1 (linux-image-amd64,
# linux-image-armmp:armhf) stands for.
kernel_package() {
    apt-cache depends "$1" 2>/dev/null | sed -n 's/^ *Depends: \(linux-image-[^ ]*\)$/\1/p' | head -n 1
}

# Downloads the kernel package behind meta package $1 once and keeps its
# kernel and $modules, uncompressed, in $cache/$2 (vmlinuz, modules/,
# modules.order, version, package). With $3, the package is taken from that
# root, where it is installed already.
prepare_kernel() {
    [ -f "$cache/$2/vmlinuz" ] && return 0
    [ -z "${3:-}" ] || { unpack_kernel "$3" "$2" "$1"; return 0; }
    package=$(kernel_package "$1")
    if [ -z "$package" ] && [ "$(id -u)" -eq 0 ]; then
        apt-get update -qq >/dev/null 2>&1 || true
        package=$(kernel_package "$1")
    fi
    [ -n "$package" ] || skip "APT knows no $1 kernel package"
    case "$1" in *:*) package="$package:${1#*:}" ;; esac
    work=$(mktemp -d "$cache/unpack.XXXXXX")
    # As root, APT would download as its own user, who may not write here.
    sandbox=""
    [ "$(id -u)" -ne 0 ] || sandbox="-o APT::Sandbox::User=root"
    # shellcheck disable=SC2086 # $sandbox is empty or two words
    (cd "$work" && apt-get download -qq $sandbox "$package" >/dev/null 2>&1) || {
        rm -rf "$work"
        skip "cannot download the kernel package $package"
    }
    dpkg-deb -x "$work"/*.deb "$work/tree"
    unpack_kernel "$work/tree" "$2" "$package"
    rm -rf "$work"
}

# Keeps the kernel and $modules of tree $1 in $cache/$2; $3 names its package.
unpack_kernel() {
    tree=$1/lib/modules
    staging=$(mktemp -d "$cache/kernel.XXXXXX")
    mkdir -p "$staging/modules"
    cp "$1"/boot/vmlinuz-* "$staging/vmlinuz"
    order=""
    # shellcheck disable=SC2154 # set by the caller
    for module in $modules; do
        add_module "$module"
    done
    echo "$order" | tr ' ' '\n' | sed '/^$/d' > "$staging/modules.order"
    basename "$1"/boot/vmlinuz-* | sed 's/^vmlinuz-//' > "$staging/version"
    echo "$3" > "$staging/package"
    mv "$staging" "$cache/$2"
}

# Builds, once per content, a gzipped initramfs named $1 of busybox, the
# kernel's modules from $cache/$2 and the init script $3; sets $initramfs to
# it. Initramfs files of that name with other content are removed.
prepare_initramfs() {
    key=$( { cat "$cache/$2/version"; echo "$3"; cat "$cache/$2/modules.order"; ls -l "$busybox"; } | md5sum | cut -c1-12)
    initramfs=$cache/initramfs-$1-$key.gz
    [ -f "$initramfs" ] && return 0
    image=$(mktemp -d "$cache/initramfs.XXXXXX")
    mkdir -p "$image/bin" "$image/dev" "$image/proc" "$image/sys" "$image/modules"
    cp "$busybox" "$image/bin/busybox"
    ln -s busybox "$image/bin/sh"
    printf '%s' "$3" > "$image/init"
    chmod 755 "$image/init"
    cp "$cache/$2/modules.order" "$image/modules.order"
    cp "$cache/$2"/modules/*.ko "$image/modules/"
    (cd "$image" && find . | "$busybox" cpio -o -H newc -R 0:0 2>/dev/null) | gzip -1 > "$image.gz"
    rm -f "$cache/initramfs-$1"-*.gz
    mv "$image.gz" "$initramfs"
    rm -rf "$image"
}

# Prints $1 quoted for sh.
quote() {
    printf "'%s'" "$(printf '%s' "$1" | sed "s/'/'\\\\''/g")"
}

# Makes $share, the folder the VM's job comes through; it, and a qemu still
# running, are removed when the script exits.
vm_share() {
    share=$(mktemp -d)
    qemu_pid=""
    trap vm_cleanup EXIT
    trap 'exit 143' INT TERM
}
vm_cleanup() {
    [ -z "$qemu_pid" ] || kill -KILL "$qemu_pid" 2>/dev/null || true
    rm -rf "$share"
}

# Runs the qemu command line "$@" for at most $timeout_s seconds, reading
# $vm_input (default /dev/null); sets $qemu_status.
vm_run() {
    # shellcheck disable=SC2154 # set by the caller
    timeout --kill-after=10 "$timeout_s" "$@" <"${vm_input:-/dev/null}" &
    qemu_pid=$!
    set +e
    wait "$qemu_pid"
    qemu_status=$?
    set -e
    qemu_pid=""
}

# Exits with the exit status the VM's job left in $share/status.
vm_exit() {
    [ "$qemu_status" -ne 124 ] || die "the VM was still running after $timeout_s s and was stopped"
    [ -f "$share/status" ] || die "the VM ended (qemu status $qemu_status) without the job's exit status"
    exit "$(cat "$share/status")"
}
