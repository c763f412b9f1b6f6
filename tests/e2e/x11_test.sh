#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# shellcheck disable=SC2016,SC2317,SC2119,SC2155 # single-quoted scripts and conditions expand later, by name
# The real zaprun on Xvfb with openbox and an XEmbed tray (trayer), driven from the keyboard and
# the tray menu. Arguments name the phases to run.
. "$(dirname "$0")/lib.sh"

log() { echo "echo $1 >>\"\$HOME/ran.log\"${2:+; $2}"; } # NAME [MORE] : a script that logs NAME
quits_cleanly() { require "Quit ZapRun" eval 'choose 2 && wait_exit "$ZAPRUN_PID"' && check_eq "  ends zaprun with status 0" 0 "$EXIT_STATUS"; }
# In a session of its own, as a desktop starts it: a script signalling its group must not reach us.
start_zaprun_alone() { local real=$ZAPRUN_BIN ZAPRUN_BIN; ZAPRUN_BIN=$(command -v setsid); start_zaprun "$real"; }
# start_in_tray [START [DESC]] : zaprun started (by start_zaprun unless START), its icon in the tray
start_in_tray() { "${1:-start_zaprun}"; require_within "${2:-the icon embeds}" "$E2E_DEADLINE" tray_icon_count_is 1; }
open_editor() { require "${1:-Preferences brings the editor}" eval 'choose 1 && wait_for "$E2E_DEADLINE" shown_count_is 1' && ED=$(shown_windows); }
lowest_free_fd() { local n=0; while [[ -e /proc/$1/fd/$n ]]; do n=$((n + 1)); done; echo "$n"; }
start_zaprun_with_files() { local real=$ZAPRUN_BIN ZAPRUN_BIN; ZAPRUN_BIN=$(command -v prlimit); start_zaprun --nofile="$1:$1" "$real"; }
REOPEN='import contextlib, socket, sys; s = socket.socket(socket.AF_UNIX); s.connect(sys.argv[1])
with contextlib.suppress(OSError): s.sendall(b"reopen\n")'

phase_agent() {
    spawn nodisplay env DISPLAY=:$((6000 + RANDOM % 3000)) "$ZAPRUN_BIN" && wait_exit "$E2E_LAST_PID"
    check_eq "no display: exit status 1, one line on stderr" "1 1" "$EXIT_STATUS $(file_lines "$E2E_LOGS/nodisplay.err")"
    check "  about the display, and no store written" eval 'grep -qi display "$E2E_LOGS/nodisplay.err" && ! test -e "$(store_file)"'
    start_desktop
    write_store alpha "$(log alpha)" "beta two" "$(log beta)"
    start_in_tray start_zaprun "one icon embeds in the tray"
    require "item 4 runs the second script" eval 'choose 4 && wait_for "$E2E_DEADLINE" ran_log_is beta'
    DISPLAY=$DISPLAY.0 start_zaprun && wait_exit "$E2E_LAST_PID"
    check_eq "a second zaprun on the same display exits 0, saying nothing" "0 " "$EXIT_STATUS $(zaprun_stderr "$ZAPRUN_LAST_LOG")"
    check_within "  and the first brings its editor forward" "$E2E_DEADLINE" shown_count_is 1
    local editor=$(shown_windows)
    activate "$editor" && wait_for "$E2E_DEADLINE" in_front_with_focus "$editor" && keys alt+F4
    require_within "Alt+F4 hides the editor" "$E2E_DEADLINE" shown_count_is 0
    local socket=$(compgen -G "$XDG_RUNTIME_DIR/zaprun-*.socket")
    check "the single-instance socket is its user's only" eval '[[ $(stat -c %a "$socket") == 700 ]]'
    # The way through the file system opened on purpose: the peer check alone must refuse.
    chmod 755 "$XDG_RUNTIME_DIR" "$HOME" "$E2E_ROOT" "$(dirname "$HOME")" && chmod 777 "$socket"
    require "another user reaches it" setpriv --reuid=nobody --regid=nogroup --clear-groups \
        /usr/bin/python3 -c "$REOPEN" "$socket"
    check_holds "  its re-open request is ignored" 1000 eval 'alive "$ZAPRUN_PID" && shown_count_is 0'
    quits_cleanly
    check_eq "  with nothing on stderr, having run only the chosen script" "|beta" "$(zaprun_stderr)|$(cat "$HOME/ran.log")"
    check_within "  its icon leaves the tray" "$E2E_DEADLINE" tray_icon_count_is 0
}

