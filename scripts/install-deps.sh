#!/usr/bin/env bash
# Installs the Debian packages Kestrune needs to build, test and run, and only those missing.
set -euo pipefail

packages=(
    cmake g++ make pkg-config
    qt6-base-dev qt6-svg-dev libqt6svg6
    libsqlite3-dev sqlite3 libxlsxwriter-dev libbenchmark-dev libxxhash-dev
    # iCalendar files in and out
    libical-dev
    # make bench: the start-up benchmark watches its own Xvfb for the window's map
    libxcb1-dev
    # test-only: independent readers of what the export writes
    libzip-dev libpoppler-qt6-dev
    # fuzzing only (make fuzz): clang with libFuzzer and the sanitizer runtimes
    clang-14 libclang-rt-14-dev
    # test-only and for screenshots: a headless X server
    xvfb xauth x11-apps imagemagick poppler-utils fonts-dejavu-core
    # the end-to-end run: a window manager, a driver from outside, and the installed files' checks
    openbox xdotool wmctrl x11-utils x11-xserver-utils desktop-file-utils appstream
    # the tray on real desktops: a session bus of the test's own, the test panel's language,
    # a Wayland compositor with Xwayland, Qt's Wayland platform and an XEmbed tray
    dbus-daemon python3 python3-dbus python3-gi weston xwayland qt6-wayland trayer
    # test-only: other programs that write and read iCalendar tasks
    todoman python3-icalendar
    # CalDAV sync: the desktop's secret store; test-only: a CalDAV server and a foreign client
    qtkeychain-qt6-dev radicale python3-caldav
    # make package: dpkg-shlibdeps finds the .deb's dependencies
    dpkg-dev
)

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
