#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Includes run one way: each folder may include only itself and the folders below it.
# Usage: include_layers_test.sh SOURCE_DIR
set -euo pipefail
cd "$1/src"
declare -A allowed=(
    [platform]="platform"
    [ui]="ui"
    [com]="com platform ui"
    [rem]="rem com platform ui"
    [survey]="survey rem com platform ui"
    [main]="main survey rem com platform ui"
    [session]="session main survey rem com platform ui"
    [app]="app session main survey rem com platform ui"
)
fail=0
for folder in "${!allowed[@]}"; do
    while IFS=: read -r file _ included; do
        target=${included#*\"}
        target=${target%%/*}
        case " ${allowed[$folder]} " in
            *" $target "*) ;;
            *) echo "$file includes $target/, above $folder/"; fail=1 ;;
        esac
    done < <(grep -rn '^#include "[a-z]*/' "$folder" || true)
done
exit "$fail"
