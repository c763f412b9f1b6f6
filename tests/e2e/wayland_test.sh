#!/bin/bash
# ZapRun on Wayland: a headless sway with waybar's StatusNotifierItem tray, everything run as an
# unprivileged user (sway refuses root) on a session bus of its own. The editor is driven with
# wtype, the clipboard with wl-copy, the tray menu through D-Bus as waybar drives it (sni.py).
. "$(dirname "$0")/lib.sh"

ran_log_is() { [[ "$(cat "$HOME/ran.log" 2>/dev/null)" == "$1" ]]; }
store_has() { grep -qF -- "$1" "$(store_file)" 2>/dev/null; }

# The editor through sway's eyes: "focused" or "urgent" or "shown", or nothing while unmapped.
editor_state() {
    as_user swaymsg -t get_tree 2>/dev/null | /usr/bin/python3 -c '
import json, sys
def walk(n):
    yield n
    for c in n.get("nodes", []) + n.get("floating_nodes", []):
        yield from walk(c)
for n in walk(json.load(sys.stdin)):
    if n.get("app_id") == "org.example.ZapRun" and n.get("name") == "ZapRun":
        print("focused" if n.get("focused") else "urgent" if n.get("urgent") else "shown")'
}
editor_is() { [[ $(editor_state) == "$1" ]]; }

# Copy TEXT elsewhere, leave ZapRun's workspace, then "Preferences" from the tray menu: the
# editor must come back with the focus and the new text; a name typed and Add store both.
copy_then_add() {
    local text=$1 name=$2 to_name_field=("${@:3}")
    as_user swaymsg workspace 2 >/dev/null
    check_within "$name: the editor has lost the focus" "$E2E_DEADLINE" not editor_is focused
    as_user wl-copy -- "$text"
    require "$name: choose Preferences in the tray menu" sni click "$(sni_item)" Preferences
    check_within "$name: the editor comes back, focused" "$E2E_DEADLINE" editor_is focused
    as_user wtype "${to_name_field[@]}" "$name" -k Tab -k space
    check_within "$name: Add stored the script with the copied text" "$E2E_DEADLINE" \
        store_has "$(json_string "$text")"
}

phase_sway_waybar() {
    note "== sway 1.7 (headless) with waybar's tray, as user $WAYLAND_USER"
    start_sway_waybar
    write_store "run me" 'echo ran >>"$HOME/ran.log"'
    as_user true && ((EUID == 0)) && chown -R "$WAYLAND_USER" "$XDG_CONFIG_HOME/zaprun"
    as_user_spawn zaprun-1 "$ZAPRUN_BIN"
    ZAPRUN_PID=$E2E_LAST_PID ZAPRUN_LOG=zaprun-1
    require_within "the item registers with waybar" "$E2E_DEADLINE" sni_item_count_is 1
    check_within "waybar shows the zR icon" "$E2E_DEADLINE" wayland_panel_shows_icon
    # waybar draws its own menu on a left click (ItemIsMenu); Activate all the same opens nothing.
    check_eq "Title, ItemIsMenu" "ZapRun 1" "$(sni prop "$(sni_item)" Title) $(sni prop "$(sni_item)" ItemIsMenu)"
    require "Activate the item, as a left click does" sni call "$(sni_item)" Activate
    check_holds "no window appears" 500 not editor_state_any
    require "choose the script in the exported menu" sni click "$(sni_item)" "run me"
    check_within "it ran" "$E2E_DEADLINE" ran_log_is ran

    # The first Preferences maps the editor; later ones must find it again.
    require "choose Preferences" sni click "$(sni_item)" Preferences
    require_within "the editor window appears, focused" "$E2E_DEADLINE" editor_is focused
    copy_then_add "first text $RANDOM" first # the name field has the focus
    copy_then_add "second text $RANDOM" second -M shift -k Tab -m shift # back from Add

    check_eq "waybar's menu follows the additions" \
        '"Preferences" "Quit ZapRun" null "run me" "first" "second"' "$(sni_labels | paste -sd ' ')"

    # A second launch brings the open editor forward too.
    as_user swaymsg workspace 2 >/dev/null
    require_within "the editor has lost the focus" "$E2E_DEADLINE" not editor_is focused
    as_user_spawn zaprun-2 "$ZAPRUN_BIN"
    wait_exit "$E2E_LAST_PID"
    check_eq "a second zaprun exits with status 0" 0 "$EXIT_STATUS"
    check_within "  and the editor comes back, focused" "$E2E_DEADLINE" editor_is focused

    # Where the compositor will not hand over the focus, the window asks for attention.
    as_user swaymsg focus_on_window_activation urgent >/dev/null
    as_user swaymsg workspace 2 >/dev/null
    require_within "the editor has lost the focus" "$E2E_DEADLINE" not editor_is focused
    require "choose Preferences" sni click "$(sni_item)" Preferences
    check_within "sway, set to refuse it, marks the editor urgent" "$E2E_DEADLINE" editor_is urgent

    require "choose Quit ZapRun" sni click "$(sni_item)" "Quit ZapRun"
    wait_exit "$ZAPRUN_PID"
    check_eq "zaprun ended with status 0" 0 "$EXIT_STATUS"
}
editor_state_any() { [[ -n $(editor_state) ]]; }

for tool in sway waybar wl-copy wtype grim dbus-daemon setpriv; do
    command -v "$tool" >/dev/null || fail "missing $tool (see TEST_PACKAGES in tools/packages.sh)"
done
/usr/bin/python3 -c 'import dbus' 2>/dev/null || fail "missing python3-dbus"
phase_sway_waybar
finish
