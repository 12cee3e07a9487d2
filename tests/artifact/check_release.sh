#!/usr/bin/env bash
# Checks a build's release package as a suite vendor gets it: makes the ZIP with CPack,
# compares its files with the list kept beside this script, unpacks it, builds the sample
# plug-ins from the unpacked tree alone, and reads its modules' version resources the way
# Windows does.
#
#   check_release.sh <cmake> <cpack> <build dir> <source dir> <toolchain file> <version>
#                    <version check program> <command that runs it under Wine>...
set -u
cmake=$1 cpack=$2 build=$3 source=$4 toolchain=$5 version=$6 checker=$7
shift 7
runner=("$@")
here=$(dirname "$0")
fail=0
bad() { echo "FAIL: $*"; fail=1; }

work=$build/release-check
rm -rf "$work"
mkdir -p "$work"

if ! "$cpack" --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    echo "FAIL: cpack could not make the package"
    exit 1
fi
zips=("$work"/package/*.zip)
if [ ${#zips[@]} -ne 1 ] || [ ! -f "${zips[0]}" ]; then
    echo "FAIL: cpack made no single ZIP: ${zips[*]}"
    exit 1
fi
zip=${zips[0]}
name=$(basename "$zip" .zip)
case "$name" in
    "PelLoader-$version-win32" | "PelLoader-$version-win64") ;;
    *) bad "package $name.zip is not named PelLoader-$version-<win32|win64>.zip" ;;
esac

# Every file in one top folder named as the package, and the files as listed.
entries=$("$cmake" -E tar tf "$zip" | grep -v '/$' | sort)
outside=$(grep -v "^$name/" <<<"$entries")
[ -z "$outside" ] || bad "entries outside $name/: $outside"
files=$(sed "s|^$name/||" <<<"$entries")
expected=$(grep -v -e '^#' -e '^$' "$here/release_files.txt" | sort)
if [ "$files" != "$expected" ]; then
    bad "the package's files differ from release_files.txt (< expected, > packed):"
    diff <(echo "$expected") <(echo "$files")
fi

mkdir -p "$work/unpacked"
(cd "$work/unpacked" && "$cmake" -E tar xf "$zip") || bad "cannot unpack $zip"
tree=$work/unpacked/$name

# The samples, configured afresh against the unpacked tree with the build's own compilers.
cp "$toolchain" "$work/toolchain.cmake"
if "$cmake" -S "$tree/samples" -B "$work/samples" -G Ninja --toolchain "$work/toolchain.cmake" \
        -DCMAKE_BUILD_TYPE=Release >"$work/samples.log" 2>&1 &&
   "$cmake" --build "$work/samples" -j 2 >>"$work/samples.log" 2>&1; then
    for plugin in sample_dll_plugin.dll sample_com_plugin.dll; do
        [ -f "$work/samples/bin/$plugin" ] || bad "the samples' build made no $plugin"
    done
    if grep -rIl -e "$source/include" -e "$source/samples" "$work/samples"; then
        bad "the samples' build above refers to the source tree"
    fi
else
    cat "$work/samples.log"
    bad "the samples do not build from the unpacked package"
fi

# A Unix path as the Windows program sees it (Wine's drive Z: is /).
winpath() {
    local path
    path=$(realpath -m "$1")
    printf 'Z:%s' "${path//\//\\}"
}
modules=()
for module in PelLoader.dll pelhost.exe pelcheck.exe; do
    modules+=("$(winpath "$tree/bin/$module")")
done
"${runner[@]}" "$checker" "$version" "${modules[@]}" || bad "the version resources are not as expected"

[ $fail -eq 0 ] && echo "$name.zip: files as listed, samples built from it, version $version"
exit $fail
