#!/bin/bash
# shellcheck disable=SC2016,SC2317,SC2119 # single-quoted scripts and conditions expand later, by name
# Scripts cannot hurt ZapRun, and nothing runs or opens that the user did not ask for.
# Arguments name the phases to run.
. "$(dirname "$0")/lib.sh"

# start_zaprun_via CMD ARGS... : a new zaprun started as CMD ARGS... ZAPRUN_BIN.
start_zaprun_via() { local real=$ZAPRUN_BIN ZAPRUN_BIN=$1; ZAPRUN_PID=''; start_zaprun "${@:2}" "$real"; }
# In a session of its own, as a desktop starts it: a script that signals its group must not
# reach this test.
start_zaprun_alone() { start_zaprun_via "$(command -v setsid)"; }
ran_log_is() { [[ "$(cat "$HOME/ran.log" 2>/dev/null)" == "$1" ]]; }
# icon_lit : the running state, seen on the icon: its square's fill above the letters is light.
icon_lit() {
    local icon w
    icon=$(tray_icon) && read -r _ _ w _ < <(window_geometry "$icon") || return 1
    /usr/bin/import -window "$icon" "$E2E_ROOT/icon.png" 2>/dev/null || return 1
    (($(/usr/bin/convert "$E2E_ROOT/icon.png" -crop "$((w * 4 / 10))x$((w / 10 + 1))+$((w * 3 / 10))+$((w / 10))" \
        -colorspace Gray -format '%[fx:int(100*mean)]' info:) > 50))
}
phase_script_cannot_hurt_zaprun() {
    start_desktop
    write_store "group killer" "trap '' TERM; trap 'kill 0' EXIT; echo group >>\"\$HOME/ran.log\"" \
        waits 'echo waits >>"$HOME/ran.log"; while [ ! -e "$HOME/go" ]; do sleep 0.05; done'
    start_zaprun_alone
    require_within "the icon embeds" "$E2E_DEADLINE" tray_icon_count_is 1
    check "  idle" not icon_lit
    local before
    require "choose the script that signals its group" choose 3
    require_within "  it ran" "$E2E_DEADLINE" ran_log_is group
    check_holds "  zaprun survives it, its icon in the tray" 1000 \
        eval 'alive "$ZAPRUN_PID" && tray_icon_count_is 1'
    require "choose the script that waits" choose 4
    require_within "  it runs" "$E2E_DEADLINE" ran_log_is $'group\nwaits'
    check_within "  the icon shows the running state" "$E2E_DEADLINE" icon_lit
    before=$(app_windows)
    click_tray_icon
    keys Down Down Return
    : >"$HOME/go"
    require_within "the run ends, the icon is idle" "$E2E_DEADLINE" not icon_lit
    check_holds "the click and keys made during the run are dropped" 1500 \
        eval '! new_window "$before" && ran_log_is $'"'group\nwaits'"
    require "the menu opens at the next click; Quit" quit_zaprun
    check_eq "  ends zaprun with status 0" 0 "$EXIT_STATUS"
}

