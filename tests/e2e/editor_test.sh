#!/bin/bash
# shellcheck disable=SC2016,SC2317,SC2119 # single-quoted scripts and conditions expand later, by name
# The editor from the keyboard (tab order: name field, Add, Delete, table, Preview). A script
# is copied, added, run, previewed, copied back and deleted; the window closed, brought back and
# reached from another application takes the clipboard's new text each time.
. "$(dirname "$0")/lib.sh"

ran_log_is() { [[ "$(cat "$HOME/ran.log" 2>/dev/null)" == "$1" ]]; }
# in_front_with_focus WIN : the topmost normal window, active, with the keyboard focus.
in_front_with_focus() {
    local w top=''
    for w in $(xprop -root _NET_CLIENT_LIST_STACKING | tr -d , | cut -d' ' -f5-); do
        xprop -id "$w" _NET_WM_WINDOW_TYPE | grep -q _DOCK || top=$((w))
    done
    [[ $top == "$1" && $(xdotool getactivewindow) == "$1" && $(xdotool getwindowfocus) == "$1" ]]
}
# add_as NAME : from the name field: its text replaced by NAME, then Add.
add_as() { keys ctrl+a && type_text "$1" && keys Tab space; }
# popup_placed ED POP : just under or above the editor's button row, wholly on the screen.
popup_placed() {
    local ey eh px py pw ph
    read -r _ ey _ eh < <(window_geometry "$1") && read -r px py pw ph < <(window_geometry "$2")
    ((py >= ey + eh - 50 && py <= ey + eh + 5 || py + ph >= ey + eh - 80 && py + ph <= ey + eh - 20)) &&
        ((px >= 0 && py >= 0 && px + pw <= 800 && py + ph <= 600))
}

start_desktop
write_store existing 'echo existing >>"$HOME/ran.log"'
start_zaprun
require_within "the icon embeds" "$E2E_DEADLINE" tray_icon_count_is 1
check "no window is shown at start" shown_count_is 0
# Blanks at line ends, a tab, quotes, UTF-8, no line break at the end.
first=$E2E_ROOT/first.sh
printf '%s\n' '# first: say hello   ' 'm="$HOME/marker-first"	' \
    "printf '%s\\n' \"Grüße, it's ✓\" >\"\$m\"  " 'echo first >>"$HOME/ran.log"' | head -c -1 >"$first"
require "the script is on the clipboard" clipboard_put "$first"
require "Preferences" choose 1
require_within "  brings the editor" "$E2E_DEADLINE" shown_count_is 1
ED=$(shown_windows)
check_within "  in front, active, with the keyboard focus" "$E2E_DEADLINE" in_front_with_focus "$ED"
check_holds "  and it stays so" 500 in_front_with_focus "$ED"
add_as "Say Hello"
check_within "the store's last entry: the name and the copied text, byte for byte" \
    "$E2E_DEADLINE" store_last_is "Say Hello" "$first"
require "the new item, the last in the tray menu" choose 4
check_within "  ran the new script" "$E2E_DEADLINE" ran_log_is first
check_eq "  which wrote its marker, UTF-8 and quotes intact" "Grüße, it's ✓" "$(cat "$HOME/marker-first")"

printf 'something else' >"$E2E_ROOT/other"
require "something else is on the clipboard" clipboard_put "$E2E_ROOT/other"
holder=$XCLIP_PID
require "the editor takes the focus back" activate "$ED"
before=$(app_windows)
keys Tab Tab ctrl+End Tab space
require "the last row, then Preview, opens a popup" wait_new_window "$before" "$ZAPRUN_PID" popup
pop=$NEW_WINDOW
check "  hanging from the button row, on the screen" popup_placed "$ED" "$pop"
keys shift+Tab space # back from the text, where Tab is text
check_within "its copy button puts exactly the script's bytes on the clipboard" "$E2E_DEADLINE" \
    clipboard_has_file "$first"
check_within "  and the clipboard's previous owner let go" "$E2E_DEADLINE" gone "$holder"
check_holds "  the popup stays open" 300 window_viewable "$pop"
keys Escape
check_within "Escape closes the popup" "$E2E_DEADLINE" window_gone "$pop"
keys shift+Tab shift+Tab space
check_within "Delete removes the selected row's name from the store" "$E2E_DEADLINE" store_names_are existing
check_eq "  and its body: the other's stays paired and untouched" 'echo existing >>"$HOME/ran.log"' \
    "$(store_py '"".join(b)')"

activate "$ED" && keys alt+F4
check_within "Alt+F4 hides every ZapRun window" "$E2E_DEADLINE" shown_count_is 0
check_holds "  for good, zaprun running on with its icon" 500 eval 'shown_count_is 0 && tray_icon_count_is 1'
second=$E2E_ROOT/second.sh
printf 'echo second\n\n# ends with a blank line\n\n' >"$second"
require "a second script is on the clipboard" clipboard_put "$second"
require "Preferences" choose 1
require_within "  shows the editor again" "$E2E_DEADLINE" shown_count_is 1
ED=$(shown_windows)
check_within "  in front, with the focus" "$E2E_DEADLINE" in_front_with_focus "$ED"
keys shift+Tab shift+Tab
add_as "second one"
check_within "its stored body is the new clipboard text" "$E2E_DEADLINE" store_last_is "second one" "$second"

spawn xmessage xmessage -name otherapp -geometry 300x100+20+400 "another application"
require_within "another application's window appears" "$E2E_DEADLINE" xdotool search --onlyvisible --classname otherapp
require "switch to it" activate "$(xdotool search --onlyvisible --classname otherapp | head -n 1)"
printf '%s' 'echo "third: $((6 * 7))"' >"$E2E_ROOT/third.sh"
require "a third script is on the clipboard" clipboard_put "$E2E_ROOT/third.sh"
require "switch back to the editor" activate "$ED"
check_holds "  which holds the focus" 500 in_front_with_focus "$ED"
keys shift+Tab
add_as third
check_within "its stored body is the text copied in the other application" "$E2E_DEADLINE" \
    store_last_is third "$E2E_ROOT/third.sh"
check_eq "the store: three names, in order" $'existing\nsecond one\nthird' "$(store_names)"

require "Quit ZapRun" quit_zaprun
check_eq "  ends zaprun with status 0" 0 "$EXIT_STATUS"
check_eq "nothing on zaprun's stderr" "" "$(zaprun_stderr)"
check_eq "only the chosen script ran" first "$(cat "$HOME/ran.log")"
finish
