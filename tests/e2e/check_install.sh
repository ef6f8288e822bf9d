#!/usr/bin/env bash
# Installs the build into a staging folder, as `make install DESTDIR=...` does, and checks what a
# desktop needs of it: the application folder with the program, its pointer and the modules it
# loads late, the command on the PATH, a valid desktop entry and AppStream file, and the icon in
# every size named there.
#
#   check_install.sh <build folder>
set -euo pipefail

build=$(cd "${1:?usage: check_install.sh <build folder>}" && pwd)
id=org.kestrune.Kestrune
work=$(mktemp -d "${TMPDIR:-/tmp}/kestrune-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}

DESTDIR=$work/stage cmake --install "$build" --prefix /usr >"$work/install.log" 2>&1 || {
    cat "$work/install.log"
    echo "FAILED: cmake --install"
    exit 1
}
# A second install over the first must work too: the symlink is replaced, not refused.
DESTDIR=$work/stage cmake --install "$build" --prefix /usr >>"$work/install.log" 2>&1 ||
    fail "installing a second time over the first"
root=$work/stage/usr

[[ -x $root/lib/kestrune/kestrune && ! -L $root/lib/kestrune/kestrune ]] ||
    fail "lib/kestrune/kestrune is not the program file"
[[ -s $root/lib/kestrune/HAND-M.CUR ]] || fail "no HAND-M.CUR in the application folder"
# The modules are loaded from the program's folder at their first use; Qt Network, QtKeychain,
# libical and what they bring must not be loaded with the program, before its window opens.
for module in libkestrune_dav_network.so libkestrune_keychain.so; do
    [[ -f $root/lib/kestrune/$module ]] || fail "no $module in the application folder"
    ! ldd "$root/lib/kestrune/$module" 2>&1 | grep -q "not found" || fail "$module lacks a library"
done
needed=$(readelf -d "$root/lib/kestrune/kestrune" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
for late in libQt6Network libqt6keychain libical; do
    ! grep -q "^$late" <<<"$needed" || fail "the program loads $late at start"
done
[[ $(readlink "$root/bin/kestrune") == ../lib/kestrune/kestrune ]] ||
    fail "bin/kestrune is not a relative link to ../lib/kestrune/kestrune"
[[ $(readlink -f "$root/bin/kestrune") == "$root/lib/kestrune/kestrune" ]] ||
    fail "bin/kestrune does not lead to the program"

desktop=$root/share/applications/$id.desktop
metainfo=$root/share/metainfo/$id.metainfo.xml
if [[ -f $desktop ]]; then
    desktop-file-validate "$desktop" || fail "desktop-file-validate"
    [[ $(sed -n 's/^Exec=//p' "$desktop") == kestrune ]] || fail "Exec is not kestrune"
    [[ $(sed -n 's/^Icon=//p' "$desktop") == "$id" ]] || fail "Icon is not $id"
else
    fail "no desktop entry $desktop"
fi
if [[ -f $metainfo ]]; then
    appstreamcli validate --no-net --pedantic "$metainfo" || fail "appstreamcli validate"
    grep -q "<id>$id</id>" "$metainfo" || fail "metainfo id is not $id"
    grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
        fail "metainfo does not launch $id.desktop"
else
    fail "no AppStream metadata $metainfo"
fi

icons=$root/share/icons/hicolor
grep -q '<svg' "$icons/scalable/apps/$id.svg" 2>/dev/null || fail "no scalable icon"
for size in 16 22 24 32 48 64 128 256 512; do
    png=$icons/${size}x${size}/apps/$id.png
    # The PNG header's width and height, big-endian at bytes 16 and 20.
    read -r w h < <(od -An -tu1 -j16 -N8 "$png" 2>/dev/null |
        awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}') || true
    [[ "${w:-}" == "$size" && "${h:-}" == "$size" ]] || fail "icon $png is not ${size}x${size}"
done

# Nothing of the test programs or build helpers may be installed.
unexpected=$(cd "$work/stage" && find . -type f -o -type l | grep -v -E \
    "^./usr/(bin/kestrune|lib/kestrune/(kestrune|HAND-M.CUR|libkestrune_(dav_network|keychain).so)|share/applications/$id.desktop|share/metainfo/$id.metainfo.xml|share/icons/hicolor/[^/]+/apps/$id.(png|svg))$" ||
    true)
[[ -z "$unexpected" ]] || fail "unexpected files installed: $unexpected"

((failures == 0)) || exit 1
echo "install layout checked"
