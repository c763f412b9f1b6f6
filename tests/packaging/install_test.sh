#!/bin/bash
# `cmake --install` of a finished build into scratch prefixes: every file lands under the prefix,
# the launcher and autostart entries and the AppStream metainfo pass their validators, and the
# icons are in the hicolor theme at the sizes they claim.
# Usage: install_test.sh BUILD_DIR APP_ID
set -u -o pipefail

build=$1
app_id=$2
scratch=$(mktemp -d "${TMPDIR:-/tmp}/zaprun-install.XXXXXX") || exit 2
trap 'rm -rf "$scratch"' EXIT
count=0
failed=0

# check DESC CMD... : one TAP result; the test goes on either way.
check() {
    local desc=$1
    shift
    count=$((count + 1))
    if "$@"; then
        echo "ok $count - $desc"
    else
        failed=$((failed + 1))
        echo "not ok $count - $desc"
    fi
}

# The value of KEY in the [Desktop Entry] group of a desktop file.
desktop_value() {
    awk -F= -v key="$2" '/^\[/ {group = $0} group == "[Desktop Entry]" && $1 == key {
        sub(/^[^=]*=/, ""); print; exit}' "$1"
}

# quietly LOG CMD... : runs CMD with its output kept in LOG, shown only when something failed.
quietly() {
    local log=$scratch/$1.log
    shift
    "$@" >"$log" 2>&1
}
png_size_is() { [[ $(/usr/bin/identify -format '%m %wx%h' "$1" 2>/dev/null) == "PNG $2" ]]; }
all_under() { # MANIFEST DIR: every installed file is inside DIR
    [[ -s $1 ]] && ! grep -v -- "^$2/" "$1"
}
only_files_under() { # ROOT DIR: every file below ROOT is inside DIR
    [[ -n $(find "$1" -type f) ]] && ! find "$1" -type f | grep -v -- "^$2/"
}
is_svg() { head -c 400 "$1" | grep -q '<svg' && grep -q 'viewBox="0 0 256 256"' "$1"; }

prefix=$scratch/usr
check "cmake --install into a scratch prefix" \
    quietly install cmake --install "$build" --prefix "$prefix"
check "every installed file is under the prefix" \
    all_under "$build/install_manifest.txt" "$prefix"

apps=$prefix/share/applications/$app_id.desktop
autostart=$prefix/share/zaprun/autostart/$app_id.desktop
metainfo=$prefix/share/metainfo/$app_id.metainfo.xml
check "the program is installed" test -x "$prefix/bin/zaprun"
check "launcher entry passes desktop-file-validate" desktop-file-validate "$apps"
check "autostart entry passes desktop-file-validate" desktop-file-validate "$autostart"
check "metainfo passes appstreamcli validate --no-net" \
    quietly appstream appstreamcli validate --no-net "$metainfo"
check "installed tree passes appstreamcli validate-tree --no-net" \
    quietly appstream-tree appstreamcli validate-tree --no-net "$scratch"

check "launcher runs zaprun" test "$(desktop_value "$apps" Exec)" = zaprun
check "launcher icon is the application id" test "$(desktop_value "$apps" Icon)" = "$app_id"
check "autostart runs the same program" \
    test "$(desktop_value "$autostart" Exec)" = "$(desktop_value "$apps" Exec)"
check "autostart entry waits for the panel (GNOME)" \
    test -n "$(desktop_value "$autostart" X-GNOME-Autostart-Delay)"
check "autostart entry waits for the panel (KDE)" \
    test "$(desktop_value "$autostart" X-KDE-autostart-after)" = panel
check "autostart entry needs the tray (LXQt)" \
    test "$(desktop_value "$autostart" X-LXQt-Need-Tray)" = true
check "metainfo names the launcher" \
    grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo"
check "metainfo id is the application id" grep -q "<id>$app_id</id>" "$metainfo"

icons=$prefix/share/icons/hicolor
for size in 16 22 24 32 48 64 128 256; do
    check "icon ${size}x$size is a ${size}x$size PNG" \
        png_size_is "$icons/${size}x$size/apps/$app_id.png" "${size}x$size"
done
check "scalable icon is an SVG" is_svg "$icons/scalable/apps/$app_id.svg"
check "nothing but the application icon in the theme" \
    test "$(find "$icons" -type f ! -name "$app_id.png" ! -name "$app_id.svg" | wc -l)" -eq 0

# Staged install (as a package build does it): the prefix is only a name inside DESTDIR.
check "staged install under DESTDIR with another prefix" \
    quietly stage env DESTDIR="$scratch/stage" cmake --install "$build" --prefix /opt/zaprun
check "staged install stays inside DESTDIR/prefix" \
    only_files_under "$scratch/stage" "$scratch/stage/opt/zaprun"
check "staged install has the launcher entry" \
    test -f "$scratch/stage/opt/zaprun/share/applications/$app_id.desktop"

if ((failed > 0)); then
    for log in "$scratch"/*.log; do sed "s|^|# $(basename "$log"): |" "$log"; done
fi
echo "1..$count"
((failed == 0))
