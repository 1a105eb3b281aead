#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# ./dev run must leave nothing behind however the terminal ends: the terminal quitting on its
# own, SIGTERM to the script, and Ctrl-C (SIGINT to the whole process group).
# Usage: dev_run_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src=$1
bindir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen TMPDIR=$work XDG_RUNTIME_DIR=$work
export NORVALE_DEV_BINDIR=$bindir NORVALE_DEV_RUNDIR=$work/run
link=$work/run/orlin-pty
fail=0

# The terminal is up once it listens on its single-instance socket.
wait_for_terminal() {
    for _ in $(seq 200); do
        [ -n "$(find "$work" -type s 2>/dev/null)" ] && return 0
        sleep 0.05
    done
    echo "the terminal never came up" >&2
    return 1
}

left_behind() {
    pgrep -f -- "--link $link" >/dev/null && echo "orlin-sim still runs"
    [ -e "$link" ] && echo "its link is still there"
    pgrep -f -- "$work/run/norvale-term" >/dev/null && echo "the terminal still runs"
    true
}

for how in quit term ctrl-c; do
    setsid "$src/dev" run >"$work/$how.log" 2>&1 &
    script=$!
    wait_for_terminal || { cat "$work/$how.log" >&2; fail=1; kill -KILL -- "-$script"; continue; }
    case $how in
        quit) pkill -TERM -f -- "$work/run/norvale-term" ;;  # ends as Quit does
        term) kill -TERM "$script" ;;
        ctrl-c) kill -INT -- "-$script" ;;
    esac
    for _ in $(seq 100); do kill -0 "$script" 2>/dev/null || break; sleep 0.05; done
    if kill -0 "$script" 2>/dev/null; then
        echo "$how: the script did not end" >&2
        kill -KILL -- "-$script" 2>/dev/null || true
        fail=1
    fi
    wait "$script" 2>/dev/null || true
    problems=$(left_behind)
    if [ -n "$problems" ]; then
        echo "$how: $problems" >&2
        pkill -KILL -f -- "$work/run/" 2>/dev/null || true
        fail=1
    else
        echo "$how: clean"
    fi
    rm -f "$link"
done
exit "$fail"
