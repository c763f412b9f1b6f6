#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# shellcheck disable=SC2016,SC2317,SC2034,SC2119 # conditions expand later, by name; helpers take optional arguments
# ZapRun under StatusNotifierItem hosts, each on a session bus of its own, driven through the
# exported item and its DBusMenu as the host drives them (sni.py). Arguments name the phases.
. "$(dirname "$0")/lib.sh"
: "${VPTRD_BIN:=$(dirname "$ZAPRUN_BIN")/tests/e2e/vptrd}"

# Names a menu could misread (DBusMenu's '_' mnemonic marker, Qt's '&', a tab, a control
# character), and what every menu shows for each: control characters by their pictures.
NAMES=("my_script" "a&b && c_d" $'tab\there' $'bell\a' "__init__")
LABELS='"Preferences" "Quit ZapRun" null "my_script" "a&b && c_d" "tab␉here" "bell␇" "__init__"'
prepare_store() { local a=() i; for i in "${!NAMES[@]}"; do a+=("${NAMES[i]}" "echo $i >>\"\$HOME/ran.log\""); done; write_store "${a[@]}"; }
quit_through_menu() {
    require "$1: click \"Quit ZapRun\" in the exported menu" eval 'sni click "$(sni_item)" "Quit ZapRun" && wait_exit "$ZAPRUN_PID"'
    check_eq "$1: zaprun ended with status 0" 0 "$EXIT_STATUS"
    check_within "$1: its item left the host" "$E2E_DEADLINE" sni_item_count_is 0
    stop_all
}

# lxqt-panel, its statusnotifier plugin alone (D-Bus icons only, no XEmbed), started after zaprun,
# then restarted; the item as the host reads it, its menu exactly, two scripts run through it.
phase_lxqt() {
    start_xvfb && start_session_bus && prepare_store
    start_zaprun
    require_within "no tray yet: one line on stderr" "$E2E_DEADLINE" eval '[[ $(zaprun_stderr_lines) == 1 ]]'
    local round item x y rows
    for round in "started late" restarted; do
        [[ $round == restarted ]] && stop_process "$PANEL_PID" &&
            check_within "the item is gone with the host" "$E2E_DEADLINE" sni_item_count_is 0
        start_lxqt_panel
        require_within "lxqt-panel $round: the item registers" "$E2E_DEADLINE" sni_item_count_is 1
        check_within "  the panel shows the zR icon" "$E2E_DEADLINE" x_panel_shows_icon
    done
    item=$(sni_item) || fail "no item"
    check_eq "Title, Id, ItemIsMenu" "ZapRun org.example.ZapRun 1" \
        "$(for p in Title Id ItemIsMenu; do sni prop "$item" "$p"; done | paste -sd ' ')"
    check "the icon comes as pixels too" test -n "$(sni prop "$item" IconPixmap)"
    check_eq "the menu's labels, as the host shows them" "$LABELS" "$(sni labels "$item" | paste -sd ' ')"
    require "click \"my_script\", then \"a&b && c_d\" in the exported menu" \
        eval 'sni click "$item" my_script && wait_for "$E2E_DEADLINE" ran_log_is 0 && sni click "$item" "a&b && c_d"'
    check_within "  each ran its script" "$E2E_DEADLINE" ran_log_is $'0\n1'
    mapfile -t rows < <(scripts 501) && write_store "${rows[@]}" && rm "$HOME/ran.log"
    require_within "501 scripts: the menu gets pages" "$E2E_DEADLINE" sni id "$item" "Scripts 1–500"
    read -r x y < <(x_panel_icon_at) && xdotool mousemove "$x" "$y" click 3 && keys Down Down Down Right
    check_within "  the panel fills the first page as it opens it" "$E2E_DEADLINE" panel_shows_page
    check_within "  and Return there runs \"script 0\"" "$E2E_DEADLINE" eval 'keys Return && ran_log_is 0'
    check_eq "no icon name while the icon is not installed; stderr still one line" " 1" \
        "$(sni prop "$(sni_item)" IconName) $(zaprun_stderr_lines)"
    # A left click (Activate) on X11 opens ZapRun's menu at the pointer, a popup, not a window.
    require "Activate the item, as a left click does: a menu opens" opens popup sni call "$(sni_item)" Activate
    keys Escape
    quit_through_menu lxqt-panel
}

