#!/bin/bash
# shellcheck disable=SC2016,SC2317,SC2119 # single-quoted scripts and conditions expand later, by name
# `cmake --install` into scratch prefixes: every file lands under the prefix, the entries and the
# metainfo pass their validators, the icons are in the hicolor theme at the sizes they claim.
# Usage: install_test.sh BUILD_DIR APP_ID
build=$1 app_id=$2
. "$(dirname "$0")/../e2e/lib.sh"

entry() { awk -F= -v k="$2" '$1 == k {sub(/^[^=]*=/, ""); print; exit}' "$1"; }
quietly() { "$@" >>"$E2E_LOGS/quiet.err" 2>&1; }
all_under() { [[ -n $1 ]] && ! grep -v "^$2/" <<<"$1"; } # LIST DIR

prefix=$E2E_ROOT/usr
share=$prefix/share
require "cmake --install into a scratch prefix" quietly cmake --install "$build" --prefix "$prefix"
check "every installed file is under the prefix" all_under "$(cat "$build/install_manifest.txt")" "$prefix"
check "the program is installed" test -x "$prefix/bin/zaprun"
apps=$share/applications/$app_id.desktop autostart=$share/zaprun/autostart/$app_id.desktop
check "the launcher and autostart entries pass desktop-file-validate" \
    quietly desktop-file-validate "$apps" "$autostart"
check "the installed tree passes appstreamcli validate-tree" \
    quietly appstreamcli validate-tree --no-net "$E2E_ROOT"
check_eq "the launcher runs zaprun" zaprun "$(entry "$apps" Exec)"
check_eq "  autostart the same" zaprun "$(entry "$autostart" Exec)"
check_eq "the launcher's icon is the application id" "$app_id" "$(entry "$apps" Icon)"
icons=$share/icons/hicolor
for size in 16 22 24 32 48 64 128 256; do
    check_eq "icon ${size}x$size" "PNG ${size}x$size" \
        "$(/usr/bin/identify -format '%m %wx%h' "$icons/${size}x$size/apps/$app_id.png")"
done
check "a scalable SVG icon" grep -q '<svg' "$icons/scalable/apps/$app_id.svg"
check_eq "nothing else in the theme" 9 "$(find "$icons" -type f | wc -l)"
# Staged, as a package build does it: the prefix is only a name inside DESTDIR.
require "a staged install under DESTDIR" \
    quietly env DESTDIR="$E2E_ROOT/stage" cmake --install "$build" --prefix /opt/zaprun
check "  stays inside DESTDIR/prefix" all_under "$(find "$E2E_ROOT/stage" -type f)" "$E2E_ROOT/stage/opt/zaprun"
finish