start_tint2() { # another XEmbed tray, as light: its tray alone, across the top
    printf '%s\n' 'panel_items = S' 'panel_position = top right horizontal' 'panel_size = 100% 32' >"$E2E_ROOT/tint2rc"
    TRAY_PANEL='"tint2": ("tint2" "Tint2")' && spawn tint2 tint2 -c "$E2E_ROOT/tint2rc"
    wait_for "$E2E_DEADLINE" tray_panel || fail "no tint2 panel"
}
# Without a session bus, with one but no StatusNotifierItem host (the tray tint2), with one unreachable.
phase_late_tray() {
    local bus cause
    for bus in no yes unreachable; do
        fresh_home && TRAY_PANEL=
        start_xvfb && start_openbox
        [[ $bus == yes ]] && start_session_bus
        [[ $bus == unreachable ]] && export DBUS_SESSION_BUS_ADDRESS=unix:path=$HOME/no-bus
        write_store late "$(log late)"
        start_zaprun
        require_within "bus $bus, no tray: one line on stderr" "$E2E_DEADLINE" eval '[[ $(zaprun_stderr_lines) == 1 ]]'
        cause=$([[ $bus == unreachable ]] && echo "cannot connect to the session bus" || echo "no system tray")
        check "  it names the cause: $cause" grep -q "$cause" "$E2E_LOGS/$ZAPRUN_LOG.err"
        if [[ $bus == yes ]]; then start_tint2; else start_trayer; fi
        check_within "  the icon embeds in the late tray, and shows" "$E2E_DEADLINE" eval 'tray_icon_count_is 1 && x_panel_shows_icon'
        check_holds "  exactly once" 500 tray_icon_count_is 1
        require "  its menu runs the script" eval 'choose 3 && wait_for "$E2E_DEADLINE" ran_log_is late'
        quits_cleanly
        check_eq "  stderr still has its one line" 1 "$(zaprun_stderr_lines)"
        stop_all
    done
}

