#!/usr/bin/env bash
# The loader's folders are layers and their includes run one way:
#   loader/ -> config/, worker/ -> platform/ -> core/
# (config/ and worker/ do not include each other), and the tools read a suite through the same
# layers the loader does, never through loader/ or worker/.
#   check_layers.sh <source dir>
set -euo pipefail
cd "${1:?usage: check_layers.sh <source dir>}"

declare -A allowed=(
    [core]="core"
    [platform]="core platform"
    [config]="core platform config"
    [worker]="core platform worker"
    [loader]="core platform config worker loader"
    [tools]="core platform config"
)
bad=0
for layer in "${!allowed[@]}"; do
    while IFS= read -r file; do
        while IFS= read -r target; do
            case " ${allowed[$layer]} " in
                *" $target "*) ;;
                *) echo "$file includes $target/: $layer/ may include only ${allowed[$layer]}"
                   bad=1 ;;
            esac
        done < <(sed -n 's|^#include "\([a-z_]*\)/.*|\1|p' "$file")
    done < <(find "$layer" -name '*.cpp' -o -name '*.h' | sort)
done
[ $bad -eq 0 ] && echo "layers: every include runs one way"
exit $bad
