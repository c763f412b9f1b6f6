#!/bin/bash
# Scripts cannot hurt ZapRun, and nothing runs or opens that the user did not ask for: the real
# zaprun on a private Xvfb with openbox and an XEmbed tray host, driven as a user would.
. "$(dirname "$0")/lib.sh"

# zaprun in a session of its own, as a desktop starts it: a script that signals ZapRun's group
# must not reach this test and its X server either.
start_zaprun_alone() {
    local bin=$ZAPRUN_BIN
    ZAPRUN_BIN=$(command -v setsid)
    start_zaprun "$bin"
    ZAPRUN_BIN=$bin
}

ran_log_is() { [[ "$(cat "$HOME/ran.log" 2>/dev/null)" == "$1" ]]; }
# nothing_more_than WINDOWS LOG : no new window beside WINDOWS, and only LOG ran.
nothing_more_than() { ! new_window "$1" && ran_log_is "$2"; }

# icon_lit : the icon shows the running state: its square's fill, above the letters, has the
# letters' light colour.
icon_lit() {
    local png=$E2E_ROOT/icon.png icon w h side mean
    icon=$(tray_icon) || return 1
    read -r _ _ w h < <(window_geometry "$icon") || return 1
    side=$((w < h ? w : h))
    /usr/bin/import -window "$icon" "$png" 2>/dev/null || return 1
    mean=$(/usr/bin/convert "$png" -crop "$((side * 4 / 10))x$((side / 10 + 1))+$((side * 3 / 10))+$((side / 10))" \
        -colorspace Gray -format '%[fx:int(100*mean)]' info:) || return 1
    ((mean > 50))
}

# ---------------------------------------------------------------- what a script does to ZapRun
phase_script_cannot_hurt_zaprun() {
    note "== a script signals its group; clicks and keys during a run; the running state"
    start_desktop
    write_store \
        "group killer" "trap '' TERM; trap 'kill 0' EXIT; echo group >>\"\$HOME/ran.log\"" \
        "waits" 'echo waits >>"$HOME/ran.log"; while [ ! -e "$HOME/go" ]; do sleep 0.05; done'
    start_zaprun_alone
    require_within "the zR icon embeds" "$E2E_DEADLINE" tray_icon_count_is 1
    check "  in its idle colours" not icon_lit
    local before
    before=$(app_windows)
    xdotool mousemove --window "$(tray_icon)" 5 5
    require "its tooltip shows" wait_new_window "$before" "$ZAPRUN_PID" popup
    # shellcheck disable=SC2034 # read by an eval below
    idle_tip_width=$(window_geometry "$NEW_WINDOW" | cut -d' ' -f3)
    park_pointer
    require_within "  and goes" "$E2E_DEADLINE" window_gone "$NEW_WINDOW"

    require "the tray menu opens" open_tray_menu
    require "choose the script that signals its group" menu_choose_by_keys 3
    require_within "it ran" "$E2E_DEADLINE" ran_log_is group
    check_holds "zaprun survives it, its icon in the tray" 1000 \
        eval 'alive "$ZAPRUN_PID" && tray_icon_count_is 1'

    require "the tray menu opens" open_tray_menu
    require "choose the script that waits" menu_choose_by_keys 4
    require_within "it runs" "$E2E_DEADLINE" ran_log_is $'group\nwaits'
    check_within "the icon shows the running state" "$E2E_DEADLINE" icon_lit
    before=$(app_windows)
    click_tray_icon
    keys Down Down Return
    # The tooltip of the icon under the pointer comes once zaprun has read the click and keys.
    xdotool mousemove --window "$(tray_icon)" 5 5
    require "the icon's tooltip shows meanwhile" wait_new_window "$before" "$ZAPRUN_PID" popup
    check "  wider than the idle \"zR\": it names the script" \
        eval '(($(window_geometry "$NEW_WINDOW" | cut -d" " -f3) > 2 * idle_tip_width))'
    park_pointer
    require_within "  and goes" "$E2E_DEADLINE" window_gone "$NEW_WINDOW"
    : >"$HOME/go"
    require_within "the run ends and the icon is idle again" "$E2E_DEADLINE" not icon_lit
    check_holds "the click and keys made meanwhile are dropped: no menu, nothing runs" 1500 \
        nothing_more_than "$before" $'group\nwaits'
    require "the menu opens at the next click" open_tray_menu
    require "choose Quit ZapRun" menu_choose_by_keys 2
    wait_exit "$ZAPRUN_PID"
    check_eq "Quit ZapRun ends zaprun with status 0" 0 "$EXIT_STATUS"
    stop_all
}