in_front_with_focus() { [[ $(xdotool getactivewindow) == "$1" && $(xdotool getwindowfocus) == "$1" ]]; } # WIN, raised by openbox
add_as() { keys ctrl+a && xdotool type --delay 20 -- "$1" && keys Tab space; } # from the name field
# popup_placed ED POP : just under or above the editor's button row, wholly on the screen.
popup_placed() {
    local ey eh px py pw ph && read -r _ ey _ eh < <(window_geometry "$1") && read -r px py pw ph < <(window_geometry "$2")
    ((py >= ey + eh - 50 && py <= ey + eh + 5 || py + ph >= ey + eh - 80 && py + ph <= ey + eh - 20)) &&
        ((px >= 0 && py >= 0 && px + pw <= 800 && py + ph <= 600))
}
insert_at_top() { # NAME BODY : a script put first, the file rewritten in place as an editor saves it
    /usr/bin/python3 -c 'import json, sys; f = open(sys.argv[1], "r+", encoding="utf-8"); d = json.load(f)
d["all scripts names"].insert(0, sys.argv[2]); d["all scripts"].insert(0, sys.argv[3])
f.seek(0); f.truncate(); json.dump(d, f, ensure_ascii=False, indent=4)' "$(store_file)" "$@"
}
# The editor (tab order: name field, Add, Delete, table, Preview) takes the clipboard's newest text
# each time it is brought back or reached from another application.
phase_editor() {
    start_desktop
    local first=$E2E_ROOT/first.sh reader='xclip -selection clipboard -o >"$HOME/clip"' pop holder before other
    write_store reader "$reader"
    start_in_tray
    # Blanks at line ends, a tab, quotes, UTF-8, no line break at the end.
    printf '%s\n' '# first   ' 'm="$HOME/marker"	' "printf '%s' \"Grüße, it's ✓\" >\"\$m\"  " | head -c -1 >"$first"
    require "a script is on the clipboard" clipboard_put "$first"
    open_editor
    check_within "  in front, active, with the keyboard focus, and stays so" "$E2E_DEADLINE" \
        holds_for 500 in_front_with_focus "$ED"
    add_as "Say Hello"
    check_within "Add stores the name and the copied text, byte for byte" "$E2E_DEADLINE" store_last_is "Say Hello" "$first"
    holder=$XCLIP_PID
    require "the last row's Preview opens a popup" opens popup keys Tab Tab ctrl+End Tab space
    pop=$NEW_WINDOW && check "  hanging from the button row, on the screen" popup_placed "$ED" "$pop"
    keys shift+Tab space # back from the text, where Tab is text
    check_within "its copy button puts exactly the script's bytes on the clipboard" "$E2E_DEADLINE" clipboard_has_file "$first"
    check_within "  and the clipboard's previous owner let go" "$E2E_DEADLINE" gone "$holder"
    keys Escape
    check_within "Escape closes the popup" "$E2E_DEADLINE" window_gone "$pop"
    require "a script reading the clipboard zaprun owns" choose 3
    check_within "  reads it: no deadlock" "$E2E_DEADLINE" eval '[[ $(cat "$HOME/clip" 2>/dev/null) == "$(cat "$first")" ]]'
    spawn xmessage xmessage -name otherapp -geometry 300x100+20+400 "another application"
    require_within "another application's window appears" "$E2E_DEADLINE" xdotool search --onlyvisible --classname otherapp
    other=$(xdotool search --onlyvisible --classname otherapp | head -n 1)
    require "switch to it" activate "$other"
    # Qt takes a loss of focus only 100 ms after zaprun reads it, and a return within them is no
    # activation: on a busy machine zaprun may read both at once. It answers a request for the
    # clipboard it owns, so it has read the loss; 500 ms on, it answers again, past the 100 ms.
    check "  zaprun sees the focus go" eval 'clipboard_has_file "$first" && holds_for 500 eval "[[ \$(xdotool getactivewindow) == $other ]]" && clipboard_has_file "$first"'
    printf 'echo "$((6 * 7))"\n\n# ends with a blank line\n\n' >"$E2E_ROOT/second.sh"
    require "a second script is on the clipboard" clipboard_put "$E2E_ROOT/second.sh"
    require "switch back to the editor" activate "$ED"
    check_holds "  which holds the focus" 500 in_front_with_focus "$ED"
    keys shift+Tab shift+Tab shift+Tab shift+Tab # from Preview
    add_as second
    check_within "its stored body is the text copied in the other application" "$E2E_DEADLINE" store_last_is second "$E2E_ROOT/second.sh"
    keys Tab Tab ctrl+End # the row "second" selected
    require_within "another program inserts a script at the top, rewriting the file in place" "$E2E_DEADLINE" \
        eval '[[ $(store_py "d.get(\"sel script index\")") == 2 ]] && insert_at_top intruder "$(log intruder)"'
    require "Preferences, which writes the store, brings the editor" eval 'choose 1 && wait_for "$E2E_DEADLINE" in_front_with_focus "$ED"'
    require "the selected row's Preview opens a popup" opens popup keys Tab space
    keys shift+Tab space
    check_within "  which copies the body of the script the row names" "$E2E_DEADLINE" clipboard_has_file "$E2E_ROOT/second.sh"
    keys Escape && wait_for "$E2E_DEADLINE" window_gone "$NEW_WINDOW" && keys shift+Tab shift+Tab space
    check_within "  and Delete removes that script, the others paired" "$E2E_DEADLINE" \
        eval 'store_names_are $'"'intruder\nreader\nSay Hello'"' && [[ $(store_py "str().join(b)") == "$(log intruder)$reader$(cat "$first")" ]]'
    quits_cleanly
    check_eq "nothing on zaprun's stderr" "" "$(zaprun_stderr)"
}

