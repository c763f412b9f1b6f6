#!/bin/bash
# The Debian package: CPack builds it, its control data declares what it needs, it unpacks into a
# scratch root with everything under /usr, and the unpacked zaprun starts on a private Xvfb
# desktop and shows its tray icon.
# Usage: deb_test.sh BUILD_DIR APP_ID VERSION
build=$1
app_id=$2
version=$3
. "$(dirname "$0")/../e2e/lib.sh"

pkgdir=$E2E_ROOT/pkg
root=$E2E_ROOT/root

field() { dpkg-deb -f "$deb" "$1"; }
# The version of NAME installed, or that an installed package provides (qt6-base-abi, say).
installed_version() {
    local version
    version=$(dpkg-query -W -f '${Version}' "$1" 2>/dev/null)
    [[ -n $version ]] ||
        version=$(dpkg-query -W -f '${Provides}\n' | tr ',' '\n' | sed -n "s/^ *$1 (= \(.*\))\$/\1/p" | head -n 1)
    [[ -n $version ]] && echo "$version"
}
# Every entry of the Depends field is met by a package installed on this Debian system.
depends_met() {
    local entry alt name op ver have ok
    IFS=',' read -ra entries <<<"$(field Depends)"
    for entry in "${entries[@]}"; do
        ok=1
        IFS='|' read -ra alts <<<"$entry"
        for alt in "${alts[@]}"; do
            read -r name op ver <<<"${alt//[()]/ }"
            have=$(installed_version "$name") || continue
            if [[ -z $op ]] || dpkg --compare-versions "$have" "$op" "${ver}"; then
                ok=0
                break
            fi
        done
        ((ok == 0)) || { note "unmet dependency: $entry"; return 1; }
    done
}
depends_on() { [[ ", $(field Depends)," == *", $1"[\ ,]* ]]; }
only_under_usr() { ! dpkg-deb -c "$deb" | awk '{print $6}' | grep -v -e '^\./$' -e '^\./usr/'; }
links_resolve() { ldd "$root/usr/bin/zaprun" >"$E2E_LOGS/ldd.txt" && ! grep -q 'not found' "$E2E_LOGS/ldd.txt"; }

require "cpack builds the package" \
    cpack --config "$build/CPackConfig.cmake" -B "$pkgdir" >"$E2E_LOGS/cpack.out" 2>&1
debs=("$pkgdir"/*.deb)
require_eq "exactly one package" 1 "${#debs[@]}"
deb=${debs[0]}
note "package: $(basename "$deb")"
dpkg-deb -I "$deb" | sed 's/^/#   /'

check_eq "package name" zaprun "$(field Package)"
check_eq "package version" "$version" "$(field Version)"
check_eq "architecture" "$(dpkg --print-architecture)" "$(field Architecture)"
check "maintainer given" test -n "$(field Maintainer)"
check "description given" test -n "$(field Description)"
for dep in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 qt6-qpa-plugins; do
    check "depends on $dep" depends_on "$dep"
done
check "no Qt Network: the single-instance socket needs none" not depends_on libqt6network6
check "every dependency is met on this Debian" depends_met
check "files only under /usr" only_under_usr

require "dpkg -x into a scratch root" dpkg -x "$deb" "$root"
share=$root/usr/share
check "program at /usr/bin/zaprun" test -x "$root/usr/bin/zaprun"
check "launcher entry valid" desktop-file-validate "$share/applications/$app_id.desktop"
check "autostart entry valid" desktop-file-validate "$share/zaprun/autostart/$app_id.desktop"
check "metainfo valid" appstreamcli validate --no-net "$share/metainfo/$app_id.metainfo.xml"
check "scalable icon" test -s "$share/icons/hicolor/scalable/apps/$app_id.svg"
check "48 pixel icon" test -s "$share/icons/hicolor/48x48/apps/$app_id.png"
check "every shared library resolves" links_resolve

start_desktop
ZAPRUN_BIN=$root/usr/bin/zaprun
start_zaprun
require_within "the unpacked zaprun shows its tray icon" "$E2E_DEADLINE" tray_icon_present
check "it is still running" alive "$ZAPRUN_PID"
finish
