#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The headless programs run where there is no display and no GUI library: they must not need
# Qt Gui or Widgets. Usage: headless_links_test.sh PROGRAM...
set -euo pipefail
fail=0
for program in "$@"; do
    needed=$(readelf -d "$program" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
    [ -n "$needed" ] || { echo "$program: readelf lists no libraries"; fail=1; continue; }
    if bad=$(grep -E '^libQt6(Gui|Widgets|OpenGL|Xcb)' <<<"$needed"); then
        echo "$(basename "$program") needs $(tr '\n' ' ' <<<"$bad")"; fail=1
    fi
done
exit "$fail"
