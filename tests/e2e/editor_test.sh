#!/bin/bash
# The editor window end to end, driven as a user would: the real zaprun on a private Xvfb with
# openbox and an XEmbed tray host. One script travels the whole road: copied with xclip, taken
# when "Preferences" brings the editor forward, named and added, listed last in the tray menu and
# run from it, shown by the preview and copied back, deleted by name. Then the window is closed
# and brought back, and the editor is reached from another application; each activation takes
# the clipboard's new text.
. "$(dirname "$0")/lib.sh"

command -v perl >/dev/null && perl -MJSON::PP -e 1 2>/dev/null ||
    fail "perl with JSON::PP is needed to read the store"

# ---------------------------------------------------------------- reading the store

# store_value KEY [INDEX] : an array's length, or with INDEX its element's exact bytes.
store_value() {
    perl -MJSON::PP -0777 -e '
        my $d = JSON::PP->new->utf8->decode(scalar <STDIN>);
        my $a = $d->{$ARGV[0]} // [];
        binmode STDOUT, ":utf8";
        print @ARGV > 1 ? $a->[$ARGV[1]] // "" : scalar @$a;' "$@" <"$(store_file)"
}
# store_last_is NAME BODYFILE : the store's last entry is NAME with exactly BODYFILE's bytes.
store_last_is() {
    local n
    n=$(store_value "all scripts names") || return 1
    [[ $n -ge 1 && $(store_value "all scripts") -eq $n ]] || return 1
    [[ $(store_value "all scripts names" $((n - 1))) == "$1" ]] || return 1
    store_value "all scripts" $((n - 1)) >"$E2E_ROOT/stored-body"
    cmp -s "$E2E_ROOT/stored-body" "$2"
}
store_names() {
    local i n
    n=$(store_value "all scripts names") || return 1
    for ((i = 0; i < n; i++)); do store_value "all scripts names" "$i"; echo; done
}
store_names_are() { [[ $(store_names) == "$1" ]]; }

# ---------------------------------------------------------------- finding controls on a picture

# controls WIN : where the editor's (or the preview popup's) controls are, read off the window's
# picture, since Qt's widgets are not X windows. Prints, relative to WIN:
#   view X0 Y0 X1 Y1   the large white area: the table's body, or the popup's text view
#   field X Y          the centre of the next white area below it (the name field), if any
#   button X Y         the centre of each push button in the row below, left to right
#   row X Y            a point in each line of text (or highlighted row) inside the view
controls() {
    local png=$E2E_ROOT/controls.png w h
    read -r _ _ w h < <(window_geometry "$1") || return 1
    /usr/bin/import -window "$1" "$png" 2>/dev/null || return 1
    _gray_rows "$png" "$w" | awk -v w="$w" -v h="$h" '
        { for (i = 1; i <= NF; i++) px[NR - 1, i - 1] = $i }
        # White runs (pure 255: button faces are never quite white) down a column near the
        # right edge: the longest is the view, the next one below it the field.
        function whiteruns(x,   y, s) {
            nr = 0; s = -1
            for (y = 0; y <= h; y++) {
                if (y < h && px[y, x] == 255) { if (s < 0) s = y }
                else if (s >= 0) { rs[nr] = s; re[nr] = y - 1; nr++; s = -1 }
            }
        }
        END {
            cx = w - 24
            whiteruns(cx)
            best = -1
            for (i = 0; i < nr; i++) if (best < 0 || re[i] - rs[i] > re[best] - rs[best]) best = i
            if (best < 0 || re[best] - rs[best] < 20) exit 1
            vy0 = rs[best]; vy1 = re[best]
            # The view'"'"'s sides, on its last pixel row (no text there).
            for (x = cx; x > 0 && px[vy1, x - 1] == 255; x--) ;
            vx0 = x
            for (x = cx; x < w - 1 && px[vy1, x + 1] == 255; x++) ;
            vx1 = x
            printf "view %d %d %d %d\n", vx0, vy0, vx1, vy1
            below = vy1 + 3
            for (i = best + 1; i < nr; i++) if (re[i] - rs[i] >= 8) {
                printf "field %d %d\n", int((vx0 + vx1) / 2), int((rs[i] + re[i]) / 2)
                below = re[i] + 3
                break
            }
            # The button row: the first pixel row below with a long dark run, the buttons'"'"' top
            # edges; each run is one button, whose bottom edge is found down its left side.
            for (y = below; y < h; y++) {
                n = 0
                for (x = 0; x < w; x++) {
                    if (px[y, x] < 200) { if (!run) x0 = x; run++ }
                    else { if (run >= 20) { bx0[n] = x0; bx1[n] = x - 1; n++ } run = 0 }
                }
                if (run >= 20) { bx0[n] = x0; bx1[n] = w - 1; n++ }
                run = 0
                if (n) break
            }
            for (i = 0; i < n; i++) {
                for (yb = y + 5; yb < h && px[yb, bx0[i] + 4] >= 200; yb++) ;
                printf "button %d %d\n", int((bx0[i] + bx1[i]) / 2), int((y + yb) / 2)
            }
            # Lines of text in the view: pixel rows with dark pixels, grouped.
            s = -1
            for (y = vy0; y <= vy1 + 1; y++) {
                ink = 0
                if (y <= vy1) for (x = vx0 + 2; x < vx1 - 2; x++) if (px[y, x] < 160) { ink = 1; break }
                if (ink && s < 0) s = y
                if (!ink && s >= 0) { printf "row %d %d\n", vx0 + 20, int((s + y - 1) / 2); s = -1 }
            }
        }'
}
# control WIN KIND [N] : "X Y" of the Nth control of that kind (default the first).
control() { controls "$1" | awk -v k="$2" -v n="${3:-1}" '$1 == k && ++i == n {print $2, $3; exit}' | grep .; }
control_count() { controls "$1" | awk -v k="$2" '$1 == k {n++} END {print n + 0}'; }
control_count_is() { [[ $(control_count "$1" "$2") -eq $3 ]]; }
click_control() {
    local x y
    read -r x y < <(control "$1" "$2" "${3:-1}") || { note "no $2 ${3:-1} in window $1"; return 1; }
    click "$1" "$x" "$y"
}