# xfce4-panel (its layout read by xfconfd) has a systray that serves both protocols; Qt takes the
# D-Bus one when its host is there.
phase_xfce() {
    start_xvfb && start_session_bus && prepare_store
    local dir=$XDG_CONFIG_HOME/xfce4/xfconf/xfce-perchannel-xml p='<property name=' && mkdir -p "$dir"
    printf '%s\n' '<?xml version="1.0" encoding="UTF-8"?>' '<channel name="xfce4-panel" version="1.0">' \
        "$p\"configver\" type=\"int\" value=\"2\"/>" "$p\"panels\" type=\"array\"><value type=\"int\" value=\"1\"/>" \
        "$p\"panel-1\" type=\"empty\">$p\"position\" type=\"string\" value=\"p=6;x=0;y=0\"/>" \
        "$p\"length\" type=\"uint\" value=\"100\"/>$p\"size\" type=\"uint\" value=\"32\"/>" \
        "$p\"plugin-ids\" type=\"array\"><value type=\"int\" value=\"1\"/></property></property></property>" \
        "$p\"plugins\" type=\"empty\">$p\"plugin-1\" type=\"string\" value=\"systray\"/></property>" \
        '</channel>' >"$dir/xfce4-panel.xml"
    start_sni_panel xfce4-panel xfce4-panel --disable-wm-check
    mkdir -p "$XDG_DATA_HOME/icons/hicolor/48x48/apps" # the icon installed for this user
    /usr/bin/convert -size 48x48 xc:'#ffd33d' "$XDG_DATA_HOME/icons/hicolor/48x48/apps/org.example.ZapRun.png"
    start_zaprun
    require_within "the item registers with xfce4-panel" "$E2E_DEADLINE" sni_item_count_is 1
    check_within "the panel shows the zR icon" "$E2E_DEADLINE" x_panel_shows_icon
    check_eq "the installed icon is offered by name" org.example.ZapRun "$(sni prop "$(sni_item)" IconName)"
    check_eq "nothing on stderr" "" "$(zaprun_stderr)"
    quit_through_menu xfce4-panel
}

