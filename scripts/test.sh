#!/usr/bin/env bash
# Builds both targets and runs every test: the 64-bit suite under Wine and the checks of the
# shipping 32-bit build.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
for preset in win64 win32; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done
status=0
ctest --preset win64 || status=$?
ctest --preset win32 || status=$?
exit $status