# inside_work_area WIN : the window and its frame lie within the desktop's work area.
inside_work_area() {
    local x y w h l r t b wx wy ww wh && read -r x y w h < <(window_geometry "$1") || return 1
    read -r l r t b _ < <(xprop -id "$1" _NET_FRAME_EXTENTS | tr -dc '0-9 ')
    read -r wx wy ww wh _ < <(xprop -root _NET_WORKAREA | tr -dc '0-9 ')
    ((x - l >= wx && y - t >= wy && x + w + r <= wx + ww && y + h + b <= wy + wh))
}
phase_scripts() { # scripts cannot hurt ZapRun, and nothing runs or opens that the user did not ask for
    start_desktop
    write_store "group killer" "trap '' TERM; trap 'kill 0' EXIT; $(log group)" \
        waits "$(log waits 'while [ ! -e "$HOME/go" ]; do sleep 0.05; done')" \
        long "seq 1 60 >&2; head -c 3000 /dev/zero | tr '\0' x >&2; exit 1"
    start_in_tray start_zaprun_alone
    require "a script that signals its group runs" eval 'choose 3 && wait_for "$E2E_DEADLINE" ran_log_is group'
    check_holds "  zaprun survives it, its icon in the tray" 1000 eval 'alive "$ZAPRUN_PID" && tray_icon_count_is 1'
    echo 'echo typed' >"$E2E_ROOT/typed.sh" && require "a script is on the clipboard" clipboard_put "$E2E_ROOT/typed.sh"
    open_editor
    require "a script that waits runs" eval 'choose 4 && wait_for "$E2E_DEADLINE" ran_log_is $'"'group\nwaits'"
    local before=$(app_windows)
    activate "$ED" && add_as typed # the editor's name field, then Add
    click_tray_icon && keys Down Down Return
    : >"$HOME/go"
    check_holds "the keys to the editor, the click and keys on the tray made during the run are dropped" 1500 \
        eval '! new_window "$before" && ran_log_is $'"'group\nwaits'"' && store_names_are $'"'group killer\nwaits\nlong'"
    rm "$HOME/go" && require "it runs again" eval 'choose 4 && wait_for "$E2E_DEADLINE" ran_log_is $'"'group\nwaits\nwaits'"
    local icon=$(tray_icons | head -n 1) width
    check "  hovering the icon meanwhile shows a tooltip" opens popup xdotool mousemove --window "$icon" 3 3 mousemove --window "$icon" 5 5
    read -r _ _ width _ < <(window_geometry "$NEW_WINDOW")
    check "  the running one, wider than the idle zR's" test "$width" -gt 80
    : >"$HOME/go"
    activate "$ED" && keys alt+F4
    require_within "Alt+F4 hides the editor" "$E2E_DEADLINE" shown_count_is 0
    require "a script with a long error brings the Error! dialog" choose 5 dialog
    check_eq "  titled after the script" 'ZapRun: “long” failed' "$(window_title "$DIALOG_WIN")"
    check_holds "  alone: the editor does not come forward" 1000 eval '[[ $(shown_windows) == "$DIALOG_WIN" ]]'
    check "  it fits the screen's work area" inside_work_area "$DIALOG_WIN"
    { seq 1 60 && head -c 3000 /dev/zero | tr '\0' x; } >"$E2E_ROOT/long.txt"
    local x y w h && read -r x y w h < <(window_geometry "$DIALOG_WIN")
    xdotool mousemove $((x + w / 2)) $((y + h / 2)) click 1 && keys ctrl+a ctrl+c
    check_within "  its message, selected and copied, is the script's stderr whole" "$E2E_DEADLINE" clipboard_has_file "$E2E_ROOT/long.txt"
    require "Return closes it" alert_ok "$DIALOG_WIN"
    check_holds "  and no ZapRun window shows afterwards" 1000 shown_count_is 0
    quits_cleanly
}

