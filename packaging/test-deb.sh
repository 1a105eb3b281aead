#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the built .deb on this machine, starts the installed program offscreen twice (its
# settings must land under XDG config and be read back), ends it with SIGTERM, removes it.
# Needs root; it changes the machine's installed packages, so ./dev runs it only in CI.
set -euo pipefail
deb=$(realpath "$1")
fail() { echo "test-deb: $*" >&2; exit 1; }

[ "$(id -u)" -eq 0 ] || fail "needs root"
if dpkg-query -W -f='${Status}' norvale-term 2>/dev/null | grep -q "install ok installed"; then
    fail "norvale-term is already installed here; not touching it"
fi
apt-get install -y -qq --no-install-recommends "$deb" >/dev/null || fail "install failed"
trap 'dpkg -r norvale-term >/dev/null 2>&1 || true' EXIT

for f in /usr/bin/norvale-term /usr/bin/orlin-sim /usr/share/applications/example.norvale.NorvaleTerm.desktop \
         /usr/share/icons/hicolor/scalable/apps/norvale-term.svg /usr/share/man/man1/norvale-term.1.gz \
         /usr/bin/norvale-run /usr/share/man/man1/norvale-run.1.gz \
         /usr/share/doc/norvale-term/examples/rf_write_read.lua; do
    [ -e "$f" ] || fail "$f missing after install"
done

# Wireshark's extcap folder holds the way into norvale-run, and it answers there.
extcap=$(find /usr/lib -path '*/wireshark/extcap/norvale-extcap' | head -n 1)
[ -x "$extcap" ] || fail "norvale-extcap missing from Wireshark's extcap folder"
"$extcap" --extcap-interfaces | grep -q '^extcap {version=' || fail "norvale-extcap does not answer"

home=$(mktemp -d)
run_once() {
    HOME=$home XDG_CONFIG_HOME= TMPDIR=$home XDG_RUNTIME_DIR=$home QT_QPA_PLATFORM=offscreen \
        /usr/bin/norvale-term &
    local pid=$! i
    # Up once it listens on its single-instance socket.
    for i in $(seq 100); do
        [ -n "$(find "$home" -maxdepth 1 -type s)" ] && break
        sleep 0.1
    done
    sleep 0.3
    kill -TERM "$pid"
    wait "$pid" || fail "exit code $? after SIGTERM"
}
run_once
ini=$home/.config/norvale-term/norvale-term.ini
[ -f "$ini" ] || fail "settings not saved under XDG config"
[ ! -e /usr/bin/norvale-term.ini ] || fail "settings written beside the installed program"
sed -i 's/^PortName=.*/PortName=COM5\r/' "$ini"
run_once
grep -q "^PortName=COM5" "$ini" || fail "settings not read back at the next start"
# The runner takes its port from the terminal's file and leaves the file as it is.
before=$(md5sum "$ini")
out=$(HOME=$home XDG_CONFIG_HOME= /usr/bin/norvale-run /usr/share/doc/norvale-term/examples/rf_write_read.lua 2>&1) &&
    fail "norvale-run passed without a kit"
echo "$out" | grep -q "COM5" || fail "norvale-run did not take the terminal's port: $out"
[ "$(md5sum "$ini")" = "$before" ] || fail "norvale-run changed the terminal's settings file"

dpkg -r norvale-term >/dev/null || fail "remove failed"
[ ! -e /usr/bin/norvale-term ] || fail "/usr/bin/norvale-term left after remove"
rm -rf "$home"
echo "test-deb: installed, started twice with settings under XDG config, runner read them, removed: ok"
