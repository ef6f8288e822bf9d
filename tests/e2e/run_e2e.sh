#!/usr/bin/env bash
# End-to-end run of the installed Kestrune on a real X server, driven from outside like a user:
# install into a staging folder, start the desktop entry's command on a fresh store under Xvfb
# and openbox with a StatusNotifierItem panel on a session bus of its own, load the samples with
# a mouse click, add a task through the editor from the keyboard, minimise into the tray and
# bring the window back as the panel's click does, close the window, and read the store with
# sqlite3; then start it again as its autostart entry does, hidden in the tray, with a reminder of
# an overdue task. (The XEmbed tray is driven in run_wayland.sh.)
#
#   run_e2e.sh <build folder> [<artifacts folder>]
#
# The artifacts folder (default <build folder>/e2e) receives screenshot.png, the window as the
# run leaves it before closing, and on a failure failure.png and the logs.
set -euo pipefail
# shellcheck source=../support/session.sh
. "$(dirname "$0")/../support/session.sh"

limit=${KESTRUNE_E2E_LIMIT:-300} # seconds for the whole run
if [[ -z "${KESTRUNE_E2E_LIMITED:-}" ]]; then
    # The clean-up trap below still runs when the limit's TERM arrives.
    KESTRUNE_E2E_LIMITED=1 exec timeout --kill-after=30 "$limit" "$0" "$@"
fi

build=$(cd "${1:?usage: run_e2e.sh <build folder> [<artifacts folder>]}" && pwd)
artifacts=${2:-$build/e2e}
new_task="Water the office plants"

mkdir -p "$artifacts"
artifacts=$(cd "$artifacts" && pwd)
rm -f "$artifacts"/failure.png "$artifacts"/application-error.png "$artifacts"/*.log
work=$(mktemp -d "${TMPDIR:-/tmp}/kestrune-e2e.XXXXXX")
started=$SECONDS
xvfb_pid="" wm_pid="" app_pid="" bus_pid="" panel_pid=""

log() { printf '[e2e %3ds] %s\n' "$((SECONDS - started))" "$*"; }

stop() {
    local pid=$1
    [[ -n "$pid" ]] && kill -0 "$pid" 2>/dev/null || return 0
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || return 0; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
}

cleanup() {
    local rc=$?
    trap - EXIT INT TERM
    stop "$app_pid"
    stop "$panel_pid"
    stop "$bus_pid"
    stop "$wm_pid"
    stop "$xvfb_pid"
    rm -rf "$work"
    exit "$rc"
}
trap cleanup EXIT
trap 'log "stopped by a signal (time limit ${limit}s?)"; exit 124' INT TERM

fail() {
    log "FAILED: $*"
    if [[ -n "${DISPLAY:-}" ]]; then
        import -display "$DISPLAY" -window root "$artifacts/failure.png" 2>/dev/null &&
            log "screen at the failure: $artifacts/failure.png"
    fi
    for f in "$work"/*.log; do
        [[ -s "$f" && "$f" != */install.log ]] || continue
        cp "$f" "$artifacts/"
        log "--- $(basename "$f")"
        tail -n 40 "$f"
    done
    exit 1
}

# Polls a command for a while, quietly: true once it succeeds. poll <seconds> <command>...
poll() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        ((SECONDS < deadline)) || return 1
        check_app_alive
        sleep 0.2
    done
}

# Polls a command until it succeeds: wait_for <seconds> <what> <command>...
wait_for() {
    local seconds=$1 what=$2
    shift 2
    local deadline=$((SECONDS + seconds))
    until "$@"; do
        ((SECONDS < deadline)) || fail "waited ${seconds}s for $what"
        check_app_alive
        sleep 0.2
    done
}

check_app_alive() {
    [[ -z "$app_pid" ]] && return 0
    if ! kill -0 "$app_pid" 2>/dev/null; then
        local rc=0
        wait "$app_pid" || rc=$?
        app_pid=""
        fail "Kestrune ended unexpectedly with exit status $rc"
    fi
    check_no_error_box
}

# An "Application Error" box means a handler failed. Its text cannot be read from outside (a Qt
# message box copies itself to the clipboard only on Windows), so its picture is kept instead.
check_no_error_box() {
    local box
    box=$(window_named "Application Error") || true
    [[ -z "$box" ]] && return 0
    import -window "$box" "$artifacts/application-error.png" 2>/dev/null || true
    fail "Kestrune showed an Application Error box: see $artifacts/application-error.png"
}

