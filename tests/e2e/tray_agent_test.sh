#!/bin/bash
# The tray agent end to end, driven as a user would: the real zaprun binary on a private Xvfb
# with openbox and an XEmbed tray host.
. "$(dirname "$0")/lib.sh"

# Three scripts, each leaving its own marker and a line in ran.log (so that the order of runs is
# seen too); the third also records where and how it ran. Then one that fails.
prepare_store() {
    write_store \
        "alpha" 'echo alpha >>"$HOME/ran.log"; : >"$HOME/marker-alpha"' \
        "beta two" 'echo beta >>"$HOME/ran.log"; : >"$HOME/marker-beta"' \
        "gamma ✓" 'echo gamma >>"$HOME/ran.log"; printf "%s|%s|%s\n" "$PWD" "$E2E_TOKEN" "$(readlink /proc/self/fd/0)" >"$HOME/marker-gamma"' \
        "fails" 'echo fails >>"$HOME/ran.log"; echo boom >&2; exit 3'
}

ran_log_is() { [[ "$(cat "$HOME/ran.log" 2>/dev/null)" == "$1" ]]; }
markers_are() { [[ "$(cd "$HOME" && echo marker-*)" == "$1" ]]; }

# Menu positions as the keyboard counts them (the separator is skipped).
POS_PREFERENCES=1 POS_QUIT=2 POS_ALPHA=3 POS_BETA=4 POS_GAMMA=5 POS_FAILS=6

# ---------------------------------------------------------------- no display at all
phase_no_display() {
    note "== zaprun with a display that does not exist"
    local n=$((500 + RANDOM % 5000)) start
    while [[ -e /tmp/.X11-unix/X$n || -e /tmp/.X$n-lock ]]; do n=$((n + 1)); done
    start=$(now_ms)
    DISPLAY=:$n spawn nodisplay "$ZAPRUN_BIN"
    wait_exit "$E2E_LAST_PID"
    check_eq "no display: exit status 1" 1 "$EXIT_STATUS"
    check "no display: ended at once ($(($(now_ms) - start)) ms)" test $(($(now_ms) - start)) -lt 10000
    check_eq "no display: one line on stderr" 1 "$(file_lines "$E2E_LOGS/nodisplay.err")"
    check "no display: the line says it is about the display" \
        grep -qi 'display' "$E2E_LOGS/nodisplay.err"
    note "  stderr: $(head -c 300 "$E2E_LOGS/nodisplay.err")"
    check "no display: no store was written" file_absent "$(store_file)"
}

# ---------------------------------------------------------------- the usual session
phase_tray_session() {
    note "== a session with a tray host"
    fresh_home
    start_desktop
    prepare_store
    cp "$(store_file)" "$E2E_ROOT/store-before.json"
    export E2E_TOKEN=token-$RANDOM$RANDOM
    start_zaprun
    require_within "one zR icon embeds in the tray" "$E2E_DEADLINE" tray_icon_count_is 1
    check_eq "icon window is titled ZapRun" ZapRun "$(window_title "$(tray_icon)")"

    # Order by position: each script item, chosen by its place in the menu, runs its own script.
    require "left click opens the menu" open_tray_menu
    check_eq "menu layout: two commands, a separator, four scripts" \
        "item item sep item item item item" "$(menu_shape "$MENU_WIN")"
    screenshot "$E2E_ROOT/menu.png" "$MENU_WIN"
    require "choose menu position $POS_ALPHA" menu_choose_by_keys "$POS_ALPHA"
    require_within "position $POS_ALPHA ran the first script" "$E2E_DEADLINE" ran_log_is alpha
    check "  and only it" markers_are marker-alpha

    require "menu opens again" open_tray_menu
    require "choose menu position $POS_BETA" menu_choose_by_keys "$POS_BETA"
    require_within "position $POS_BETA ran the second script" "$E2E_DEADLINE" ran_log_is $'alpha\nbeta'

    # The third script, chosen with the mouse.
    require "menu opens again" open_tray_menu
    require "click the third script's item" menu_click_item "$POS_GAMMA"
    require_within "the third script ran" "$E2E_DEADLINE" ran_log_is $'alpha\nbeta\ngamma'
    check "  its marker is there" file_exists "$HOME/marker-gamma"
    check_eq "  it ran in HOME, with zaprun's environment and stdin /dev/null" \
        "$HOME|$E2E_TOKEN|/dev/null" "$(cat "$HOME/marker-gamma" 2>/dev/null)"
    check "  each script ran exactly once" markers_are "marker-alpha marker-beta marker-gamma"

    # A failing script: the modal "Error!" dialog with the script's stderr.
    require "menu opens again" open_tray_menu
    local before
    before=$(app_windows)
    require "choose the failing script" menu_choose_by_keys "$POS_FAILS"
    require_within "the failing script ran" "$E2E_DEADLINE" ran_log_is $'alpha\nbeta\ngamma\nfails'
    require "a new ZapRun window appears" wait_dialog "$before"
    check "  it is a modal dialog" xprop_has "$DIALOG_WIN" _NET_WM_STATE _NET_WM_STATE_MODAL
    screenshot "$E2E_ROOT/error-dialog.png" "$DIALOG_WIN"
    check_eq "  it says Error! and the script's stderr" $'Error!\nboom' "$(dialog_texts "$DIALOG_WIN")"
    require "Return presses Ok and the dialog goes" dialog_press_ok "$DIALOG_WIN"
    check_holds "zaprun goes on running after the dialog" 300 alive "$ZAPRUN_PID"

    # Another launch in the same session hands over to the running one and leaves.
    local start
    start=$(now_ms)
    start_zaprun
    local second=$E2E_LAST_PID second_log=$ZAPRUN_LAST_LOG
    wait_exit "$second"
    check_eq "a second zaprun exits with status 0" 0 "$EXIT_STATUS"
    check "  at once ($(($(now_ms) - start)) ms)" test $(($(now_ms) - start)) -lt 10000
    check_eq "  saying nothing" "" "$(zaprun_stderr "$second_log")"
    check_holds "still exactly one icon, and the first zaprun runs on" 500 \
        one_icon_and_alive "$ZAPRUN_PID"

    # The menu still works after the re-open request; then quit through it.
    require "menu opens again" open_tray_menu
    require "choose Quit ZapRun (position $POS_QUIT)" menu_choose_by_keys "$POS_QUIT"
    wait_exit "$ZAPRUN_PID"
    check_eq "Quit ZapRun ends zaprun with status 0" 0 "$EXIT_STATUS"
    check "the store is byte for byte as it was" same_bytes "$E2E_ROOT/store-before.json" "$(store_file)"
    check_eq "nothing on zaprun's stderr" "" "$(zaprun_stderr)"
    check_within "its icon leaves the tray" "$E2E_DEADLINE" tray_icon_count_is 0
    check_eq "no script ran twice and none by accident" $'alpha\nbeta\ngamma\nfails' "$(cat "$HOME/ran.log")"

    # The first item is Preferences: it asks for the editor window through the store.
    ZAPRUN_PID=
    start_zaprun
    require_within "zaprun starts again" "$E2E_DEADLINE" tray_icon_count_is 1
    require "menu opens" open_tray_menu
    require "choose menu position $POS_PREFERENCES" menu_choose_by_keys "$POS_PREFERENCES"
    check_within "position $POS_PREFERENCES is Preferences: the store now holds \"show main\"" \
        "$E2E_DEADLINE" grep -q '"show main"' "$(store_file)"
    check_holds "  and zaprun runs on" 300 alive "$ZAPRUN_PID"
    check_eq "  and no script ran" $'alpha\nbeta\ngamma\nfails' "$(cat "$HOME/ran.log")"
    # The editor window, if this build has one, may hold the focus now; Quit goes by the menu.
    require "menu opens" open_tray_menu
    require "choose Quit ZapRun" menu_choose_by_keys "$POS_QUIT"
    wait_exit "$ZAPRUN_PID"
    check_eq "Quit ZapRun ends zaprun with status 0" 0 "$EXIT_STATUS"
    stop_all
}

