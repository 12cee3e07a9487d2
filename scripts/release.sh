#!/usr/bin/env bash
# Makes the release packages a suite vendor takes: PelLoader.dll, pelhost.exe and pelcheck.exe
# with version resources, pel_plugin.h, the sample plug-ins' sources with a CMake project of
# their own, and the guides (cmake/release.cmake says what goes in). Two ZIPs: the shipping
# 32-bit build, and the 64-bit build for 64-bit hosts. Builds only what they hold; the test
# command (scripts/test.sh) checks them.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

out=$PWD/build/release
rm -rf "$out"
mkdir -p "$out"
for preset in win32 win64; do
    echo "release: building the $preset preset's loader and tools"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" --target PelLoader pelhost pelcheck
    if ! cpack --config "build/$preset/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1; then
        cat "$out/cpack.log"
        echo "release: packing the $preset build failed" >&2
        exit 1
    fi
done
rm -rf "$out/_CPack_Packages" "$out/cpack.log"

echo
echo "release: the packages are"
for zip in "$out"/PelLoader-*.zip; do
    echo "  $zip"
done