# The value of one key of the store, with rows on lines and fields separated by tabs.
store_value() {
    local key=$1 db=$XDG_DATA_HOME/Kestrune/Kestrune.db
    [[ -f "$db" ]] || return 0
    sqlite3 -cmd '.timeout 5000' "$db" \
        "SELECT value FROM settings WHERE app='Kestrune' AND section='Tolvendra Software' AND key='$key'" |
        sed -e 's/My_Separatora12/\t/g' -e 's/My_Separatora08/\n/g' | sed -e '/^$/d'
}

task_texts() { store_value 1_Root_1 | cut -f1; }
task_count_is() { [[ $(task_texts | grep -c .) -eq $1 ]]; }

map_state() { xwininfo -id "$1" 2>/dev/null | sed -n 's/^ *Map State: //p'; }
is_unmapped() { [[ $(map_state "$1") == IsUnMapped ]]; }
is_viewable() { [[ $(map_state "$1") == IsViewable ]]; }
window_named() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1; }
has_window() { [[ -n $(window_named "$1") ]]; }
has_no_window() { [[ -z $(window_named "$1") ]]; }

# Clicks at a point of a window given in twips of its design client size, scaled to the size
# the window really has, so the click lands on the control whatever the scale factor. With
# "below-bar", the design client area sits below a menu bar: it keeps its proportions, and the
# bar has the rest of the height.
click_at_twips() {
    local window=$1 x=$2 y=$3 design_w=$4 design_h=$5 WIDTH HEIGHT X Y SCREEN WINDOW
    eval "$(xdotool getwindowgeometry --shell "$window")"
    local top=0 area_h=$HEIGHT
    if [[ ${6:-} == below-bar ]]; then
        area_h=$((WIDTH * design_h / design_w))
        top=$((HEIGHT - area_h))
    fi
    # No --sync: it waits for ever when the pointer is already there.
    xdotool mousemove --window "$window" $((WIDTH * x / design_w)) $((top + area_h * y / design_h))
    sleep 0.3
    xdotool click 1
}

activate() { timeout 10 xdotool windowactivate --sync "$1" >/dev/null 2>&1 || true; }

# Absolute position and size of a window's client area: X Y WIDTH HEIGHT.
client_rect() {
    xwininfo -id "$1" | awk -F: '/Absolute upper-left X/ {x=$2} /Absolute upper-left Y/ {y=$2}
        /^ *Width/ {w=$2} /^ *Height/ {h=$2} END {print x+0, y+0, w+0, h+0}'
}

# --- install into a staging folder ---------------------------------------------------------
stage=$work/stage
log "installing into $stage/usr"
DESTDIR=$stage cmake --install "$build" --prefix /usr >"$work/install.log" 2>&1 || {
    cat "$work/install.log"
    fail "cmake --install failed"
}
desktop=$stage/usr/share/applications/org.kestrune.Kestrune.desktop
[[ -L $stage/usr/bin/kestrune && -x $stage/usr/bin/kestrune ]] || fail "no usable bin/kestrune"
[[ -f $desktop ]] || fail "no desktop entry installed"
command=$(sed -n 's/^Exec=//p' "$desktop")
[[ -n "$command" && "$command" != *%* ]] || fail "unexpected Exec line in the desktop entry"

# --- a fresh user on a fresh X server ----------------------------------------------------------
export HOME=$work/home XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config
export XDG_CACHE_HOME=$work/cache XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS SESSION_MANAGER QT_SCALE_FACTOR
export QT_QPA_PLATFORM=xcb
export PATH=$stage/usr/bin:$PATH

# A display of our own, away from :0 and the low numbers other X servers and tests take; a
# server that does not answer is replaced by one on another number.
start_xvfb() {
    local n
    for _ in 1 2 3 4 5; do
        n=$((200 + RANDOM % 700))
        [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] && continue
        Xvfb ":$n" -screen 0 1280x900x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
        xvfb_pid=$!
        export DISPLAY=":$n"
        if poll 15 xdpyinfo >/dev/null 2>&1; then
            return 0
        fi
        kill "$xvfb_pid" 2>/dev/null || true
    done
    fail "no Xvfb answered"
}
start_xvfb
log "Xvfb on $DISPLAY"
xsetroot -solid '#3a6ea5' || true

