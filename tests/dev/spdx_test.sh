#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Every source, build and script file names its licence near its top.
# Usage: spdx_test.sh SOURCE_DIR
set -euo pipefail
cd "$1"
missing=0
while IFS= read -r f; do
    head -n 3 "$f" | grep -q "SPDX-License-Identifier: MIT" && continue
    echo "no SPDX line: $f"
    missing=1
done < <(git ls-files -- '*.cpp' '*.h' '*CMakeLists.txt' '*.sh' dev .ci/run bench/fuzz 2>/dev/null)
exit "$missing"
