#!/usr/bin/env bash
# Runs a command in a desktop session of its own: an Xvfb display, a session bus from its own
# dbus-daemon and, with --panel, the test panel (a StatusNotifierWatcher with a host and a
# notification server) on that bus, with --secrets the test's Secret Service. Everything is stopped again when the command ends, fails or
# is killed; display numbers and bus sockets are chosen so that parallel runs do not collide.
#
#   private_session.sh [--panel] [--secrets] -- <command>...
set -euo pipefail

panel=0
secrets=0
while [[ $# -gt 0 && $1 != -- ]]; do
    case $1 in
    --panel) panel=1 ;;
    --secrets) secrets=1 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
    esac
    shift
done
shift || true
[[ $# -gt 0 ]] || { echo "usage: private_session.sh [--panel] [--secrets] -- <command>..." >&2; exit 2; }

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../support/session.sh
. "$here/../support/session.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/kestrune-session.XXXXXX")
pids=()

cleanup() {
    local rc=$?
    trap - EXIT INT TERM
    # Last started, first stopped: the panel and the bus before the display.
    stop_processes "${pids[@]}"
    rm -rf "$work"
    exit "$rc"
}
trap cleanup EXIT
trap 'exit 124' INT TERM

fail() {
    echo "private_session: $*" >&2
    for f in "$work"/*.log; do [[ -s $f ]] && { echo "--- $(basename "$f")"; tail -n 20 "$f"; }; done >&2
    exit 1
}

poll() { # poll <seconds> <command>...
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do ((SECONDS < deadline)) || return 1; sleep 0.1; done
}

# No desktop to pick a secret store by either: the keychain goes to the Secret Service.
unset WAYLAND_DISPLAY XDG_CURRENT_DESKTOP XDG_SESSION_TYPE QT_QPA_PLATFORMTHEME SESSION_MANAGER
unset DESKTOP_SESSION KDE_FULL_SESSION KDE_SESSION_VERSION GNOME_DESKTOP_SESSION_ID
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"

for _ in 1 2 3 4 5; do
    n=$((200 + RANDOM % 700))
    [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] && continue
    Xvfb ":$n" -screen 0 1280x900x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
    pids+=($!)
    export DISPLAY=":$n"
    poll 15 xdpyinfo >/dev/null 2>&1 && break
    kill "${pids[-1]}" 2>/dev/null || true
    unset 'pids[-1]' DISPLAY
done
[[ -n ${DISPLAY:-} ]] || fail "no Xvfb answered"

start_session_bus "$work"
pids+=("$bus_pid")
poll 15 test -s "$work/bus.address" || fail "dbus-daemon gave no address"
DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$work/bus.address")
export DBUS_SESSION_BUS_ADDRESS

if ((panel)); then
    # The system's own interpreter, which has the Debian package python3-dbus.
    /usr/bin/python3 "$here/sni_panel.py" >"$work/panel.log" 2>&1 &
    pids+=($!)
    poll 15 grep -q '^ready' "$work/panel.log" || fail "the test panel did not start"
fi
if ((secrets)); then
    /usr/bin/python3 "$here/../secrets/secret_service.py" >"$work/secrets.log" 2>&1 &
    pids+=($!)
    poll 15 grep -q '^ready' "$work/secrets.log" || fail "the test's Secret Service did not start"
fi

"$@"
