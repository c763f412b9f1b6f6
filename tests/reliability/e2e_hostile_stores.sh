#!/bin/bash
# The nastiest damaged stores against the real zaprun on Xvfb, one desktop, zaprun restarted per
# case: it starts, its menu works, and whatever it cannot use is kept aside byte for byte. Then
# the store edited by another program while zaprun runs, and a save that fails.
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

# One stray byte costs one character (U+FFFD), not the library.
printf '{"all scripts names": ["a\xff"], "all scripts": [%s]}' "$(script utf)" >"$folder/defaults.json"
run_case "not UTF-8" "" "item item sep item" utf

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

# ---------------------------------------------------------------- an edit made outside zaprun
# _menu_is SHAPE : the tray menu, opened and closed again, has that shape.
_menu_is() {
    local shape
    open_menu || return 1
    shape=$(menu_shape "$MENU_WIN")
    keys Escape
    wait_for "$E2E_DEADLINE" window_gone "$MENU_WIN"
    [[ $shape == "$1" ]]
}
first="touch \"\$HOME/ran-first\" # $SECRET"
second="touch \"\$HOME/ran-second\" # $SECRET"
second_sum=$(printf '%s' "$second" | sha256sum | cut -d' ' -f1)
note "== an outside edit"
write_store first "$first"
ZAPRUN_PID=
start_zaprun
require_within "zaprun starts" 60 tray_icon_count_is 1
require "its menu lists the one script" _menu_is "item item sep item"
# A text editor saves in place; a sync tool or another session replaces the file: both are seen.
write_store first "$first" second "$second"
check_within "the menu follows an edit in place" 5 _menu_is "item item sep item item"
require "menu opens" open_menu
menu_choose_by_keys 4
check_within "  and runs the script added outside" "$E2E_DEADLINE" file_exists "$HOME/ran-second"
require "Preferences, which writes the store" eval 'open_menu && menu_choose_by_keys 1'
check_within "the write keeps the script added outside" "$E2E_DEADLINE" store_has second "$second_sum"
XDG_CONFIG_HOME=$E2E_ROOT/elsewhere write_store first "$first"
mv "$E2E_ROOT/elsewhere/zaprun/defaults.json" "$(store_file)"
check_within "the menu follows a file renamed into place" 5 _menu_is "item item sep item"
require "menu opens" open_menu
menu_choose_by_keys 2
wait_exit "$ZAPRUN_PID"

# ---------------------------------------------------------------- a save that fails
# The store's folder cannot be made while a file has its name.
note "== a failed save"
_block() { rm -rf "$folder" && echo "not a folder" >"$folder"; }
_preferences() { open_menu && menu_choose_by_keys 1; }
_blocked_msg="cannot create the folder $folder"
_block
ZAPRUN_PID=
start_zaprun
require_within "zaprun starts" 60 tray_icon_count_is 1
before=$(app_windows)
require "Preferences writes the store" _preferences
require "a dialog tells the save failed" wait_dialog "$before"
texts=$(dialog_texts "$DIALOG_WIN")
check_eq "  its title" "Your scripts could not be saved" "$(head -n 1 <<<"$texts")"
check "  it names the file and the reason" grep -qF "could not write $folder/defaults.json: $_blocked_msg." <<<"$texts" ||
    note "$texts"
require "Ok closes it" dialog_press_ok "$DIALOG_WIN"
before=$(app_windows)
require "Preferences again" _preferences
check_holds "a second failure in a row shows no second dialog" 1500 not new_window "$before" "$ZAPRUN_PID" dialog
rm -f "$folder"
require "Preferences once the folder can be made" _preferences
check_within "  saves" "$E2E_DEADLINE" file_exists "$(store_file)"
check_holds "  without a dialog" 1000 not new_window "$before" "$ZAPRUN_PID" dialog
_block
require "Preferences after it is blocked again" _preferences
check "  tells the new failure" wait_dialog "$before"
dialog_press_ok "$DIALOG_WIN"
rm -f "$folder" && mkdir -p "$folder"

check "no script text reached zaprun's stdout or stderr" no_secret_in_output
finish
