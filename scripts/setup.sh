#!/usr/bin/env bash
# Installs what the build and the tests need from Debian's packages. Idempotent and quiet when
# everything is already there.
#
#   --with-win32   also install 32-bit Wine and register qemu's user-mode emulator, to run the
#                  shipping 32-bit build by hand (see docs/win32.md)
set -euo pipefail

packages=(cmake ninja-build googletest g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
          binutils-mingw-w64-i686 wine64 clang-tidy nlohmann-json3-dev)
with_win32=0
[ "${1:-}" = "--with-win32" ] && with_win32=1
[ $with_win32 -eq 1 ] && packages+=(qemu-user-static wine32:i386)

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

if [ $with_win32 -eq 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "setup: adding the i386 architecture (for 32-bit Wine)"
    $sudo dpkg --add-architecture i386
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed'; then
        missing+=("$p")
    fi
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
fi

[ $with_win32 -eq 1 ] || exit 0

# 32-bit code runs here only under qemu's user-mode emulation, registered with binfmt_misc
# once per boot.
binfmt=/proc/sys/fs/binfmt_misc
if [ ! -e "$binfmt/register" ]; then
    $sudo mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || true
fi
if [ ! -e "$binfmt/qemu-i386" ]; then
    entry=':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F'
    echo "$entry" | $sudo tee "$binfmt/register" >/dev/null 2>&1 || true
fi
if [ ! -e "$binfmt/qemu-i386" ]; then
    echo "setup: ERROR: this machine refused to register the i386 emulator with binfmt_misc" >&2
    echo "setup: (needed to run the shipping 32-bit build under 32-bit Wine; run as root," >&2
    echo "setup:  with binfmt_misc available: mount -t binfmt_misc binfmt_misc $binfmt)" >&2
    exit 1
fi
