#!/usr/bin/env bash
# Builds the i386 user-mode emulator that runs the shipping 32-bit build under 32-bit Wine:
# Debian's own qemu source, the version of the installed qemu-user-static, with the patches in
# scripts/emulator/ (see docs/win32.md), as a static build/emulator/qemu-i386.
#
# Quiet and instant when the emulator is up to date; rebuilt when a patch or the installed
# qemu-user-static version changes (about two minutes on two cores). Nothing outside build/
# changes: the source package and the libraries the build needs come through a private apt
# configuration whose deb-src entries are derived from the system's own sources.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$root/build/emulator
emulator=$out/qemu-i386
log=$out/build.log

fail() {
    echo "build-emulator: $*" >&2
    exit 1
}

version=$(dpkg-query -W -f='${source:Version}' qemu-user-static 2>/dev/null || true)
[ -n "$version" ] ||
    fail "qemu-user-static is not installed (its version selects the source): bash scripts/setup.sh --with-win32"
stamp="qemu $version, patches $(cat scripts/emulator/*.patch | sha256sum | cut -d' ' -f1)"
up_to_date() { [ -x "$emulator" ] && [ "$(cat "$emulator.stamp" 2>/dev/null)" = "$stamp" ]; }
up_to_date && exit 0

mkdir -p "$out"
exec 9>"$out.lock"
flock 9
up_to_date && exit 0
echo "build-emulator: building qemu-i386 from the source of qemu $version with scripts/emulator/*.patch"
: >"$log"

# Runs a command with its output in the log; on failure shows the log's end and the hint.
step() {
    local hint=$1
    shift
    if ! "$@" >>"$log" 2>&1; then
        tail -n 25 "$log" >&2
        fail "$hint (whole log: $log)"
    fi
}
in_dir() {
    local dir=$1
    shift
    (cd "$dir" && "$@")
}

# The private apt configuration: the system's sources, each with its deb-src twin.
apt_dir=$out/apt
mkdir -p "$apt_dir/sources.list.d" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
: >"$apt_dir/sources.list"
for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$file" ] || continue
    sed -nE 's/^[[:space:]]*deb[[:space:]]+(.*)$/deb \1\ndeb-src \1/p' "$file" >>"$apt_dir/sources.list"
done
rm -f "$apt_dir"/sources.list.d/*
for file in /etc/apt/sources.list.d/*.sources; do
    [ -f "$file" ] || continue
    sed -E 's/^(Types:).*$/\1 deb deb-src/I' "$file" >"$apt_dir/sources.list.d/${file##*/}"
done
apt_private() {
    apt-get -q -o "Dir::Etc::SourceList=$apt_dir/sources.list" \
        -o "Dir::Etc::SourceParts=$apt_dir/sources.list.d" -o "Dir::State::Lists=$apt_dir/lists" \
        -o "Dir::Cache=$apt_dir/cache" -o "APT::Architectures::=$(dpkg --print-architecture)" \
        -o "APT::Sandbox::User=$(id -un)" "$@"
}
# apt_fetch <dir> <apt-get arguments>: run in <dir>, reading the archive's lists once if needed.
lists_read=0
apt_fetch() {
    in_dir "$@" && return 0
    [ $lists_read -eq 0 ] || return 1
    lists_read=1
    apt_private update && in_dir "$@"
}
fetch_hint="cannot fetch qemu $version or the libraries its build needs from the distribution's
  archive (through deb-src twins of the deb entries in /etc/apt/sources.list*). Check that
  this machine reaches its Debian mirror. After an upgrade of qemu-user-static the mirror may
  no longer hold the installed version: apt-get update && apt-get install qemu-user-static"

# The source package, unpacked afresh (with Debian's patches), then this project's patches.
src=$out/src
mkdir -p "$src"
dsc=$src/qemu_${version#*:}.dsc
if [ ! -f "$dsc" ]; then
    rm -f "$src"/qemu_*
    step "$fetch_hint" apt_fetch "$src" apt_private source --download-only "qemu=$version"
fi
rm -rf "$src/qemu" "$out/obj"
step "cannot unpack $dsc" dpkg-source -x "$dsc" "$src/qemu"
for patch in scripts/emulator/*.patch; do
    step "$patch does not apply to qemu $version" patch -d "$src/qemu" -p1 -i "$root/$patch"
done

# The libraries and meson, unpacked into a private sysroot.
debs=$out/debs
sysroot=$out/sysroot
mkdir -p "$debs"
rm -f "$debs"/*.deb
packages=(libglib2.0-dev libpcre2-dev libmount-dev libblkid-dev libselinux1-dev libsepol-dev meson)
step "$fetch_hint" apt_fetch "$debs" apt_private download "${packages[@]}"
rm -rf "$sysroot"
for deb in "$debs"/*.deb; do
    step "cannot unpack $deb" dpkg -x "$deb" "$sysroot"
done
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
export PKG_CONFIG_SYSROOT_DIR=$sysroot
export PKG_CONFIG_LIBDIR=$sysroot/usr/lib/$multiarch/pkgconfig:$sysroot/usr/share/pkgconfig
export PYTHONPATH=$sysroot/usr/lib/python3/dist-packages

mkdir -p "$out/obj"
step "qemu's configure failed" in_dir "$out/obj" "$src/qemu/configure" \
    --target-list=i386-linux-user --static --disable-system --disable-tools --disable-docs \
    --disable-debug-info --without-default-features --meson="$sysroot/usr/bin/meson"
step "building qemu-i386 failed" ninja -C "$out/obj" -j2 qemu-i386
cp "$out/obj/qemu-i386" "$emulator.new"
mv "$emulator.new" "$emulator"
echo "$stamp" >"$emulator.stamp"
echo "build-emulator: built $emulator"
