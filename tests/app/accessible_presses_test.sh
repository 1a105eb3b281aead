#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The real program on a real X display with the accessibility bus, pressed as a screen reader
# presses it (accessible_presses.py). Starts its own Xvfb, session bus and accessibility bus,
# runs a copy of the terminal with its settings in a temporary folder, and leaves nothing behind.
# Usage: accessible_presses_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src=$1
bindir=$2
work=$(mktemp -d)
started=()

# A process with all it started, children first: the session bus starts helpers of its own.
tree_of() {
    local child
    for child in $(pgrep -P "$1" 2>/dev/null || true); do tree_of "$child"; done
    echo "$1"
}
cleanup() {
    local all=() pid
    # Gathered before any of them ends, while the helpers are still their parents' children.
    for pid in "${started[@]}"; do mapfile -t -O "${#all[@]}" all < <(tree_of "$pid"); done
    if [ "${#all[@]}" -gt 0 ]; then
        kill -TERM "${all[@]}" 2>/dev/null || true
        for _ in $(seq 20); do kill -0 "${all[@]}" 2>/dev/null || break; sleep 0.1; done
        kill -KILL "${all[@]}" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

for tool in /usr/bin/Xvfb /usr/bin/dbus-launch /usr/libexec/at-spi-bus-launcher /usr/bin/python3; do
    [ -x "$tool" ] || { echo "missing $tool (./dev installs it)" >&2; exit 1; }
done

mkdir -p "$work/run" "$work/home" "$work/files"
chmod 0700 "$work/run"
export HOME=$work/home TMPDIR=$work XDG_RUNTIME_DIR=$work/run GSETTINGS_BACKEND=memory
unset DISPLAY WAYLAND_DISPLAY XDG_CURRENT_DESKTOP QT_QPA_PLATFORMTHEME SESSION_MANAGER

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
started+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
[ -s "$work/display" ] || { cat "$work/xvfb.log" >&2; echo "Xvfb did not start" >&2; exit 1; }

eval "$(dbus-launch --sh-syntax)"
started+=("$DBUS_SESSION_BUS_PID")
export DBUS_SESSION_BUS_ADDRESS
/usr/libexec/at-spi-bus-launcher --launch-immediately 2>"$work/bus.log" &
started+=($!)

export DISPLAY=:$(cat "$work/display") QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
# The settings go beside the executable: a copy of it, in the temporary folder.
cp "$bindir/norvale-term" "$work/norvale-term"
printf '[COMPORT]\r\nPortName=/dev/norvale-absent\r\n' >"$work/norvale-term.ini"
printf 'a line the terminal replaces\n' >"$work/files/monitor.txt"
(cd "$work/files" && exec "$work/norvale-term") 2>"$work/term.log" &
term=$!
started+=("$term")

rc=0
/usr/bin/python3 "$src/tests/app/accessible_presses.py" "$term" "$work/files" || rc=$?
if kill -0 "$term" 2>/dev/null; then
    kill -TERM "$term"
    wait "$term" || { echo "the terminal ended with $?" >&2; rc=1; }
else
    echo "the terminal ended early" >&2
    rc=1
fi
[ "$rc" -eq 0 ] || cat "$work/term.log" "$work/bus.log" >&2
exit "$rc"