# The exported menu's answers, call by call (Qt's own adaptor answers the same, except where it
# never replies, leaves out the root, or describes items that are not there).
MENU_CALLS=( # METHOD ARGS|ANSWER, $quit the id of "Quit ZapRun"
    'Get Version|4'
    'GetProperty [$quit, "shortcut"]|[["Control", "Q"]]'
    'GetProperty [$quit, "icon-name"]|error org.freedesktop.DBus.Error.InvalidArgs'
    'GetProperty [999999, "label"]|error org.freedesktop.DBus.Error.InvalidArgs'
    'GetGroupProperties [[0], []]|[[0, {"children-display": "submenu"}]]'
    'GetLayout [999999, -1, []]|error org.freedesktop.DBus.Error.InvalidArgs'
    'GetLayout [0, -2147483648, []]|(all levels)'
)
scripts() { local i; for ((i = 0; i < $1; i++)); do printf '%s\n' "script $i" "echo $i >>\"\$HOME/ran.log\""; done; }
panel_shows_page() { local w; for w in $(app_windows "$PANEL_PID"); do window_is_popup "$w" && (($(window_geometry "$w" | cut -d' ' -f4) > 300)) && return; done; false; }
layout_parents() { grep -A2 'member=LayoutUpdated' "$E2E_LOGS/signals.out" | awk '$1 == "int32" {print $2}' | sort -u; }
# With a watcher of its own, no panel: the calls a host makes; what a host hears of an add; a
# watcher that takes the name from the first.
phase_protocol() {
    start_xvfb && start_session_bus
    local row call args answer all item quit page first
    mapfile -t row < <(scripts 501) && write_store "${row[@]}" # two pages: 500 names, then one
    spawn watcher-1 sni watcher && first=$E2E_LAST_PID
    require_within "a watcher is there" "$E2E_DEADLINE" sni host
    start_zaprun
    require_within "the item registers" "$E2E_DEADLINE" sni_item_count_is 1
    check "  by its connection's own name, as Qt's own item does" eval '[[ $(sni_item) == :* ]]'
    item=$(sni_item) && quit=$(sni id "$item" "Quit ZapRun") && page=$(sni id "$item" "Scripts 1–500")
    check_eq "a page not yet shown is sent empty" "" "$(sni labels "$item" "$page")"
    page=$(sni id "$item" "Scripts 501–501")
    check_eq "  one about to be shown: the host is told to fetch it, once" "true false" \
        "$(sni menu "$item" AboutToShow "[$page]") $(sni menu "$item" AboutToShow "[$page]")"
    check_eq "  then it holds its names" '"script 500"' "$(sni labels "$item" "$page")"
    all=$(sni menu "$item" GetLayout '[0, -1, []]')
    check "  read through its parent, as GNOME's extension reads the tree, a page comes filled" \
        grep -q '"label": "script 499"' <<<"$all"
    for row in "${MENU_CALLS[@]}"; do
        call=${row%%|*} answer=${row#*|} && args=${call#* }
        check_eq "$call" "${answer/(all levels)/$all}" "$(sni menu "$item" "${call%% *}" "${args//\$quit/$quit}")"
    done
    check_eq "  nothing on stderr" "" "$(zaprun_stderr)"
    spawn signals dbus-monitor "type='signal',interface='com.canonical.dbusmenu'"
    require_within "  the menu's signals are followed" "$E2E_DEADLINE" eval '[[ -s $E2E_LOGS/signals.out ]]'
    mapfile -t row < <(scripts 502) && write_store "${row[@]}"
    require_within "a script added outside shows in the second page" "$E2E_DEADLINE" sni id "$item" "Scripts 501–502"
    page=$(sni id "$item" "Scripts 501–502")
    check_eq "  the host is given that page's layout alone" "$page" "$(layout_parents)"
    spawn watcher-2 sni watcher
    require_within "another watcher takes the name" "$E2E_DEADLINE" gone "$first"
    check_within "  the item registers with it" 2 sni_item_count_is 1
    stop_all
}

# shell_menu_choose N [M] : a click on the icon in the shell's top bar, then the Nth item of the
# shell's menu, reached by its keyboard (1 Preferences, 2 Quit, 3 the first script or page), then
# the Mth item of the page it opened.
shell_menu_choose() {
    local x y && read -r x y < <(x_panel_icon_at) || return 1
    /usr/bin/import -window root -crop "300x200+$((x - 250))+35" "$E2E_ROOT/before.png"
    xdotool mousemove "$x" "$y" click 1 # the menu opens under the icon
    wait_for "$E2E_DEADLINE" eval '! /usr/bin/import -window root -crop "300x200+$((x - 250))+35" miff:- |
        /usr/bin/compare -metric AE "$E2E_ROOT/before.png" - null: 2>/dev/null' || return 1
    down_return "$1" && { [[ -z ${2-} ]] || down_return "$2"; }
}
shell_shows_icon() { keys Escape && x_panel_shows_icon; } # a started shell opens its overview
# GNOME Shell, on Xvfb with GLX, with the AppIndicator extension and a system bus of its own,
# draws the menu itself; a restart of the shell is a new host.
phase_gnome() {
    start_xvfb 1024x768x24 +extension GLX && start_session_bus && start_bus DBUS_SYSTEM_BUS_ADDRESS
    export XDG_SESSION_TYPE=x11 XDG_CURRENT_DESKTOP=GNOME
    { gsettings set org.gnome.shell enabled-extensions "['ubuntu-appindicators@ubuntu.com']" &&
        gsettings set org.gnome.shell welcome-dialog-last-shown-version 99; } || fail "gsettings failed"
    restart_gnome_shell
    write_store "run me" 'echo ran >>"$HOME/ran.log"'
    start_zaprun
    require_within "the item registers with GNOME Shell" "$E2E_DEADLINE" sni_item_count_is 1
    require_within "  the top bar shows the zR icon" "$E2E_DEADLINE" shell_shows_icon
    require "click the icon, choose \"run me\" in the shell's menu" shell_menu_choose 3
    check_within "  it ran" "$E2E_DEADLINE" ran_log_is ran
    local round rows
    mapfile -t rows < <(scripts 501) && write_store "${rows[@]}" && rm "$HOME/ran.log"
    require_within "501 scripts: the menu gets pages" "$E2E_DEADLINE" sni id "$(sni_item)" "Scripts 1–500"
    require "  open the first page in the shell's menu, choose its first item" shell_menu_choose 3 1
    check_within "  it ran \"script 0\"" "$E2E_DEADLINE" ran_log_is 0
    for round in 1 2 3; do # before, a shell sometimes lost an item it had to look up by name
        restart_gnome_shell
        check_within "shell restart $round: the icon is back" "$E2E_DEADLINE" shell_shows_icon
    done
    require "click the icon, choose \"Quit ZapRun\" in the shell's menu" eval 'shell_menu_choose 2 && wait_exit "$ZAPRUN_PID"'
    check_eq "  zaprun ended with status 0, nothing on stderr" "0 " "$EXIT_STATUS $(zaprun_stderr)"
    stop_all
}

# The editor through sway's eyes: "focused", "urgent" or "shown"; nothing while unmapped.
editor_state() {
    as_user swaymsg -t get_tree 2>/dev/null | /usr/bin/python3 -c 'import json, sys
def walk(n): return [n] + [m for c in n.get("nodes", []) + n.get("floating_nodes", []) for m in walk(c)]
print(*["focused" if n.get("focused") else "urgent" if n.get("urgent") else "shown" for n in walk(json.load(sys.stdin))
        if n.get("app_id") == "org.example.ZapRun" and n.get("name") == "ZapRun"])'
}
editor_is() { [[ $(editor_state) == "$1" ]]; }
leave_editor() { as_user swaymsg workspace 2 >/dev/null && wait_for "$E2E_DEADLINE" not editor_is focused; }
close_editor() { as_user swaymsg kill >/dev/null && wait_for "$E2E_DEADLINE" eval '[[ -z $(editor_state) ]]'; }
# A real pointer on sway (vptrd), driven through a FIFO this shell keeps open.
start_pointer() {
    [[ -x $VPTRD_BIN ]] || fail "no vptrd at $VPTRD_BIN (set VPTRD_BIN)"
    mkfifo "$HOME/pointer" && chmod 0666 "$HOME/pointer"
    as_user_spawn vptrd sh -c 'exec "$0" 800 600 <"$1"' "$VPTRD_BIN" "$HOME/pointer"
    exec {POINTER_FD}>"$HOME/pointer"
}
pointer() { # COMMAND... : one a line, done when vptrd has said so
    local done=$(($(grep -c '^done' "$E2E_LOGS/vptrd.err") + $#))
    printf '%s\n' "$@" >&"$POINTER_FD"
    wait_for "$E2E_DEADLINE" eval '[[ $(grep -c "^done" "$E2E_LOGS/vptrd.err") -ge '"$done"' ]]'
}
screen_shot() { as_user grim "$HOME/$1.png" 2>/dev/null; }
# box FILTER PNG : "X Y W H" around the pixels the ImageMagick filter leaves white
box() {
    local w h x y
    IFS='x+' read -r w h x y <<<"$(/usr/bin/convert "${@:2}" -threshold 1% -format '%@' info: 2>/dev/null)" && ((w > 1 && h > 1)) &&
        echo "$x $y $w $h"
}
icon_box() { screen_shot icon && box icon "$HOME/icon.png" -fuzz 20% -fill black +opaque '#ffd33d' -fill white -opaque '#ffd33d'; }
# Right-click the icon, then click the first item of waybar's own menu (what appeared), as a user does.
click_preferences_in_waybar() {
    local x y w h menu
    read -r x y w h < <(icon_box) || return 1
    pointer "move $((x + w / 2)) $((y + h / 2))" "sleep 300" && screen_shot before && pointer right &&
        wait_for "$E2E_DEADLINE" eval 'screen_shot after && box diff "$HOME/before.png" "$HOME/after.png" -compose difference -composite >/dev/null' &&
        menu=$(box diff "$HOME/before.png" "$HOME/after.png" -compose difference -composite) && read -r x y w h <<<"$menu" &&
        note "waybar's menu at $menu" && pointer "move $((x + w / 2)) $((y + 16))" "sleep 300" left
}
# copy_then_add NAME HOW KEYS... : the editor left (leave_editor) or closed (close_editor), text
# copied elsewhere, "Preferences" clicked in waybar's menu brings the editor back focused; NAME
# typed in the name field (reached by KEYS) and Add store that text.
copy_then_add() {
    local text="$1 text $RANDOM"
    require "$1: $2" "$2"
    require "$1: copied elsewhere, click Preferences in waybar's menu" \
        eval 'as_user wl-copy -- "$text" && click_preferences_in_waybar'
    check_within "$1: the editor comes back, focused" "$E2E_DEADLINE" editor_is focused
    as_user wtype "${@:3}" "$1" -k Tab -k space
    check_within "$1: Add stored the copied text" "$E2E_DEADLINE" eval '[[ $(store_py "b[-1]") == "$text" ]]'
}
phase_sway() { # as an unprivileged user: sway refuses root
    start_sway_waybar && start_pointer
    write_store "run me" 'echo "ran${QT_WAYLAND_DISABLE_WINDOWDECORATION+ with Qt settings of zaprun}" >>"$HOME/ran.log"'
    ((EUID == 0)) && chown -R "$WAYLAND_USER" "$XDG_CONFIG_HOME/zaprun"
    as_user_spawn zaprun-1 "$ZAPRUN_BIN" && ZAPRUN_PID=$E2E_LAST_PID ZAPRUN_LOG=zaprun-1
    require_within "the item registers with waybar" "$E2E_DEADLINE" sni_item_count_is 1
    check_within "waybar shows the zR icon" "$E2E_DEADLINE" icon_box
    # waybar draws its own menu on a left click; Activate all the same opens nothing.
    require "Activate the item, as a left click does" sni call "$(sni_item)" Activate
    check_holds "  no window appears" 500 eval '[[ -z $(editor_state) ]]'
    require "choose the script in the exported menu" sni click "$(sni_item)" "run me"
    check_within "  it ran" "$E2E_DEADLINE" ran_log_is ran
    require "choose Preferences" sni click "$(sni_item)" Preferences
    require_within "  the editor window appears, focused" "$E2E_DEADLINE" editor_is focused
    check "  drawn without an OpenGL or EGL driver" not grep -qE 'libEGL_|libGLX_|_dri\.so|libgbm|wayland-egl' "/proc/$ZAPRUN_PID/maps"
    copy_then_add first leave_editor # the name field has the focus
    copy_then_add second close_editor -M shift -k Tab -m shift # back from Add
    require "a second launch, the editor not focused" leave_editor
    as_user_spawn zaprun-2 "$ZAPRUN_BIN" && wait_exit "$E2E_LAST_PID"
    check_eq "  exits with status 0" 0 "$EXIT_STATUS"
    check_within "  and the editor comes back, focused" "$E2E_DEADLINE" editor_is focused
    as_user swaymsg focus_on_window_activation urgent >/dev/null
    require "sway set to refuse the focus, the editor not focused" leave_editor
    require "  choose Preferences" sni click "$(sni_item)" Preferences
    check_within "  the editor asks for attention: urgent" "$E2E_DEADLINE" editor_is urgent
    quit_through_menu waybar
}

run_phases "$@"