socket_count() { find "$XDG_RUNTIME_DIR" -type s | grep -c .; }
phase_ended_from_outside() {
    start_desktop
    local sig own bg
    for sig in TERM HUP INT; do
        fresh_home
        export TMPDIR=$HOME/tmp
        mkdir -p "$TMPDIR"
        write_store stays 'sleep 600 & echo $! >"$HOME/bg.pid"; echo $$ >"$HOME/own.pid"; exec sleep 600'
        start_zaprun_alone
        require_within "$sig: the icon embeds" "$E2E_DEADLINE" tray_icon_count_is 1
        require "  choose the script" choose 3
        require_within "  it runs" "$E2E_DEADLINE" test -s "$HOME/own.pid"
        own=$(cat "$HOME/own.pid") bg=$(cat "$HOME/bg.pid")
        check "  its script file and zaprun's socket are there" \
            eval '[[ -n $(ls -A "$TMPDIR") && $(socket_count) -ge 1 ]]'
        kill -"$sig" "$ZAPRUN_PID"
        wait_exit "$ZAPRUN_PID"
        check_eq "  SIG$sig ends zaprun with status 0" 0 "$EXIT_STATUS"
        check_eq "  leaving no script file and no socket" "0 0" "$(find "$TMPDIR" -mindepth 1 | grep -c .) $(socket_count)"
        check_within "  the script's own process is ended" "$E2E_DEADLINE" gone "$own"
        check "  what it started in the background runs on" alive "$bg"
        kill "$bg" "$own" 2>/dev/null
    done

    note "-- under a file-size limit of 64 KiB, a script of 100 KB"
    fresh_home
    export TMPDIR=$HOME/tmp
    mkdir -p "$TMPDIR"
    write_store big "echo ran >\"\$HOME/cut.log\"$(printf '\n: padding the shell reads and ignores %.0s' {1..2500})"
    start_zaprun_via /bin/bash -c 'ulimit -f 64 && exec "$0"'
    require_within "the icon embeds" "$E2E_DEADLINE" tray_icon_count_is 1
    require "choosing the script brings the Error! dialog" choose 3 dialog
    alert_copy "$DIALOG_WIN"
    check_within "  which says why" 5 clipboard_is "The script could not be prepared: File too large."
    require "Ok closes it" alert_ok "$DIALOG_WIN"
    check "nothing of the script ran" not test -e "$HOME/cut.log"
    check_eq "no script file is left" "" "$(ls -A "$TMPDIR")"
    require "Preferences: a write to the store, beyond the limit" choose 1
    check_within "  the failed write is reported" "$E2E_DEADLINE" grep -q 'could not save' "$(zaprun_stderr_file)"
    check_holds "  and zaprun runs on" 1000 alive "$ZAPRUN_PID"
}

# inside_work_area WIN : the window and its frame lie within the desktop's work area.
inside_work_area() {
    local x y w h l r t b wx wy ww wh
    read -r x y w h < <(window_geometry "$1") || return 1
    read -r l r t b _ < <(xprop -id "$1" _NET_FRAME_EXTENTS | tr -dc '0-9 ')
    read -r wx wy ww wh _ < <(xprop -root _NET_WORKAREA | tr -dc '0-9 ')
    ((x - l >= wx && y - t >= wy && x + w + r <= wx + ww && y + h + b <= wy + wh))
}
focus_is_titled() { [[ $(window_title "$(xdotool getwindowfocus)") == "$1" ]]; }

phase_alerts_and_hidden_windows() {
    start_desktop
    local message=$E2E_ROOT/message editor
    { seq 1 60; head -c 3000 /dev/zero | tr '\0' x; echo; echo end of the message; } >"$message"
    write_store long "cat '$message' >&2; exit 1"
    start_zaprun
    require_within "the icon embeds" "$E2E_DEADLINE" tray_icon_count_is 1
    require "a script with a long error brings the Error! dialog" choose 3 dialog
    check_holds "  alone: the editor does not come forward" 1000 eval '[[ $(shown_windows) == "$DIALOG_WIN" ]]'
    check "  it fits the screen's work area" inside_work_area "$DIALOG_WIN"
    alert_copy "$DIALOG_WIN"
    check_within "  the whole message can be copied" 5 clipboard_is "$(cat "$message")"
    require "Return closes it, also from the text" alert_ok "$DIALOG_WIN"
    check_holds "  and no ZapRun window shows afterwards" 1000 shown_count_is 0
    require "again" choose 3 dialog
    activate "$DIALOG_WIN" && keys Escape
    check_within "  Escape closes it" "$E2E_DEADLINE" window_gone "$DIALOG_WIN"

    require "Preferences brings the editor" choose 1
    require_within "  forward" "$E2E_DEADLINE" shown_count_is 1
    editor=$(shown_windows)
    activate "$editor" && keys alt+h Return
    require_within "its Help menu opens the picture guide" "$E2E_DEADLINE" shown_count_is 2
    activate "$editor" && keys alt+h Down Return
    require_within "  and the settings panel" "$E2E_DEADLINE" shown_count_is 3
    activate "$editor" && keys alt+F4
    require_within "closing the editor hides all three" "$E2E_DEADLINE" shown_count_is 0
    require "Preferences" choose 1
    check_within "  all three come back" "$E2E_DEADLINE" shown_count_is 3
    check_within "  the editor with the focus" "$E2E_DEADLINE" focus_is_titled ZapRun
    require "Quit ZapRun" quit_zaprun
    check_eq "  ends zaprun with status 0" 0 "$EXIT_STATUS"
}

for phase in "$@"; do "phase_$phase"; done
finish
