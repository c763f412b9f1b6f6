#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# shellcheck disable=SC2016,SC2317,SC2119,SC2034 # conditions expand later, by name; helpers take optional arguments
# The installed tree and the Debian package of a finished build.
# Usage: package_test.sh BUILD_DIR APP_ID VERSION PHASE...
build=$1 app_id=$2 version=$3 source=$(cd "$(dirname "$0")/../.." && pwd)
: "${E2E_TEST_TIMEOUT:=420}" # cpack and lintian take a minute each on a loaded machine
. "$(dirname "$0")/../e2e/lib.sh"

quietly() { "$@" >>"$E2E_LOGS/quiet.err" 2>&1; }
all_under() { [[ -n $1 ]] && ! grep -v "^$2/" <<<"$1"; } # LIST DIR
entry() { awk -F= -v k="$2" '$1 == k {sub(/^[^=]*=/, ""); print; exit}' "$1"; }
metainfo_py() { # FILE EXPR : EXPR in python over the metainfo's root r and its home page h
    python3 -c 'import sys, xml.etree.ElementTree as E; r = E.parse(sys.argv[1]).getroot()
h = r.findtext("url[@type=\"homepage\"]", ""); print(eval(sys.argv[2]), end="")' "$1" "$2"
}
appstream_pedantic() { # FILE : not even a pedantic remark (a caption missing, http), but for the id's capitals
    local out
    out=$(appstreamcli validate --pedantic --no-net "$1" 2>&1) || { note "$out"; return 1; }
    ! grep -E '^[EWIP]: ' <<<"$out" | grep -v ' cid-contains-uppercase-letter ' | sed 's/^/# /' | grep .
}
man_page_clean() { # MANDIR : `man zaprun` finds the page installed there; groff formats it without a warning
    local page warnings
    page=$(MANPATH=$1 man -w zaprun) && [[ $page == "$1/man1/zaprun.1.gz" ]] || return 1
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
    [[ -z $warnings ]] || { note "$warnings"; return 1; }
}

phase_install() { # cmake --install: all under the prefix, valid entries and metainfo, the icons
    local prefix=$E2E_ROOT/usr && local share=$prefix/share && local metainfo=$prefix/share/metainfo/$app_id.metainfo.xml
    local apps=$share/applications/$app_id.desktop autostart=$share/zaprun/autostart/$app_id.desktop icons=$share/icons/hicolor
    require "cmake --install into a scratch prefix" quietly cmake --install "$build" --prefix "$prefix"
    check "every installed file is under the prefix" all_under "$(cat "$build/install_manifest.txt")" "$prefix"
    check "the launcher and autostart entries pass desktop-file-validate" quietly desktop-file-validate "$apps" "$autostart"
    check "the tree passes appstreamcli validate-tree" quietly appstreamcli validate-tree --no-net "$E2E_ROOT"
    check "the metainfo passes appstreamcli validate --pedantic" appstream_pedantic "$metainfo"
    check_eq "free software, described under a free licence" "GPL-3.0-or-later CC0-1.0" \
        "$(metainfo_py "$metainfo" 'r.findtext("project_license") + " " + r.findtext("metadata_license")')"
    check "screenshots, all on the home page's site" metainfo_py "$metainfo" \
        'exit(not (h and (s := r.findall("screenshots/screenshot/image")) and all(i.text.startswith(h) for i in s)))'
    check "man zaprun finds the installed page, which formats without a warning" man_page_clean "$prefix/share/man"
    check_eq "both entries run the installed zaprun; the icon is the application id" "zaprun zaprun $app_id" \
        "$(entry "$apps" Exec) $(entry "$autostart" Exec) $(entry "$apps" Icon)"
    check_eq "PNG icons at the sizes their folders name" "PNG:16x16 PNG:22x22 PNG:24x24 PNG:32x32 PNG:48x48 PNG:64x64 PNG:128x128 PNG:256x256" \
        "$(for s in 16 22 24 32 48 64 128 256; do /usr/bin/identify -format '%m:%wx%h ' "$icons/${s}x$s/apps/$app_id.png"; done | xargs)"
    check "a scalable SVG icon, and nothing else in the theme" \
        eval 'grep -q "<svg" "$icons/scalable/apps/$app_id.svg" && [[ $(find "$icons" -type f | wc -l) == 9 ]]'
    # Staged, as a package build does it: the prefix is only a name inside DESTDIR.
    require "a staged install under DESTDIR" quietly env DESTDIR="$E2E_ROOT/stage" cmake --install "$build" --prefix /opt/zaprun
    check "  stays inside DESTDIR/prefix" all_under "$(find "$E2E_ROOT/stage" -type f)" "$E2E_ROOT/stage/opt/zaprun"
}

field() { dpkg-deb -f "$deb" "$1"; }
depends_on() { [[ ", $(field Depends)," == *", $1"[\ ,]* ]]; }
depends_met() { # apt would install nothing else: every dependency is met on this system
    local out
    out=$(apt-get -s -o Debug::NoLocking=1 install "$deb" 2>&1) && ! grep '^Inst' <<<"$out" | grep -v '^Inst zaprun ' | sed 's/^/# unmet: /'
}
lintian_clean() { # the tags at every level in the log; an error or a warning fails
    local out
    out=$(lintian --display-level '>=pedantic' "$deb" 2>&1) || { note "$out"; return 1; }
    note "$out"
    ! grep -qE '^[EW]: ' <<<"$out"
}
phase_deb() { # CPack's package declares what it needs, unpacks under /usr only, and runs
    require "cpack builds the package" quietly cpack --config "$build/CPackConfig.cmake" -B "$E2E_ROOT/pkg"
    local debs=("$E2E_ROOT"/pkg/*.deb) dep root=$E2E_ROOT/root
    require "exactly one package" test "${#debs[@]}" -eq 1
    deb=${debs[0]}
    check_eq "name, version, architecture" "zaprun $version $(dpkg --print-architecture)" \
        "$(field Package) $(field Version) $(field Architecture)"
    for dep in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 qt6-qpa-plugins; do
        check "depends on $dep" depends_on "$dep"
    done
    check "no Qt Network: the single-instance socket needs none" not depends_on libqt6network6
    check "every dependency is met on this Debian" depends_met
    check "lintian finds no error and no warning" lintian_clean
    check "the source carries the GNU GPL 3 that the copyright file names" eval 'cmp -s "$source/LICENSE" /usr/share/common-licenses/GPL-3 &&
        dpkg-deb --fsys-tarfile "$deb" | tar -xOf - ./usr/share/doc/zaprun/copyright | grep -x "License: GPL-3+" >/dev/null'
    check "files only under /usr" not eval 'dpkg-deb -c "$deb" | awk "{print \$6}" | grep -v -e "^\./$" -e "^\./usr/"'
    require "dpkg -x into a scratch root" dpkg -x "$deb" "$root"
    start_desktop
    ZAPRUN_BIN=$root/usr/bin/zaprun start_zaprun
    require_within "the unpacked zaprun shows its tray icon" "$E2E_DEADLINE" tray_icon_count_is 1
}

run_phases "${@:4}"
