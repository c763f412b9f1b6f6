#!/bin/bash
# shellcheck disable=SC2016,SC2317,SC2119 # single-quoted scripts and conditions expand later, by name
# The Debian package: CPack builds it, it declares what it needs, it unpacks under /usr only,
# and the unpacked zaprun shows its tray icon. Usage: deb_test.sh BUILD_DIR APP_ID VERSION
build=$1 app_id=$2 version=$3
. "$(dirname "$0")/../e2e/lib.sh"

field() { dpkg-deb -f "$deb" "$1"; }
depends_on() { [[ ", $(field Depends)," == *", $1"[\ ,]* ]]; }
# installed_version NAME : of the package, or of what an installed package provides.
installed_version() {
    dpkg-query -W -f '${Version}\n' "$1" 2>/dev/null | grep . ||
        dpkg-query -W -f '${Provides}\n' | tr ',' '\n' | sed -n "s/^ *$1 (= \(.*\))\$/\1/p" | grep -m1 .
}
depends_met() { # every entry of Depends is met by one of its alternatives on this system
    local entry alt name op ver have
    IFS=',' read -ra entries <<<"$(field Depends)"
    for entry in "${entries[@]}"; do
        IFS='|' read -ra alts <<<"$entry"
        for alt in "${alts[@]}"; do
            read -r name op ver <<<"${alt//[()]/ }"
            have=$(installed_version "$name") && { [[ -z $op ]] || dpkg --compare-versions "$have" "$op" "$ver"; } &&
                continue 2
        done
        note "unmet: $entry"
        return 1
    done
}

require "cpack builds the package" cpack --config "$build/CPackConfig.cmake" -B "$E2E_ROOT/pkg" \
    >"$E2E_LOGS/cpack.err" 2>&1
debs=("$E2E_ROOT"/pkg/*.deb)
require "exactly one package" test "${#debs[@]}" -eq 1
deb=${debs[0]}
check_eq "name, version, architecture" "zaprun $version $(dpkg --print-architecture)" \
    "$(field Package) $(field Version) $(field Architecture)"
check "maintainer and description given" eval '[[ -n $(field Maintainer) && -n $(field Description) ]]'
for dep in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 qt6-qpa-plugins; do
    check "depends on $dep" depends_on "$dep"
done
check "no Qt Network: the single-instance socket needs none" not depends_on libqt6network6
check "every dependency is met on this Debian" depends_met
check "files only under /usr" not eval 'dpkg-deb -c "$deb" | awk "{print \$6}" | grep -v -e "^\./$" -e "^\./usr/"'
root=$E2E_ROOT/root
require "dpkg -x into a scratch root" dpkg -x "$deb" "$root"
check "the launcher entry is there" test -f "$root/usr/share/applications/$app_id.desktop"
check "every shared library resolves" eval 'ldd "$root/usr/bin/zaprun" >"$E2E_ROOT/ldd" && ! grep "not found" "$E2E_ROOT/ldd"'
start_desktop
ZAPRUN_BIN=$root/usr/bin/zaprun start_zaprun
require_within "the unpacked zaprun shows its tray icon" "$E2E_DEADLINE" tray_icon_count_is 1
finish