phase_signals() {
    start_desktop
    local sig own bg folder
    for sig in TERM HUP INT; do
        fresh_home && export TMPDIR=$HOME/tmp && mkdir -p "$TMPDIR"
        write_store stays 'sleep 600 & echo $! >"$HOME/bg.pid"; echo $$ >"$HOME/own.pid"; exec sleep 600'
        start_in_tray start_zaprun_alone "$sig: the icon embeds"
        require "  the script runs" eval 'choose 3 && wait_for "$E2E_DEADLINE" test -s "$HOME/own.pid"'
        own=$(cat "$HOME/own.pid") bg=$(cat "$HOME/bg.pid")
        check "  its script file and zaprun's socket are there" eval '[[ -n $(ls -A "$TMPDIR") && -n $(find "$XDG_RUNTIME_DIR" -type s) ]]'
        kill -"$sig" "$ZAPRUN_PID" && wait_exit "$ZAPRUN_PID"
        check_eq "  SIG$sig ends zaprun with status 0, leaving no script file or socket" "0" \
            "$EXIT_STATUS$(find "$TMPDIR" -mindepth 1; find "$XDG_RUNTIME_DIR" -type s)"
        check_within "  the script's own process is ended" "$E2E_DEADLINE" gone "$own"
        check "  what it started in the background runs on" alive "$bg"
        kill "$bg" "$own" 2>/dev/null
    done
    fresh_home && start_zaprun_with_files 12 && wait_exit "$ZAPRUN_PID"
    check_eq "12 open files at most: status 1, one line on stderr that says so" \
        "1 zaprun: only 12 files may be open at once (ulimit -n); ZapRun needs 32" "$EXIT_STATUS $(zaprun_stderr)"
    start_in_tray start_zaprun "a zaprun whose files run out"
    prlimit --pid "$ZAPRUN_PID" --nofile="$(lowest_free_fd "$ZAPRUN_PID")" && choose 1
    kill -TERM "$ZAPRUN_PID" && wait_exit "$ZAPRUN_PID"
    check "  ends on SIGTERM" not test "$EXIT_STATUS" = running
    folder=$XDG_CONFIG_HOME/zaprun && rm -rf "$folder" && echo "not a folder" >"$folder"
    start_in_tray start_zaprun "a store folder that cannot be made: zaprun starts"
    require "  Preferences, which writes the store, brings a dialog" choose 1 dialog
    check "  zaprun's stderr names the file" grep -qF "could not save to $folder/defaults.json" "$E2E_LOGS/$ZAPRUN_LOG.err"
    require "  Ok closes it" alert_ok "$DIALOG_WIN"
    check_holds "  and zaprun runs on" 500 alive "$ZAPRUN_PID"
}