# ---------------------------------------------------------------- windows and focus

# zaprun_shown : zaprun's visible windows other than its tray icon.
zaprun_shown() { app_windows | grep -vxF -f <(tray_icons; echo none) || true; }
no_zaprun_window_shown() { [[ -z $(zaprun_shown) ]]; }
# editor_window : the editor, zaprun's one shown window titled ZapRun that is no popup. Its X
# window is made anew after a close, so it is looked up each time it is shown.
editor_window() {
    local w
    for w in $(zaprun_shown); do
        window_is_popup "$w" || [[ $(window_title "$w") != ZapRun ]] || { echo "$w"; return 0; }
    done
    return 1
}

# topmost_window : the highest normal window in the window manager's stacking order (docks
# such as the tray host's panel live in a layer of their own and are left out).
topmost_window() {
    local w
    for w in $(xprop -root _NET_CLIENT_LIST_STACKING | tr -d ',' | awk '{for (i = NF; i > 4; i--) print $i}'); do
        xprop -id "$w" _NET_WM_WINDOW_TYPE 2>/dev/null | grep -q _NET_WM_WINDOW_TYPE_DOCK && continue
        _hex2dec "$w"
        return 0
    done
    return 1
}
# in_front_with_focus WIN : WIN is on top, the window manager's active window and X's focus.
in_front_with_focus() {
    [[ $(topmost_window) == "$1" && $(xdotool getactivewindow 2>/dev/null) == "$1" &&
        $(xdotool getwindowfocus 2>/dev/null) == "$1" ]]
}
has_focus() { [[ $(xdotool getwindowfocus 2>/dev/null) == "$1" ]]; }
showing() { window_viewable "$1"; }

