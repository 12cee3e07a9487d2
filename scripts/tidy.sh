#!/usr/bin/env bash
# Runs clang-tidy (.clang-tidy) over the loader's own sources as a build compiles them:
#   bash scripts/tidy.sh <build dir with compile_commands.json>
# Exits non-zero on any finding.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:?usage: tidy.sh <build dir>}
db="$build/compile_commands.json"
[ -f "$db" ] || { echo "tidy: $db is missing (configure with CMAKE_EXPORT_COMPILE_COMMANDS)" >&2; exit 2; }

# The cross compiler's target and its C++ headers, which clang does not find by itself.
compiler=$(grep -m1 -o '"command": "[^ "]*g++[^ "]*' "$db" | sed 's/.*"command": "//')
target=$("$compiler" -dumpmachine)
args=(--quiet -p "$build" "--extra-arg=--target=$target")
while read -r dir; do
    args+=("--extra-arg=-isystem$dir")
done < <(echo | "$compiler" -xc++ -E -v - 2>&1 |
         sed -n '/#include <...> search starts here/,/End of search list/p' | grep '/c++')

root=$(pwd)
files=$(grep -o '"file": "[^"]*"' "$db" | sed 's/"file": "//; s/"$//' | sed "s|^$root/||" |
        grep -E '^(core|platform|config|worker|loader)/' | sort -u || true)
[ -n "$files" ] || { echo "tidy: no sources of the loader in $db" >&2; exit 2; }
status=0
output=$(echo "$files" | xargs -P "$(nproc)" -n 1 clang-tidy "${args[@]}" 2>&1) ||
    status=$?
# clang-tidy counts what it suppressed in the system headers; only findings are of interest.
grep -v -E '^[0-9]+ warnings? generated\.$' <<<"$output" || true
if [ $status -ne 0 ]; then
    echo "tidy: findings in the loader's sources (see above)" >&2
    exit 1
fi
echo "tidy: $(echo "$files" | wc -l) files clean"