wm_running() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
for _ in 1 2 3; do
    openbox --sm-disable >"$work/openbox.log" 2>&1 &
    wm_pid=$!
    poll 15 wm_running && break
    kill "$wm_pid" 2>/dev/null || true
done
wait_for 15 "openbox" wm_running

# --- the desktop's panel: a StatusNotifierWatcher and a notification server ---------------------
start_session_bus "$work"
wait_for 15 "the session bus" test -s "$work/bus.address"
DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$work/bus.address")
export DBUS_SESSION_BUS_ADDRESS
/usr/bin/python3 "$(dirname "$0")/../tray/sni_panel.py" >"$work/panel.log" 2>&1 &
panel_pid=$!
wait_for 15 "the panel" grep -q '^ready' "$work/panel.log"

# The panel's answers, one value a line.
panel() {
    dbus-send --session --print-reply --dest=org.kestrune.TestPanel /TestPanel \
        "org.kestrune.TestPanel.$@" | sed -n 's/^ *\(string\|int32\|uint32\) "\{0,1\}\([^"]*\)"\{0,1\}$/\2/p'
}
panel_items() { panel Items; }
has_item() { [[ -n $(panel_items) ]]; }
has_no_item() { [[ -z $(panel_items) ]]; }

# --- start the program as its desktop entry does -------------------------------------------------
log "starting '$command' from the desktop entry"
$command >"$work/kestrune.log" 2>&1 &
app_pid=$!
wait_for 60 "the main window" has_window "Tolvendra Software"
main=$(window_named "Tolvendra Software")
activate "$main"
log "main window $main"
# The icon the desktop shows for the window, drawn ahead from the SVG.
icons=$(xprop -id "$main" _NET_WM_ICON)
for size in 16 32 128; do
    [[ $icons == *"Icon ($size x $size)"* ]] || fail "no $size px window icon"
done
# A window is mapped before its first layout and focus settle on a loaded machine.
sleep 1

# --- Load Sample/Example Items, by a click on its button ------------------------------------------
# The button's centre in the design client area of 12120 x 5910 twips, below the menu bar. A
# click that fell on a window still settling is given again, but only while nothing has been
# stored.
for _ in 1 2 3; do
    click_at_twips "$main" $((8160 + 1920)) $((4880 + 202)) 12120 5910 below-bar
    poll 5 task_count_is 3 && break
    task_count_is 0 || break
done
wait_for 30 "the three samples in the store" task_count_is 3
log "samples stored: $(task_texts | paste -sd '|')"

# --- Add Task through the editor, from the keyboard ----------------------------------------------
for _ in 1 2 3; do
    activate "$main"
    xdotool key --clearmodifiers ctrl+n
    poll 5 has_window "Add Task" && break
done
wait_for 30 "the task editor" has_window "Add Task"
editor=$(window_named "Add Task")
activate "$editor"
sleep 0.3
xdotool type --delay 40 "$new_task"
# "OK" in the editor's design client area of 8040 x 6540 twips.
click_at_twips "$editor" $((120 + 1920)) $((6020 + 202)) 8040 6540
wait_for 30 "the editor to close" has_no_window "Add Task"
wait_for 30 "the new task in the store" task_count_is 4
log "tasks stored: $(task_texts | paste -sd '|')"

# --- minimise into the tray, and back by a click on the item ----------------------------------------
xdotool windowminimize "$main"
# The hidden window gets a new native window, so it is looked for by its name from here on.
wait_for 30 "the window to hide" has_no_window "Tolvendra Software"
wait_for 30 "the tray item" has_item
item=$(panel_items | head -n 1)
[[ $(panel ToolTipTitle "string:$item") == "Tolvendra Software" ]] || fail "the item's tooltip"
log "hidden; tray item $item"
sleep 1
check_app_alive
[[ $(panel Notifications | grep -c '^Tolvendra Software$') -eq 1 ]] ||
    fail "not one notification titled Tolvendra Software: $(panel Notifications | paste -sd '|')"
panel Activate "string:$item" >/dev/null
wait_for 30 "the window to come back" has_window "Tolvendra Software"
wait_for 30 "the tray item to go" has_no_item
main=$(window_named "Tolvendra Software")
log "restored"
sleep 1
check_app_alive