# ---------------------------------------------------------------- ended from outside
socket_count() { find "$XDG_RUNTIME_DIR" -type s 2>/dev/null | grep -c .; }

phase_ended_from_outside() {
    note "== SIGTERM, SIGHUP and SIGINT during a run; a file-size limit"
    start_desktop
    local sig
    for sig in TERM HUP INT; do
        fresh_home
        export TMPDIR=$E2E_ROOT/tmp-$sig
        mkdir -p "$TMPDIR"
        write_store "stays" \
            'sleep 600 & echo $! >"$HOME/bg.pid"; echo $$ >"$HOME/own.pid"; exec sleep 600'
        ZAPRUN_PID=
        start_zaprun_alone
        require_within "$sig: zaprun's icon embeds" "$E2E_DEADLINE" tray_icon_count_is 1
        require "  the tray menu opens" open_tray_menu
        require "  choose the script" menu_choose_by_keys 3
        require_within "  it runs" "$E2E_DEADLINE" test -s "$HOME/own.pid"
        local own bg
        own=$(cat "$HOME/own.pid") bg=$(cat "$HOME/bg.pid")
        check "  its script file and zaprun's socket are there" \
            eval '[[ -n $(ls -A "$TMPDIR") && $(socket_count) -ge 1 ]]'
        kill -"$sig" "$ZAPRUN_PID"
        wait_exit "$ZAPRUN_PID"
        check_eq "  SIG$sig ends zaprun with status 0" 0 "$EXIT_STATUS"
        check_eq "  no script file is left" "" "$(ls -A "$TMPDIR")"
        check_eq "  no socket is left" 0 "$(socket_count)"
        check_within "  the script's own process is ended" "$E2E_DEADLINE" gone "$own"
        check "  what it started in the background runs on" alive "$bg"
        kill "$bg" "$own" 2>/dev/null
    done

    note "-- under a file-size limit of 64 KiB"
    fresh_home
    export TMPDIR=$E2E_ROOT/tmp-fsize
    mkdir -p "$TMPDIR"
    # 200 KB of script: written as JSON by sed, far faster than write_store's loop.
    mkdir -p "$XDG_CONFIG_HOME/zaprun"
    {
        echo 'echo ran >>"$HOME/cut.log"'
        yes ': a line of padding that the shell reads and ignores' | head -n 4000
        echo 'echo whole >>"$HOME/cut.log"'
    } | sed 's/"/\\"/g' | tr '\n' '\a' | sed 's/\a/\\n/g' |
        sed 's/^/{"all scripts names": ["big"], "all scripts": ["/; s/$/"]}/' >"$(store_file)"
    chmod 0600 "$(store_file)"
    local bin=$ZAPRUN_BIN
    ZAPRUN_BIN=/bin/bash
    ZAPRUN_PID=
    start_zaprun -c 'ulimit -f 64 && exec "$0"' "$bin"
    ZAPRUN_BIN=$bin
    require_within "zaprun's icon embeds" "$E2E_DEADLINE" tray_icon_count_is 1
    require "the tray menu opens" open_tray_menu
    local before
    before=$(app_windows)
    require "choose the script larger than the limit" menu_choose_by_keys 3
    require "the Error! dialog appears" wait_dialog "$before"
    check_eq "  it says why" $'Error!\nThe script could not be prepared: File too large.' \
        "$(dialog_texts "$DIALOG_WIN")"
    check "  and nothing of the script ran" file_absent "$HOME/cut.log"
    require "Ok closes it" dialog_press_ok "$DIALOG_WIN"
    check_eq "no script file is left" "" "$(ls -A "$TMPDIR")"
    require "the tray menu opens" open_tray_menu
    require "choose Preferences: a write to the store, beyond the limit" menu_choose_by_keys 1
    check_within "  the failed write is reported" "$E2E_DEADLINE" \
        grep -q 'could not save' "$(zaprun_stderr_file)"
    check_holds "  and zaprun runs on" 1000 alive "$ZAPRUN_PID"
    stop_all
}

# ---------------------------------------------------------------- alerts and hidden windows
zaprun_windows() { for w in $(app_windows); do window_is_popup "$w" || echo "$w"; done; }
zaprun_window_count_is() { [[ $(zaprun_windows | grep -c .) -eq $1 ]]; }
focus_is_titled() { [[ $(window_title "$(xdotool getwindowfocus 2>/dev/null)") == "$1" ]]; }
only_the_dialog() { [[ $(zaprun_windows) == "$DIALOG_WIN" ]]; }

