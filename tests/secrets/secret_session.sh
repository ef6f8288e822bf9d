#!/usr/bin/env bash
# Runs a command on a session bus of its own and, with --service, the test's Secret Service on
# it. Without it nothing on that bus answers for the secret store, and nothing can be started
# for it either. Everything is stopped again when the command ends, fails or is killed.
#
#   secret_session.sh [--service] -- <command>...
set -euo pipefail

service=0
while [[ $# -gt 0 && $1 != -- ]]; do
    case $1 in
    --service) service=1 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
    esac
    shift
done
shift || true
[[ $# -gt 0 ]] || { echo "usage: secret_session.sh [--service] -- <command>..." >&2; exit 2; }

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../support/session.sh
. "$here/../support/session.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/kestrune-secrets.XXXXXX")
pids=()

cleanup() {
    local rc=$?
    trap - EXIT INT TERM
    stop_processes "${pids[@]}"
    rm -rf "$work"
    exit "$rc"
}
trap cleanup EXIT
trap 'exit 124' INT TERM

fail() {
    echo "secret_session: $*" >&2
    for f in "$work"/*.log; do [[ -s $f ]] && { echo "--- $(basename "$f")"; tail -n 20 "$f"; }; done >&2
    exit 1
}

poll() { # poll <seconds> <command>...
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do ((SECONDS < deadline)) || return 1; sleep 0.1; done
}

# The desktop the keychain would pick a store by is none: it goes to the Secret Service.
unset XDG_CURRENT_DESKTOP DESKTOP_SESSION KDE_FULL_SESSION KDE_SESSION_VERSION GNOME_DESKTOP_SESSION_ID

start_session_bus "$work"
pids+=("$bus_pid")
poll 15 test -s "$work/bus.address" || fail "dbus-daemon gave no address"
DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$work/bus.address")
export DBUS_SESSION_BUS_ADDRESS

if ((service)); then
    # The system's own interpreter, which has the Debian packages python3-dbus and python3-gi.
    /usr/bin/python3 "$here/secret_service.py" >"$work/secrets.log" 2>&1 &
    pids+=($!)
    poll 15 grep -q '^ready' "$work/secrets.log" || fail "the test's Secret Service did not start"
fi

"$@"
