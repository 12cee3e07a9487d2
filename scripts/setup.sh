#!/usr/bin/env bash
# Installs what the build and the tests need from Debian's packages. Idempotent and quiet when
# everything is already there.
#
#   --with-win32   also what the shipping 32-bit build's end-to-end run needs: 32-bit Wine and
#                  the distribution's qemu user-mode emulator, whose version selects the source
#                  that scripts/build-emulator.sh patches and builds (docs/win32.md)
set -euo pipefail

packages=(cmake ninja-build googletest g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
          binutils-mingw-w64-i686 wine64 clang-tidy nlohmann-json3-dev)
with_win32=0
[ "${1:-}" = "--with-win32" ] && with_win32=1
# Building the emulator takes general tools, installed here: the host compiler, Python for
# meson, dpkg-source and patch. The static libraries and meson it builds with are unpacked
# privately under build/emulator/ instead: only this build needs them.
[ $with_win32 -eq 1 ] && packages+=(qemu-user-static wine32:i386 gcc make pkg-config python3
                                    dpkg-dev patch xz-utils util-linux)

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
    log=$(mktemp)
    if ! { $sudo apt-get update -qq &&
           DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
               "${missing[@]}"; } >"$log" 2>&1; then
        cat "$log" >&2
        rm -f "$log"
        echo "setup: installing the packages failed" >&2
        exit 1
    fi
    rm -f "$log"
fi
