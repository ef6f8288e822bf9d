#!/usr/bin/env bash
# The program in a Wayland session, as a new user with qt6-wayland installed starts it: a weston
# compositor on its headless back-end, WAYLAND_DISPLAY and DISPLAY both set, no platform chosen.
#  1. On weston's own Xwayland the window must come up on the X display, not as a Wayland client.
#  2. weston's own X window manager offers no minimise at all (its frames have no such button
#     and it ignores WM_CHANGE_STATE), so the tray round trip runs on a second Xwayland, a
#     rootful one under the same compositor, with openbox managing its windows as a desktop's
#     compositor does and trayer as the tray: a minimise hides the window into the tray and a
#     click on the icon brings it back.
#  3. A user who chose Wayland themselves (QT_QPA_PLATFORM=wayland) gets it: no window on X.
#
#   run_wayland.sh <build folder> [<artifacts folder>]
set -euo pipefail
# shellcheck source=../support/session.sh
. "$(dirname "$0")/../support/session.sh"

limit=${KESTRUNE_E2E_LIMIT:-180}
if [[ -z "${KESTRUNE_E2E_LIMITED:-}" ]]; then
    KESTRUNE_E2E_LIMITED=1 exec timeout --kill-after=30 "$limit" "$0" "$@"
fi

build=$(cd "${1:?usage: run_wayland.sh <build folder> [<artifacts folder>]}" && pwd)
artifacts=${2:-$build/e2e-wayland}
mkdir -p "$artifacts"
artifacts=$(cd "$artifacts" && pwd)
rm -f "$artifacts"/*.log "$artifacts"/failure.png
work=$(mktemp -d "${TMPDIR:-/tmp}/kestrune-wayland.XXXXXX")
started=$SECONDS
pids=()
app_pid=""

log() { printf '[wayland %3ds] %s\n' "$((SECONDS - started))" "$*"; }

cleanup() {
    local rc=$?
    trap - EXIT INT TERM
    stop_processes "${pids[@]}"
    rm -rf "$work"
    exit "$rc"
}
trap cleanup EXIT
trap 'log "stopped by a signal (time limit ${limit}s?)"; exit 124' INT TERM

fail() {
    log "FAILED: $*"
    for f in "$work"/*.log; do
        [[ -s $f ]] || continue
        cp "$f" "$artifacts/"
        log "--- $(basename "$f")"
        tail -n 30 "$f"
    done
    exit 1
}

wait_for() { # wait_for <seconds> <what> <command>...
    local seconds=$1 what=$2
    local deadline=$((SECONDS + seconds))
    shift 2
    until "$@"; do
        ((SECONDS < deadline)) || fail "waited ${seconds}s for $what"
        if [[ -n $app_pid ]] && ! kill -0 "$app_pid" 2>/dev/null; then
            fail "Kestrune ended unexpectedly"
        fi
        sleep 0.2
    done
}

start() { # start <log name> <command>...: in the background, stopped at the end
    local name=$1
    shift
    "$@" >"$work/$name.log" 2>&1 &
    pids+=($!)
}

stop_app() {
    kill "$app_pid" 2>/dev/null || true
    wait "$app_pid" 2>/dev/null || true
    app_pid=""
}

window_named() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1; }
has_window() { [[ -n $(window_named "$1") ]]; }
has_no_window() { [[ -z $(window_named "$1") ]]; }
x_answers() { xdpyinfo >/dev/null 2>&1; }
wm_running() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
has_tray() { [[ -n $(xdotool search --class trayer 2>/dev/null) ]]; }
# The window of our icon inside trayer's panel. Windows come and go while the tree is read.
tray_icon() {
    { xwininfo -root -tree 2>/dev/null || true; } | awk '/"panel": \("panel" "trayer"\)/ {p = 1} p && /"Kestrune": \("kestrune"/ {print $1; exit}'
}
icon_in_tray() { [[ -n $(tray_icon) ]]; }
# --- a fresh user in a fresh Wayland session ----------------------------------------------------
export HOME=$work/home XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config
export XDG_CACHE_HOME=$work/cache XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$HOME" && mkdir -m 700 "$XDG_RUNTIME_DIR"
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM QT_QPA_PLATFORMTHEME XDG_CURRENT_DESKTOP
unset DBUS_SESSION_BUS_ADDRESS SESSION_MANAGER QT_SCALE_FACTOR
export XDG_SESSION_TYPE=wayland

# The socket name is our own; weston takes the first free X display number itself.
socket=kestrune-$$-$RANDOM
start weston weston --backend=headless-backend.so --socket="$socket" --xwayland --idle-time=0 \
    --width=1280 --height=900
wait_for 30 "weston's Xwayland display" grep -q 'xserver listening on display' "$work/weston.log"
export WAYLAND_DISPLAY=$socket
DISPLAY=$(sed -n 's/.*xserver listening on display \(:[0-9]*\).*/\1/p' "$work/weston.log" | head -n 1)
export DISPLAY
wait_for 30 "Xwayland on $DISPLAY" x_answers
log "weston on $WAYLAND_DISPLAY with its Xwayland on $DISPLAY"

# --- 1. the program as the user starts it, on weston's own Xwayland ------------------------------
export XDG_DATA_HOME=$work/data-1
start kestrune-1 "$build/kestrune"
app_pid=${pids[-1]}
wait_for 60 "the main window on the X display" has_window "Tolvendra Software"
log "the window is on Xwayland $DISPLAY, not a Wayland client"
stop_app

# --- 2. minimise into the tray and back, on a rootful Xwayland with a window manager ------------
for _ in 1 2 3 4 5; do
    n=$((200 + RANDOM % 700))
    [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] && continue
    start xwayland Xwayland ":$n" -noreset
    export DISPLAY=":$n"
    wait_for 30 "the rootful Xwayland on $DISPLAY" x_answers && break
done
log "rootful Xwayland on $DISPLAY"
start openbox openbox --sm-disable
wait_for 30 "openbox" wm_running
start trayer trayer --edge top --align right --widthtype request --height 32 --SetDockType true \
    --transparent false
wait_for 30 "trayer" has_tray

export XDG_DATA_HOME=$work/data-2
start kestrune-2 "$build/kestrune"
app_pid=${pids[-1]}
wait_for 60 "the main window on the X display" has_window "Tolvendra Software"
sleep 1
xdotool windowminimize "$(window_named "Tolvendra Software")"
# The hidden window gets a new native window, so it is looked for by its name.
wait_for 30 "the window to hide" has_no_window "Tolvendra Software"
wait_for 30 "the icon in the tray" icon_in_tray
icon=$(tray_icon)
log "hidden; icon $icon in the tray"
sleep 1
xdotool mousemove --window "$icon" 8 8
sleep 0.3
xdotool click 1
wait_for 30 "the window to come back" has_window "Tolvendra Software"
log "back after a click on the icon"
wait_for 30 "the icon to leave the tray" eval '[[ -z $(tray_icon) ]]'
stop_app

# --- 3. a user who chose Wayland keeps it ---------------------------------------------------------
export XDG_DATA_HOME=$work/data-3
QT_QPA_PLATFORM=wayland start kestrune-3 "$build/kestrune"
app_pid=${pids[-1]}
sleep 5
kill -0 "$app_pid" 2>/dev/null || fail "Kestrune did not run on Wayland as chosen"
! has_window "Tolvendra Software" || fail "the window is on X although Wayland was chosen"
stop_app
log "QT_QPA_PLATFORM=wayland honoured; passed in $((SECONDS - started))s"
