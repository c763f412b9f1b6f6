#!/bin/bash
# The nastiest damaged stores against the real zaprun on Xvfb, one desktop, zaprun restarted per
# case: it starts, its menu works, and whatever it cannot use is kept aside byte for byte.
. "$(dirname "$0")/../e2e/lib.sh"
. "$(dirname "$0")/e2e_lib.sh"

start_desktop
folder=$XDG_CONFIG_HOME/zaprun
script() { printf '"touch \\"$HOME/ran-%s\\" # %s"' "$1" "$SECRET"; }

# run_case NAME ASIDE SHAPE [MARKER] : the store prepared in $folder meets a fresh zaprun; the
# menu has SHAPE (a trailing separator is not drawn); its first script (if MARKER) runs; a copy of kind ASIDE (if any) equals the
# original; zaprun quits through its menu.
run_case() {
    local name=$1 aside=$2 shape=$3 marker=${4-} kept
    note "== $name"
    cp -a "$folder/defaults.json" "$E2E_ROOT/original" 2>/dev/null || rm -rf "$E2E_ROOT/original"
    ZAPRUN_PID=
    start_zaprun
    require_within "$name: zaprun starts" 60 tray_icon_count_is 1
    require "$name: menu opens" open_menu
    check_eq "$name: menu shape" "$shape" "$(menu_shape "$MENU_WIN")"
    if [[ -n $marker ]]; then
        menu_choose_by_keys 3
        check_within "$name: its script runs" "$E2E_DEADLINE" file_exists "$HOME/ran-$marker"
    else
        keys Escape
    fi
    if [[ -n $aside ]]; then
        kept=$(compgen -G "$folder/defaults.json.$aside-*" | head -n 1)
        check "$name: kept aside as .$aside" test -e "$kept"
        check "$name: byte for byte" diff -r "$E2E_ROOT/original" "$kept"
        check_eq "$name: one line on stderr" 1 "$(zaprun_stderr_lines "$ZAPRUN_LAST_LOG")"
    fi
    require "$name: menu opens" open_menu
    menu_choose_by_keys 2
    wait_exit "$ZAPRUN_PID"
    check_eq "$name: Quit ends zaprun normally" 0 "$EXIT_STATUS"
    rm -rf "$folder" "$E2E_ROOT/original"
    mkdir -p "$folder"
}

mkdir -p "$folder"
printf '{"all scripts names": ["a"], "all scripts": [%s' "$(script trunc)" >"$folder/defaults.json"
run_case truncated corrupt "item item"

printf '{"all scripts names": ["a\xff"], "all scripts": [%s]}' "$(script utf)" >"$folder/defaults.json"
run_case "not UTF-8" corrupt "item item"

mkdir -p "$folder/defaults.json/sub" && echo "$SECRET" >"$folder/defaults.json/sub/file"
run_case "a directory in its place" unreadable "item item"

ln -s "$HOME/nowhere/defaults.json" "$folder/defaults.json"
run_case "a dangling link in its place" "" "item item"

printf '{"all scripts names": ["a"], "all scripts": [%s, %s]}' "$(script more)" "$(script other)" >"$folder/defaults.json"
run_case "more bodies than names" "" "item item sep item" more

{
    printf '{"all scripts names": ["big"], "all scripts": ["touch \\"$HOME/ran-big\\"; exit 0\\n#'
    head -c 50000000 /dev/zero | tr '\0' 'q'
    printf '"], "sel script index": 99999999999}'
} >"$folder/defaults.json"
run_case "50 MB" "" "item item sep item" big

check "no script text reached zaprun's stdout or stderr" no_secret_in_output
finish