# --- the screenshot: the window with its frame and a margin of desktop ------------------------------
read -r X Y WIDTH HEIGHT < <(client_rect "$main")
read -r fl fr ft fb < <(xprop -id "$main" _NET_FRAME_EXTENTS | sed -n 's/.*= *//p' | tr -d ',') ||
    true
fl=${fl:-0} fr=${fr:-0} ft=${ft:-0} fb=${fb:-0}
margin=16
crop_x=$((X - fl - margin)) crop_y=$((Y - ft - margin))
((crop_x < 0)) && crop_x=0
((crop_y < 0)) && crop_y=0
crop="$((WIDTH + fl + fr + 2 * margin))x$((HEIGHT + ft + fb + 2 * margin))+$crop_x+$crop_y"
import -window root -crop "$crop" +repage "$artifacts/screenshot.png" ||
    fail "could not save the screenshot"
log "screenshot: $artifacts/screenshot.png ($crop)"

# --- close it, as the window manager's close button does -------------------------------------------
wmctrl -i -c "$main"
deadline=$((SECONDS + 30))
while kill -0 "$app_pid" 2>/dev/null; do
    ((SECONDS < deadline)) || fail "Kestrune did not end within 30s of closing its window"
    check_no_error_box
    sleep 0.2
done
rc=0
wait "$app_pid" || rc=$?
app_pid=""
((rc == 0)) || fail "Kestrune ended with exit status $rc"
log "closed"

# --- the store, as the run left it --------------------------------------------------------------
expected=$(printf '%s\n' "Deliver Parts" "Call Nessaly" "Collaborate with Dorrin" "$new_task")
actual=$(task_texts)
[[ "$actual" == "$expected" ]] ||
    fail "stored tasks of Work differ: expected [$(paste -sd '|' <<<"$expected")], got [$(paste -sd '|' <<<"$actual")]"
bad_rows=$(store_value 1_Root_1 | awk -F '\t' 'NF != 6' | wc -l)
((bad_rows == 0)) || fail "$bad_rows stored rows of Work do not have six fields"
new_row=$(store_value 1_Root_1 | tail -n 1)
[[ $(cut -f2 <<<"$new_row") == Medium ]] || fail "the new task's priority is not Medium: $new_row"
[[ -z $(store_value 1_Root_1Del) ]] || fail "the deleted list of Work is not empty"
# The close handler writes the column widths: their presence shows it ran.
[[ -n $(store_value List1Cols) ]] || fail "no column widths stored on close"
log "store checked"

# --- a start at login, as the autostart entry starts it: hidden in the tray, and a reminder -------
sqlite3 -cmd '.timeout 5000' "$XDG_DATA_HOME/Kestrune/Kestrune.db" \
    "UPDATE settings SET value = value || 'Pay the rentMy_Separatora12HighMy_Separatora12General' ||
     'My_Separatora122000-01-01My_Separatora12My_Separatora12My_Separatora08' WHERE key='1_Root_1'"
panel Forget >/dev/null
has_reminder() { panel Notifications | grep -qx 'Overdue'; }
log "starting '$command --autostart' as the autostart entry does"
$command --autostart >"$work/kestrune-login.log" 2>&1 &
app_pid=$!
wait_for 60 "the tray item" has_item
wait_for 30 "the reminder of the overdue task" has_reminder
has_no_window "Tolvendra Software" || fail "the window showed on a start at login"
[[ $(panel Notifications | grep -c '^Tolvendra Software$') -eq 0 ]] ||
    fail "a balloon on a start at login: $(panel Notifications | paste -sd '|')"
check_app_alive
log "hidden in the tray with a reminder: $(panel Notifications | paste -sd '|')"
panel Activate "string:$(panel_items | head -n 1)" >/dev/null
wait_for 30 "the window to come back" has_window "Tolvendra Software"
main=$(window_named "Tolvendra Software")
wmctrl -i -c "$main"
deadline=$((SECONDS + 30))
while kill -0 "$app_pid" 2>/dev/null; do
    ((SECONDS < deadline)) || fail "Kestrune did not end within 30s of closing its window"
    check_no_error_box
    sleep 0.2
done
app_pid=""
log "passed in $((SECONDS - started))s"