# inside_work_area WIN : the window and its frame lie within the desktop's work area.
inside_work_area() {
    local x y w h l r t b wx wy ww wh
    read -r x y w h < <(window_geometry "$1") || return 1
    read -r l r t b < <(xprop -id "$1" _NET_FRAME_EXTENTS | tr -dc '0-9 ' | awk '{print $1, $2, $3, $4}')
    read -r wx wy ww wh < <(xprop -root _NET_WORKAREA | tr -dc '0-9 ' | awk '{print $1, $2, $3, $4}')
    note "  window ${w}x$h at $x,$y, frame $l $r $t $b; work area ${ww}x$wh at $wx,$wy"
    ((x - ${l:-0} >= wx && y - ${t:-0} >= wy && x + w + ${r:-0} <= wx + ww && y + h + ${b:-0} <= wy + wh))
}

phase_alerts_and_hidden_windows() {
    note "== a long error message; the alert is no activation; hidden windows come back"
    fresh_home
    start_desktop 800x600x24
    local message=$E2E_ROOT/message
    { seq 1 60; head -c 3000 /dev/zero | tr '\0' x; echo; echo end of the message; } >"$message"
    write_store "long" "cat '$message' >&2; exit 1"
    start_zaprun
    require_within "the zR icon embeds" "$E2E_DEADLINE" tray_icon_count_is 1

    local before
    require "the tray menu opens" open_tray_menu
    before=$(app_windows)
    require "choose the script with a long error" menu_choose_by_keys 3
    require "the Error! dialog appears" wait_dialog "$before"
    check_holds "  alone: the editor does not come forward" 1000 only_the_dialog
    check "  it fits the screen's work area" inside_work_area "$DIALOG_WIN"
    screenshot "$E2E_ROOT/long-alert.png" "$DIALOG_WIN"
    local x y w h
    read -r x y w h < <(window_geometry "$DIALOG_WIN")
    activate "$DIALOG_WIN"
    click "$DIALOG_WIN" $((w / 2)) $((h / 2))
    keys ctrl+a ctrl+c
    check_within "  the whole message can be selected and copied" "$E2E_DEADLINE" \
        eval '[[ $(clipboard_read) == "$(head -c -1 "$message")" ]]'
    keys Return
    check_within "  Return closes it, also from the text" "$E2E_DEADLINE" window_gone "$DIALOG_WIN"
    check_holds "  and no ZapRun window shows afterwards" 1000 zaprun_window_count_is 0

    require "the tray menu opens" open_tray_menu
    before=$(app_windows)
    require "choose it again" menu_choose_by_keys 3
    require "the Error! dialog appears" wait_dialog "$before"
    activate "$DIALOG_WIN"
    keys Escape
    check_within "  Escape closes it" "$E2E_DEADLINE" window_gone "$DIALOG_WIN"

    require "the tray menu opens" open_tray_menu
    require "choose Preferences" menu_choose_by_keys 1
    require_within "the editor comes forward" "$E2E_DEADLINE" zaprun_window_count_is 1
    local editor
    editor=$(zaprun_windows)
    activate "$editor"
    keys alt+h Return
    require_within "its Help menu opens the picture guide" "$E2E_DEADLINE" zaprun_window_count_is 2
    activate "$editor"
    keys alt+h Down Return
    require_within "  and the settings panel" "$E2E_DEADLINE" zaprun_window_count_is 3
    activate "$editor"
    keys alt+F4
    require_within "closing the editor hides all three" "$E2E_DEADLINE" zaprun_window_count_is 0
    require "the tray menu opens" open_tray_menu
    require "choose Preferences" menu_choose_by_keys 1
    check_within "all three come back" "$E2E_DEADLINE" zaprun_window_count_is 3
    check_within "  the editor with the focus" "$E2E_DEADLINE" focus_is_titled ZapRun
    require "the tray menu opens" open_tray_menu
    require "choose Quit ZapRun" menu_choose_by_keys 2
    wait_exit "$ZAPRUN_PID"
    check_eq "Quit ZapRun ends zaprun with status 0" 0 "$EXIT_STATUS"
    stop_all
}

# Arguments name the phases to run (all of them by default).
for phase in "${@:-script_cannot_hurt_zaprun ended_from_outside alerts_and_hidden_windows}"; do
    for p in $phase; do "phase_$p"; done
done
finish
