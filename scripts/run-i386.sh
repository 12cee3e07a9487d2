#!/usr/bin/env bash
# Runs a command in which i386 Linux programs (32-bit Wine) run under this project's emulator
# build/emulator/qemu-i386 (built first when missing or out of date): in a user and mount
# namespace of its own, whose private binfmt_misc instance registers the emulator for i386 ELF
# files. Nothing is registered system-wide. Needs Linux 6.7 or later and user namespaces.
#
#   run-i386.sh --check         only checks that this machine can, quietly
#   run-i386.sh COMMAND [ARG]...
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
emulator=$here/../build/emulator/qemu-i386

missing() {
    echo "run-i386: the 32-bit run cannot start here: $1" >&2
    shift
    printf '  %s\n' "$@" >&2
    exit 1
}

check() {
    local release major minor
    release=$(uname -r)
    IFS=. read -r major minor _ <<<"$release"
    if [ "$major" -lt 6 ] || { [ "$major" -eq 6 ] && [ "${minor%%[!0-9]*}" -lt 7 ]; }; then
        missing "Linux $release is older than 6.7, the first to give a user namespace a binfmt_misc of its own." \
            "Boot a newer kernel (on Debian 12: linux-image-amd64 from bookworm-backports)."
    fi
    command -v unshare >/dev/null ||
        missing "unshare is missing." "Install util-linux: bash scripts/setup.sh --with-win32"
    unshare --user --map-root-user --mount true 2>/dev/null ||
        missing "this machine does not let a process create a user namespace." \
            "Allow them: sysctl user.max_user_namespaces=15000 (and kernel.unprivileged_userns_clone=1" \
            "where it exists); in a container, run it with user namespaces permitted."
    unshare --user --map-root-user --mount \
        sh -c 'mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc' 2>/dev/null ||
        missing "binfmt_misc cannot be mounted in a user namespace." \
            "It needs a kernel built with CONFIG_BINFMT_MISC, Linux 6.7 or later."
}

if [ "${1:-}" = "--check" ]; then
    check
    exit 0
fi
[ $# -gt 0 ] || { echo "usage: run-i386.sh --check | COMMAND [ARG]..." >&2; exit 2; }
check
bash "$here/build-emulator.sh"

# Inside: mount the namespace's binfmt_misc, register the emulator (flag F: opened now, so that
# it is found from any root), and run the command.
exec unshare --user --map-root-user --mount --fork -- bash -c '
    set -e
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
    magic="\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00"
    mask="\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff"
    echo ":i386:M::$magic:$mask:$0:F" >/proc/sys/fs/binfmt_misc/register
    export PEL_I386_NAMESPACE=1 QEMU_RESERVED_VA=0xffff0000
    exec "$@"' "$(realpath "$emulator")" "$@"