xprop_has() { xprop -id "$1" "$2" 2>/dev/null | grep -q "$3"; }
one_icon_and_alive() { tray_icon_count_is 1 && alive "$1"; }

# ---------------------------------------------------------------- one display, two spellings
phase_display_spelled_with_screen() {
    note "== a second start names the display with its screen"
    fresh_home
    start_desktop
    write_store "alpha" "echo alpha"
    start_zaprun
    require_within "one zR icon embeds" "$E2E_DEADLINE" tray_icon_count_is 1
    local before
    before=$(app_windows)
    DISPLAY=$DISPLAY.0 start_zaprun
    wait_exit "$E2E_LAST_PID"
    check_eq "a zaprun started on $DISPLAY.0 exits with status 0" 0 "$EXIT_STATUS"
    check_holds "  leaving one icon, and the first zaprun runs on" 500 \
        one_icon_and_alive "$ZAPRUN_PID"
    check_within "  which brings its editor window forward" "$E2E_DEADLINE" new_window "$before"
    stop_all
}

# ---------------------------------------------------------------- no tray host at first
phase_tray_arrives_late() {
    note "== no tray host at start; one turns up later"
    fresh_home
    start_xvfb
    start_openbox
    write_store "late" 'echo late >>"$HOME/ran.log"'
    start_zaprun
    require_within "one line on stderr" "$E2E_DEADLINE" file_line_count_is "$(zaprun_stderr_file)" 1
    note "  stderr: $(zaprun_stderr | head -c 300)"
    check_holds "zaprun keeps running, with nothing more on stderr" 500 \
        running_with_stderr_lines "$ZAPRUN_PID" 1
    start_trayer
    check_within "the icon embeds once the tray host is there" "$E2E_DEADLINE" tray_icon_count_is 1
    check_holds "  exactly once" 500 tray_icon_count_is 1
    check_eq "  and stderr still has one line" 1 "$(zaprun_stderr_lines)"
    require "the late icon's menu opens" open_tray_menu
    require "choose the script" menu_choose_by_keys 3
    check_within "the script ran" "$E2E_DEADLINE" ran_log_is late
    require "menu opens" open_tray_menu
    require "choose Quit ZapRun" menu_choose_by_keys "$POS_QUIT"
    wait_exit "$ZAPRUN_PID"
    check_eq "Quit ZapRun ends zaprun with status 0" 0 "$EXIT_STATUS"
    stop_all
}

running_with_stderr_lines() { alive "$1" && file_line_count_is "$(zaprun_stderr_file)" "$2"; }

phase_no_display
phase_tray_session
phase_display_spelled_with_screen
phase_tray_arrives_late
finish
