#!/bin/bash
# ZapRun under StatusNotifierItem tray hosts on Xvfb, each on a session bus of its own: driven
# through the exported item and its DBusMenu as the host drives them (sni.py).
. "$(dirname "$0")/lib.sh"

# Names a menu could misread (DBusMenu's '_' mnemonic marker, Qt's '&', a tab, a control
# character), and what every menu shows for each: control characters by their pictures.
NAMES=("my_script" "a&b && c_d" $'tab\there' $'bell\a' "__init__")
SHOWN=("my_script" "a&b && c_d" $'tab\u2409here' $'bell\u2407' "__init__")

prepare_store() {
    local args=() i
    for i in "${!NAMES[@]}"; do args+=("${NAMES[i]}" "echo $i >>\"\$HOME/ran.log\""); done
    write_store "${args[@]}"
}
expected_labels() {
    printf '%s\n' '"Preferences"' '"Quit ZapRun"' null
    printf '%s\n' "${SHOWN[@]}" | /usr/bin/python3 -c \
        'import json,sys; [print(json.dumps(l.rstrip("\n"), ensure_ascii=False)) for l in sys.stdin]'
}
ran_log_is() { [[ "$(cat "$HOME/ran.log" 2>/dev/null)" == "$1" ]]; }

# The item as the host reads it, its menu exactly, and one script run through the menu.
check_item() {
    local host=$1 item
    item=$(sni_item) || fail "$host: no item"
    check_eq "$host: Title, Id, ItemIsMenu" "ZapRun org.example.ZapRun 1" \
        "$(for p in Title Id ItemIsMenu; do sni prop "$item" $p; done | paste -sd ' ')"
    check "$host: the icon comes as pixels too" test -n "$(sni prop "$item" IconPixmap)"
    check_eq "$host: the menu's labels, as the host shows them" "$(expected_labels)" "$(sni_labels)"
    rm -f "$HOME/ran.log"
    require "$host: click \"${SHOWN[0]}\" in the exported menu" sni click "$item" "${SHOWN[0]}"
    check_within "$host: it ran that script" "$E2E_DEADLINE" ran_log_is 0
    require "$host: click \"${SHOWN[1]}\"" sni click "$item" "${SHOWN[1]}"
    check_within "$host: it ran that script" "$E2E_DEADLINE" ran_log_is $'0\n1'
}

quit_through_menu() {
    require "$1: click \"Quit ZapRun\" in the exported menu" sni click "$(sni_item)" "Quit ZapRun"
    wait_exit "$ZAPRUN_PID"
    check_eq "$1: zaprun ended with status 0" 0 "$EXIT_STATUS"
    check_within "$1: its item left the host" "$E2E_DEADLINE" sni_item_count_is 0
    stop_all
}

# lxqt-panel shows D-Bus icons only; it starts after ZapRun, and again.
phase_lxqt_late_and_again() {
    note "== lxqt-panel (StatusNotifierItem only), started after zaprun, then restarted"
    fresh_home
    start_xvfb
    start_session_bus
    prepare_store
    start_zaprun
    require_within "no tray yet: one line on stderr" "$E2E_DEADLINE" \
        file_line_count_is "$(zaprun_stderr_file)" 1
    local start
    start=$(now_ms)
    start_lxqt_panel
    require_within "the item registers with the late host" "$E2E_DEADLINE" sni_item_count_is 1
    note "  registered $(($(now_ms) - start)) ms after lxqt-panel started"
    check_within "the panel shows the zR icon" "$E2E_DEADLINE" x_panel_shows_icon
    check_item lxqt-panel
    check_eq "lxqt-panel: no icon name while the icon is not installed" "" \
        "$(sni prop "$(sni_item)" IconName)"

    # A left click (Activate) on X11 opens ZapRun's menu at the pointer, a popup, not a window.
    local before
    before=$(app_windows)
    require "Activate the item, as a left click does" sni call "$(sni_item)" Activate
    require "a menu opens" wait_new_window "$before" "$ZAPRUN_PID" popup
    keys Escape

    stop_process "$PANEL_PID"
    check_within "the item is gone with the host" "$E2E_DEADLINE" not sni_item_count_is 1
    start=$(now_ms)
    start_lxqt_panel
    require_within "the item registers again with the restarted host" "$E2E_DEADLINE" \
        sni_item_count_is 1
    note "  registered $(($(now_ms) - start)) ms after lxqt-panel started again"
    check_within "the restarted panel shows the zR icon" "$E2E_DEADLINE" x_panel_shows_icon
    check_eq "the menu is whole again" "$(expected_labels)" "$(sni_labels)"
    check_eq "stderr still has its one line" 1 "$(zaprun_stderr_lines)"
    quit_through_menu lxqt-panel
}

# xfce4-panel's systray serves both protocols; Qt takes the D-Bus one when its host is there.
phase_xfce() {
    note "== xfce4-panel 4.18 (systray: StatusNotifierItem and XEmbed)"
    fresh_home
    start_xvfb
    start_session_bus
    start_xfce_panel
    prepare_store
    # ZapRun's icon installed for this user (a plain square of the icon's yellow will do).
    mkdir -p "$XDG_DATA_HOME/icons/hicolor/48x48/apps"
    /usr/bin/convert -size 48x48 xc:'#ffd33d' \
        "$XDG_DATA_HOME/icons/hicolor/48x48/apps/org.example.ZapRun.png"
    start_zaprun
    require_within "the item registers with xfce4-panel" "$E2E_DEADLINE" sni_item_count_is 1
    check_within "the panel shows the zR icon" "$E2E_DEADLINE" x_panel_shows_icon
    check_item xfce4-panel
    check_eq "xfce4-panel: the installed icon is offered by name" org.example.ZapRun \
        "$(sni prop "$(sni_item)" IconName)"
    check_eq "nothing on stderr" "" "$(zaprun_stderr)"
    quit_through_menu xfce4-panel
}

# With a session bus but no StatusNotifierItem host, a late XEmbed tray still gets the icon.
phase_xembed_late_with_bus() {
    note "== a session bus, no StatusNotifierItem host; trayer (XEmbed) starts after zaprun"
    fresh_home
    start_xvfb
    start_openbox
    start_session_bus
    prepare_store
    start_zaprun
    require_within "no tray yet: one line on stderr" "$E2E_DEADLINE" \
        file_line_count_is "$(zaprun_stderr_file)" 1
    start_trayer
    check_within "the icon embeds in the late XEmbed tray" "$E2E_DEADLINE" tray_icon_count_is 1
    require "its menu opens" open_tray_menu
    require "choose Quit ZapRun" menu_choose_by_keys 2
    wait_exit "$ZAPRUN_PID"
    check_eq "zaprun ended with status 0" 0 "$EXIT_STATUS"
    stop_all
}

for tool in dbus-daemon lxqt-panel xfce4-panel; do
    command -v "$tool" >/dev/null || fail "missing $tool (see TEST_PACKAGES in tools/packages.sh)"
done
/usr/bin/python3 -c 'import dbus' 2>/dev/null || fail "missing python3-dbus"
phase_lxqt_late_and_again
phase_xfce
phase_xembed_late_with_bus
finish