window_is_framed() { ! window_is_popup "$1"; }
# help_window [KEYS...] : the editor's Help menu, by Alt+H, then KEYS and Return, opens a window
# (its title HELP_TITLE) that Escape closes.
help_window() {
    opens popup eval 'activate "$ED" && keys alt+h' && opens framed keys "$@" Return && activate "$NEW_WINDOW" || return 1
    HELP_TITLE=$(window_title "$NEW_WINDOW") && keys Escape && wait_for "$E2E_DEADLINE" window_gone "$NEW_WINDOW"
}
# Ctrl+W closes the editor, Escape the help windows, Tab leaves the preview; Ctrl+Q quits from
# the editor and from the tray's open menu. The buttons are reached by their mnemonics.
phase_keyboard() {
    start_desktop
    write_store one 'echo 1' two 'echo 2'
    start_in_tray
    open_editor && activate "$ED" && keys ctrl+w
    check_within "Ctrl+W hides the editor" "$E2E_DEADLINE" shown_count_is 0
    open_editor "Preferences brings it back" # a closed window is made anew
    HELP_TITLE= && check "Alt+H, Return: the guide, closes on Escape" help_window
    check_eq "  titled once" "ZapRun Guide" "$HELP_TITLE"
    check "Alt+H, Down, Return: the settings panel, closes on Escape" help_window Down
    check_eq "  its title" "ZapRun Settings" "$HELP_TITLE"
    require "Alt+N, to the table, Alt+P: the preview" opens popup eval 'activate "$ED" && keys alt+n Tab Tab Tab ctrl+End alt+p'
    keys Tab space
    check_within "  Tab leaves its text for the copy button: the script, no tab typed" "$E2E_DEADLINE" \
        eval '[[ $(timeout 5 xclip -selection clipboard -o) == "echo 2" ]]'
    keys Escape && activate "$ED" && keys ctrl+q
    check "Ctrl+Q in the editor quits" eval 'wait_exit "$ZAPRUN_PID" && [[ $EXIT_STATUS == 0 ]]'
    start_in_tray start_zaprun "started again, the icon embeds"
    require "the tray's menu opens" open_tray_menu && keys ctrl+q
    check "  Ctrl+Q there quits" eval 'wait_exit "$ZAPRUN_PID" && [[ $EXIT_STATUS == 0 ]]'
}

atspi() { /usr/bin/python3 "$E2E_DIR/atspi.py" "$@"; }
own_process() { grep -qzF "DBUS_SESSION_BUS_ADDRESS=$DBUS_SESSION_BUS_ADDRESS" "/proc/$1/environ" 2>/dev/null; } # PID
# A screen reader's view over a private accessibility bus: every control of the editor, the
# preview and the alert is named; without a tray the editor says how to reach ZapRun.
phase_a11y() {
    start_xvfb && start_openbox && start_session_bus
    spawn at-spi /usr/libexec/at-spi-bus-launcher --launch-immediately && local launcher=$E2E_LAST_PID bus p
    write_store good 'echo 1' bad 'echo "no such file: /tmp/x" >&2; exit 2'
    QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 start_zaprun
    require_within "no tray: the editor opens, on the accessibility bus" "$E2E_DEADLINE" atspi window ZapRun
    for p in $(pgrep -x at-spi2-registr); do own_process "$p" && E2E_PIDS+=("$p"); done
    check_within "  saying how to bring it back and that Ctrl+Q quits" "$E2E_DEADLINE" atspi showing "Ctrl+Q quits"
    check "  every control in it named" atspi unnamed
    start_trayer
    check_within "the line goes when a tray appears" "$E2E_DEADLINE" not atspi showing "Ctrl+Q quits"
    require "the preview opens" opens popup eval 'activate "$(shown_windows)" && keys alt+n Tab Tab Tab ctrl+End alt+p'
    check_within "  and is in the tree" "$E2E_DEADLINE" atspi window "Script preview"
    check "  every control in it named" atspi unnamed
    keys Escape && require "a failing script brings the alert" choose 4 dialog
    check_within "  in the tree, named after the script" "$E2E_DEADLINE" atspi window 'ZapRun: “bad” failed'
    check "  every control in it named, the message too" atspi unnamed
    alert_ok "$DIALOG_WIN" && quits_cleanly
    bus=$(pgrep -P "$launcher") && stop_all
    check_within "the accessibility bus ends with its launcher" "$E2E_DEADLINE" eval 'gone "$bus" && ! pgrep -x at-spi2-registr | while read -r p; do own_process "$p" && exit 1; done'
}

run_phases "$@"