# type_into_field WIN [TEXT] : a click into the name field, and all its text selected; with
# TEXT, the selection is replaced by it.
type_into_field() {
    click_control "$1" field || return 1
    keys ctrl+a
    (($# < 2)) && return 0
    keys BackSpace
    xdotool type --delay 30 -- "$2"
}
# field_text_is TEXT : the text selected in the field (the PRIMARY selection) is TEXT.
field_text_is() { [[ $(timeout 5 xclip -selection primary -o 2>/dev/null) == "$1" ]]; }

ran_log_is() { [[ "$(cat "$HOME/ran.log" 2>/dev/null)" == "$1" ]]; }
clipboard_is_file() { [[ $(clipboard_read | od -An -tx1) == $(od -An -tx1 <"$1") ]]; }
clipboard_bytes_are() { clipboard_read >"$E2E_ROOT/clip-now" && cmp -s "$E2E_ROOT/clip-now" "$1"; }

# ---------------------------------------------------------------- the road of one script
phase_road() {
    note "== one script from the clipboard to the tray menu and back"
    start_desktop
    write_store "existing" 'echo existing >>"$HOME/ran.log"'
    start_zaprun
    require_within "the zR icon embeds" "$E2E_DEADLINE" tray_icon_count_is 1
    check "no window is shown at start" no_zaprun_window_shown
    require "the tray menu opens" open_tray_menu
    local shape0
    shape0=$(menu_shape "$MENU_WIN")
    check_eq "menu: Preferences, Quit, a separator, one script" "item item sep item" "$shape0"
    keys Escape
    wait_for "$E2E_DEADLINE" window_gone "$MENU_WIN"

    # Several lines, trailing blanks and a tab, quotes, UTF-8, no line break at the end. The
    # lines are short: the preview's text view is found by its blank right-hand side.
    local first=$E2E_ROOT/first.sh
    printf '%s\n' \
        '# first: say hello   ' \
        'm="$HOME/marker-first"	' \
        "printf '%s\\n' \"Grüße, it's ✓\" >\"\$m\"  " \
        'echo first >>"$HOME/ran.log"' | head -c -1 >"$first"
    require "the script is on the clipboard (xclip)" clipboard_put "$first"

    require "the tray menu opens" open_tray_menu
    require "choose Preferences (item 1)" menu_choose_by_keys 1
    require_within "the editor window appears" "$E2E_DEADLINE" editor_window
    ED=$(editor_window)
    check_within "  in front, active, with the keyboard focus" "$E2E_DEADLINE" in_front_with_focus "$ED"
    check_holds "  and it stays so" 500 in_front_with_focus "$ED"
    check_eq "  it is the only ZapRun window shown" "$ED" "$(zaprun_shown)"
    require_within "  its controls can be found: table, name field, Add, Delete" "$E2E_DEADLINE" \
        control_count_is "$ED" button 2
    check_eq "  the table lists the existing script" 1 "$(control_count "$ED" row)"
    screenshot "$E2E_ROOT/editor-opened.png"

    require "type a name into the name field" type_into_field "$ED" "Say Hello"
    require "click Add" click_control "$ED" button 1
    check_within "the store's last entry: the name and the copied text, byte for byte" \
        "$E2E_DEADLINE" store_last_is "Say Hello" "$first"
    check_within "the table shows the new row" "$E2E_DEADLINE" control_count_is "$ED" row 2
    screenshot "$E2E_ROOT/editor-added.png"

    require "the tray menu opens" open_tray_menu
    check_eq "  the new name is one more item, the last" "$shape0 item" "$(menu_shape "$MENU_WIN")"
    require "choose the last item (4)" menu_choose_by_keys 4
    check_within "  it ran the new script" "$E2E_DEADLINE" ran_log_is first
    check_eq "  which wrote its marker, UTF-8 and quotes intact" "Grüße, it's ✓" \
        "$(cat "$HOME/marker-first" 2>/dev/null)"

    # The preview: select the row, the Preview button appears under the table, its popup shows
    # the text, and its copy control puts exactly that text on the clipboard.
    local other=$E2E_ROOT/other.txt
    printf 'something else' >"$other"
    require "something else is on the clipboard now" clipboard_put "$other"
    local holder=$XCLIP_PID
    require "the editor takes the focus back" activate "$ED"
    require "click the new script's row" click_control "$ED" row 2
    check_within "  a third button appears: Preview" "$E2E_DEADLINE" control_count_is "$ED" button 3
    local before preview_at
    preview_at=$(control "$ED" button 3)
    before=$(app_windows)
    require "click Preview" click_control "$ED" button 3
    require "a popup appears" wait_new_window "$before" "$ZAPRUN_PID" popup
    local pop=$NEW_WINDOW
    check "  it hangs from the Preview button, on the screen" popup_placed "$ED" "$preview_at" "$pop"
    screenshot "$E2E_ROOT/preview.png"
    check_eq "  its text view shows the script's four lines" 4 "$(control_count "$pop" row)"
    require "click the popup's copy control" click_control "$pop" button 1
    check_within "the clipboard now holds exactly the script's bytes" "$E2E_DEADLINE" \
        clipboard_bytes_are "$first"
    check_within "  and its previous owner let go" "$E2E_DEADLINE" gone "$holder"
    wait_exit "$holder"
    check_holds "  the popup stays open after copying" 300 showing "$pop"
    keys Escape
    check_within "Escape closes the popup" "$E2E_DEADLINE" window_gone "$pop"

    # Delete by name: the selection put the name in the field (selecting the field's text puts
    # it in the PRIMARY selection, where it is read).
    require "click into the name field and select its text" type_into_field "$ED"
    check_within "  the selection put the script's name there" "$E2E_DEADLINE" field_text_is "Say Hello"
    require "click Delete" click_control "$ED" button 2
    check_within "the script leaves the store" "$E2E_DEADLINE" store_names_are existing
    check_eq "  names and bodies stay paired" 1 "$(store_value "all scripts")"
    check_eq "  the other body is untouched" 'echo existing >>"$HOME/ran.log"' \
        "$(store_value "all scripts" 0)"
    check_within "  and the table" "$E2E_DEADLINE" control_count_is "$ED" row 1
    check_within "  the Preview button is hidden again" "$E2E_DEADLINE" control_count_is "$ED" button 2
    require "the tray menu opens" open_tray_menu
    check_eq "  and the tray menu has its old items again" "$shape0" "$(menu_shape "$MENU_WIN")"
    keys Escape
    wait_for "$E2E_DEADLINE" window_gone "$MENU_WIN"

    # Closing the window hides ZapRun; Preferences brings it back and takes the new clipboard.
    require "the editor has the focus" activate "$ED"
    keys alt+F4
    check_within "Alt+F4: every ZapRun window is hidden" "$E2E_DEADLINE" no_zaprun_window_shown
    check_holds "  and stays hidden" 500 no_zaprun_window_shown
    check "  zaprun runs on, its icon in the tray" tray_icon_count_is 1

    local second=$E2E_ROOT/second.sh
    printf 'echo second >>"$HOME/ran.log"\n\n# ends with a blank line\n\n' >"$second"
    require "a second script is on the clipboard" clipboard_put "$second"
    require "the tray menu opens" open_tray_menu
    require "choose Preferences" menu_choose_by_keys 1
    require_within "the editor window is shown again" "$E2E_DEADLINE" editor_window
    ED=$(editor_window)
    check_within "  in front, with the focus" "$E2E_DEADLINE" in_front_with_focus "$ED"
    check_holds "  and it stays so" 500 in_front_with_focus "$ED"
    require "type another name" type_into_field "$ED" "second one"
    require "click Add" click_control "$ED" button 1
    check_within "its stored body is the new clipboard text" "$E2E_DEADLINE" \
        store_last_is "second one" "$second"

    # From another application: its window takes the focus, the clipboard changes there, and
    # switching back to the editor takes the new text.
    spawn xmessage xmessage -name otherapp -geometry 300x100+20+400 "another application"
    local xmsg_pid=$E2E_LAST_PID
    require_within "another application's window appears" "$E2E_DEADLINE" other_window
    local otherwin
    otherwin=$(other_window)
    require "switch to it" activate "$otherwin"
    check_holds "  it holds the focus" 500 has_focus "$otherwin"
    local third=$E2E_ROOT/third.sh
    printf '%s' 'echo "third: $((6 * 7))" >>"$HOME/ran.log"' >"$third"
    require "a third script is on the clipboard" clipboard_put "$third"
    require "switch back to the editor" activate "$ED"
    check_holds "  the editor holds the focus" 500 in_front_with_focus "$ED"
    require "type a third name" type_into_field "$ED" "third"
    require "click Add" click_control "$ED" button 1
    check_within "its stored body is the text copied in the other application" "$E2E_DEADLINE" \
        store_last_is "third" "$third"
    check_eq "the store: three names, in order" $'existing\nsecond one\nthird' "$(store_names)"
    stop_process "$xmsg_pid"

    require "the tray menu opens" open_tray_menu
    require "choose Quit ZapRun" menu_choose_by_keys 2
    wait_exit "$ZAPRUN_PID"
    check_eq "Quit ZapRun ends zaprun with status 0" 0 "$EXIT_STATUS"
    check_eq "nothing on zaprun's stderr" "" "$(zaprun_stderr)"
    check_eq "only the chosen script ran" first "$(cat "$HOME/ran.log")"
    stop_all
}

other_window() { x_look xdotool search --onlyvisible --classname otherapp | head -n 1 | grep .; }

# popup_placed ED "BX BY" POP : the popup hangs from the Preview button, under it or, where the screen
# ends first, above it; sideways it reaches the button; it is wholly on the screen (a popup is
# placed by no window manager: off the screen its copy control could not be reached).
popup_placed() {
    local ex ey px py pw ph bx by sw sh
    read -r ex ey _ _ < <(window_geometry "$1")
    read -r bx by <<<"$2"
    read -r px py pw ph < <(window_geometry "$3")
    bx=$((ex + bx)) by=$((ey + by))
    read -r sw sh < <(xwininfo -root | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w, h}')
    note "  Preview button centre $bx,$by; popup ${pw}x$ph at $px,$py; screen ${sw}x$sh"
    ((py > by && py < by + 30 || py + ph < by && py + ph > by - 30)) ||
        { note "  neither just under nor just above the button"; return 1; }
    ((px <= bx && px + pw >= bx)) || { note "  not beside the button"; return 1; }
    ((px >= 0 && py >= 0 && px + pw <= sw && py + ph <= sh)) || { note "  not on the screen"; return 1; }
}

phase_road
finish
