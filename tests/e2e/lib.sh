# SPDX-License-Identifier: GPL-3.0-or-later
# shellcheck shell=bash disable=SC2034,SC2015,SC2317,SC2155,SC2016 # globals for the tests; A && B || C meant; helpers called by name
# End-to-end harness: the real zaprun on a private display, output TAP. Functions that start a
# process run in the test's own shell, never in $(...), so that it can end them.
set -u -o pipefail
E2E_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
: "${E2E_DEADLINE:=20}" "${E2E_POLL:=0.05}" "${E2E_TEST_TIMEOUT:=150}" "${WAYLAND_USER:=nobody}"
: "${ZAPRUN_BIN:=$E2E_DIR/../../build/zaprun}"
E2E_ROOT=$(mktemp -d "${TMPDIR:-/tmp}/zaprun-e2e-$(basename "$0" .sh).XXXXXX") || exit 2
E2E_LOGS=$E2E_ROOT/logs E2E_COUNT=0 E2E_FAILED=0 E2E_FINISHED=0 E2E_LAST_ICON_CLICK_MS=0 E2E_HOMES=0
E2E_PIDS=() E2E_AS_USER=() XVFB_PID='' ZAPRUN_PID='' ZAPRUN_LOG='' ZAPRUN_LAST_LOG='' E2E_STARTS=0 E2E_HAVE_WM=0 PANEL_PID=''
mkdir -p "$E2E_LOGS"

note() { printf '%s\n' "$@" | sed 's/^/# /'; }
_result() { # STATUS DESC : one TAP line; returns STATUS
    echo "$([[ $1 == 0 ]] || echo "not ")ok $((E2E_COUNT += 1)) - $2"
    [[ $1 == 0 ]] || { E2E_FAILED=$((E2E_FAILED + 1)); return "$1"; }
}
fail() { _result 1 "$*"; exit 1; }
# check DESC CMD... : whether CMD succeeds; require ends the test on failure.
check() { local d=$1; shift; "$@"; _result $? "$d"; }
require() { check "$@" || exit 1; }
check_eq() { # DESC EXPECTED ACTUAL
    [[ $2 == "$3" ]]; _result $? "$1" || { note "expected $(printf %q "$2")" "actual   $(printf %q "$3")"; return 1; }
}
check_within() { local d=$1 s=$2; shift 2; wait_for "$s" "$@"; _result $? "$d (within $s s)"; }
require_within() { check_within "$@" || exit 1; }
check_holds() { local d=$1 ms=$2; shift 2; holds_for "$ms" "$@"; _result $? "$d (for $ms ms)"; }
finish() { E2E_FINISHED=1; exit "$((E2E_FAILED > 0))"; }
not() { ! "$@"; }
file_lines() { { wc -l <"$1"; } 2>/dev/null || echo 0; }
now_ms() { local t=${EPOCHREALTIME/./}; echo $((10#$t / 1000)); }
wait_for() { # SECONDS CMD... : polls CMD until it succeeds or the deadline passes
    local deadline=$(($(now_ms) + ${1%.*} * 1000)); shift
    until "$@" >/dev/null 2>&1; do (($(now_ms) < deadline)) && sleep "$E2E_POLL" || return 1; done
}
holds_for() { # MS CMD... : true now and for MS milliseconds
    local until=$(($(now_ms) + $1)); shift
    while "$@" >/dev/null 2>&1; do (($(now_ms) >= until)) && return 0 || sleep "$E2E_POLL"; done
    return 1
}

alive() { [[ -n ${1:-} && -r /proc/$1/stat && $(awk '{print $3}' "/proc/$1/stat" 2>/dev/null) != [ZX] ]]; }
gone() { ! alive "$1"; }
started() { local s && s=$(cat "/proc/$1/stat" 2>/dev/null) && read -ra s <<<"${s##*) }" && echo "${s[19]}"; } # PID : its start time
declare -A E2E_STARTED=()
spawn() { # NAME CMD... : CMD in the background, output to $E2E_LOGS/NAME.out/.err
    "${@:2}" >>"$E2E_LOGS/$1.out" 2>>"$E2E_LOGS/$1.err" </dev/null &
    E2E_LAST_PID=$! E2E_PIDS+=("$!") E2E_STARTED[$!]=$(started $!)
}
wait_exit() { # PID [SECONDS] : EXIT_STATUS is the child's status, or "running"
    EXIT_STATUS=running
    wait_for "${2:-$E2E_DEADLINE}" gone "$1" && EXIT_STATUS=0 || return 1
    wait "$1" 2>/dev/null || EXIT_STATUS=$?
}
stop_process() { # PID : TERM, KILL after 5 s, reaped; a PID that another program has since got is left alone
    [[ -z ${E2E_STARTED[$1]-} || $(started "$1") == "${E2E_STARTED[$1]}" ]] || return 0
    kill -TERM "$1" 2>/dev/null && ! wait_for 5 gone "$1" && kill -KILL "$1" 2>/dev/null
    wait "$1" 2>/dev/null || true
}
stop_all() { # newest first: zaprun before its tray host, the X server last
    local i
    for ((i = ${#E2E_PIDS[@]} - 1; i >= 0; i--)); do stop_process "${E2E_PIDS[i]}"; done
    E2E_PIDS=() E2E_STARTED=() XVFB_PID='' ZAPRUN_PID='' E2E_HAVE_WM=0
}
fresh_home() { # a new private HOME and XDG folders, exported
    local base=$E2E_ROOT/session$((E2E_HOMES += 1))
    export HOME=$base/home XDG_RUNTIME_DIR=$base/runtime
    export XDG_CONFIG_HOME=$HOME/.config XDG_CACHE_HOME=$HOME/.cache XDG_DATA_HOME=$HOME/.local/share XDG_STATE_HOME=$HOME/.local/state
    mkdir -p "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_DATA_HOME" "$XDG_STATE_HOME" "$XDG_RUNTIME_DIR"
    chmod 0700 "$XDG_RUNTIME_DIR" "$HOME"
}
# Nothing of the caller's desktop may leak in: no session bus, Wayland, theme or scaling.
unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY XAUTHORITY SESSION_MANAGER XDG_SESSION_TYPE \
    XDG_CURRENT_DESKTOP XDG_SESSION_DESKTOP DESKTOP_SESSION KDE_FULL_SESSION QT_QPA_PLATFORMTHEME \
    QT_STYLE_OVERRIDE QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS QT_ENABLE_HIGHDPI_SCALING \
    QT_FONT_DPI QT_IM_MODULE XMODIFIERS DISPLAY
export QT_QPA_PLATFORM=xcb LANG=C.UTF-8 LC_ALL=C.UTF-8 TZ=UTC
export LSAN_OPTIONS="suppressions=$E2E_DIR/lsan.supp:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
fresh_home

start_xvfb() { # [WxHxD [ARGS...]] : exports DISPLAY
    local f=$E2E_ROOT/displayfd.$RANDOM
    spawn xvfb Xvfb -displayfd 3 -screen 0 "${1:-800x600x24}" "${@:2}" -nolisten tcp -noreset 3>"$f" && XVFB_PID=$E2E_LAST_PID
    wait_for "$E2E_DEADLINE" eval '[[ -s $f ]] || gone "$XVFB_PID"' && alive "$XVFB_PID" || fail "Xvfb did not start"
    export DISPLAY=:$(tr -dc 0-9 <"$f")
}
start_openbox() { # a tray host started before the work area is published may never map
    spawn openbox openbox --sm-disable && E2E_HAVE_WM=1
    wait_for "$E2E_DEADLINE" eval '[[ $(xprop -root _NET_SUPPORTING_WM_CHECK _NET_WORKAREA | grep -c "^[^:]*([A-Z_]*)") == 2 ]]' ||
        fail "openbox did not come up"
}
start_trayer() { spawn trayer trayer --edge top --align right --widthtype request --height 32 && wait_for "$E2E_DEADLINE" tray_panel || fail "no trayer panel"; }
start_desktop() { start_xvfb "$@"; start_openbox; start_trayer; }

ran_log_is() { [[ "$(cat "$HOME/ran.log" 2>/dev/null)" == "$1" ]]; }
store_file() { echo "$XDG_CONFIG_HOME/zaprun/defaults.json"; }
write_store() { # NAME BODY... : a store holding exactly these scripts, in this order
    mkdir -p "$XDG_CONFIG_HOME/zaprun" && /usr/bin/python3 -c 'import json, sys; a = sys.argv[2:]
json.dump({"all scripts names": a[0::2], "all scripts": a[1::2]}, open(sys.argv[1], "w"), ensure_ascii=False)' \
        "$(store_file)" "$@"
    chmod 0600 "$(store_file)"
}
store_py() { # EXPR : EXPR in python over the store: n its names, b its bodies
    /usr/bin/python3 -c 'import json, sys; d = json.load(open(sys.argv[1], encoding="utf-8", errors="surrogateescape"))
n, b = d.get("all scripts names", []), d.get("all scripts", []); print(eval(sys.argv[2]), end="")' \
        "$(store_file)" "$1"
}
store_names_are() { [[ $(store_py '"\n".join(n)') == "$1" ]]; }
store_last_is() { # NAME FILE : the last script is NAME, with exactly FILE's bytes as its body
    [[ $(store_py 'len(n) == len(b) and n[-1]') == "$1" ]] && store_py 'b[-1]' | cmp -s - "$2"
}
start_zaprun() { # [ARGS...] : logs in zaprun-N.out/.err; the first one running is ZAPRUN_PID
    [[ -x $ZAPRUN_BIN ]] || fail "no zaprun binary at $ZAPRUN_BIN (set ZAPRUN_BIN)"
    ZAPRUN_LAST_LOG=zaprun-$((E2E_STARTS += 1)) && : >"$E2E_LOGS/$ZAPRUN_LAST_LOG.err"
    spawn "$ZAPRUN_LAST_LOG" "$ZAPRUN_BIN" "$@"
    alive "$ZAPRUN_PID" || ZAPRUN_PID=$E2E_LAST_PID ZAPRUN_LOG=$ZAPRUN_LAST_LOG
}
zaprun_stderr() { cat "$E2E_LOGS/${1:-$ZAPRUN_LOG}.err" 2>/dev/null; }
zaprun_stderr_lines() { file_lines "$E2E_LOGS/$ZAPRUN_LOG.err"; }

x_look() { # CMD... : again when a window went away during its walk (BadWindow)
    local out
    for _ in 1 2 3 4 5; do out=$("$@" 2>"$E2E_ROOT/x.err") && ! grep -q 'Bad.\?Window' "$E2E_ROOT/x.err" && break; done
    [[ -n $out ]] && echo "$out"
}
tray_panel() { # in decimal, as xdotool prints windows; trayer's unless TRAY_PANEL names another
    local id=$(x_look xwininfo -root -tree | awk -v p="${TRAY_PANEL:-\"panel\": (\"panel\" \"trayer\")}" 'index($0, p) {print $1; exit}') &&
        [[ -n $id ]] && printf '%d\n' "$id"; }
tray_icons() { # zaprun's mapped icons inside trayer's panel
    local id
    for id in $(x_look xwininfo -tree -id "$(tray_panel)" | awk '/\("zaprun" / {print $1}'); do window_viewable "$id" && printf '%d\n' "$id"; done
}
tray_icon_count_is() { [[ $(tray_icons | grep -c .) -eq $1 ]]; }
window_viewable() { xwininfo -id "$1" 2>/dev/null | grep -q 'IsViewable'; }
window_gone() { ! window_viewable "$1"; }
window_title() { xdotool getwindowname "$1" 2>/dev/null; }
window_geometry() { # WIN : "X Y WIDTH HEIGHT", absolute
    xwininfo -id "$1" 2>/dev/null | awk '/Absolute upper-left X:/ {x=$NF} /Absolute upper-left Y:/ {y=$NF}
        /^ *Width:/ {w=$NF} /^ *Height:/ {h=$NF} END {if (w == "") exit 1; print x, y, w, h}'
}
app_windows() { x_look xdotool search --all --onlyvisible --pid "${1:-$ZAPRUN_PID}" | sort -n; }
window_is_popup() { xwininfo -id "$1" 2>/dev/null | grep -q 'Override Redirect State: yes'; }
window_is_dialog() { xprop -id "$1" _NET_WM_WINDOW_TYPE 2>/dev/null | grep -q _DIALOG; }
window_is_any() { true; }
# new_window BEFORE [PID] [KIND] : a visible window of PID not in BEFORE (app_windows); KIND is
# any, popup or dialog.
new_window() {
    local w
    for w in $(app_windows "${2:-$ZAPRUN_PID}"); do
        grep -qx "$w" <<<"$1" || ! "window_is_${3:-any}" "$w" || { echo "$w"; return 0; }
    done
    return 1
}
wait_new_window() { NEW_WINDOW=; wait_for "$E2E_DEADLINE" new_window "$@" && NEW_WINDOW=$(new_window "$@"); }
opens() { local before=$(app_windows) && "${@:2}" && wait_new_window "$before" "$ZAPRUN_PID" "$1"; } # KIND CMD... : CMD opens one, NEW_WINDOW
shown_windows() { # neither popups nor the tray icon
    local w
    for w in $(app_windows); do window_is_popup "$w" || tray_icons | grep -qx "$w" || echo "$w"; done
}
shown_count_is() { [[ $(shown_windows | grep -c .) -eq $1 ]]; }
activate() { xdotool "$( ((E2E_HAVE_WM)) && echo windowactivate || echo windowfocus)" --sync "$1" >/dev/null 2>&1; }
keys() { xdotool key --delay 40 "$@"; }
click_tray_icon() { # clicks closer than ~400 ms would make a double-click
    local icon w h gap=$((E2E_LAST_ICON_CLICK_MS + 600 - $(now_ms)))
    icon=$(tray_icons | head -n 1 | grep .) || return 1
    ((gap > 0)) && sleep "0.$(printf %03d "$gap")"
    read -r _ _ w h < <(window_geometry "$icon")
    xdotool mousemove --window "$icon" $((w / 2)) $((h / 2)) click 1
    E2E_LAST_ICON_CLICK_MS=$(now_ms)
}
open_tray_menu() { opens popup click_tray_icon && MENU_WIN=$NEW_WINDOW; }
down_return() { local k=() && while ((${#k[@]} < $1)); do k+=(Down); done && keys "${k[@]}" Return; } # N : Down N times, Return
# choose N [dialog] : the tray menu's Nth item (1 Preferences, 2 Quit, 3 the first script), by
# keys that skip separators; with dialog, waits for a new dialog, DIALOG_WIN.
choose() {
    open_tray_menu && local before=$(app_windows) && down_return "$1" && wait_for "$E2E_DEADLINE" window_gone "$MENU_WIN" || return 1
    [[ -z ${2-} ]] || { wait_new_window "$before" "$ZAPRUN_PID" dialog && DIALOG_WIN=$NEW_WINDOW; }
}
alert_ok() { activate "$1" && keys Return && wait_for "$E2E_DEADLINE" window_gone "$1"; } # WIN
clipboard_has_file() { timeout 5 xclip -selection clipboard -o 2>/dev/null | cmp -s - "$1"; }
clipboard_put() { # FILE : its bytes on the clipboard, served by an xclip this test owns
    spawn xclip xclip -selection clipboard -quiet -i "$1" && XCLIP_PID=$E2E_LAST_PID
    wait_for "$E2E_DEADLINE" clipboard_has_file "$1"
}

start_bus() { # VAR [AS_USER...] : a private bus, its address exported as VAR
    local out=$E2E_ROOT/bus.$RANDOM
    "${@:2}" dbus-daemon --session --fork --print-address=3 --print-pid=4 3>"$out.addr" 4>"$out.pid" || fail "dbus-daemon did not start"
    E2E_PIDS+=("$(head -n 1 "$out.pid")")
    export "$1=$(head -n 1 "$out.addr")"
}
start_session_bus() { start_bus DBUS_SESSION_BUS_ADDRESS "${E2E_AS_USER[@]}"; }
sni() { "${E2E_AS_USER[@]}" /usr/bin/python3 "$E2E_DIR/sni.py" "$@"; }
sni_item() { sni items 2>/dev/null | head -n 1 | grep .; }
sni_item_count_is() { [[ $(sni items 2>/dev/null | grep -c .) -eq $1 ]]; }
start_sni_panel() { spawn "$@" && PANEL_PID=$E2E_LAST_PID && wait_for "$E2E_DEADLINE" sni host || fail "$1 registered no host"; }
start_lxqt_panel() { # its statusnotifier plugin alone: D-Bus icons only, no XEmbed
    mkdir -p "$XDG_CONFIG_HOME/lxqt" && printf '%b' '[General]\npanels=top\n[top]\nplugins=sn\nposition=Top\n' \
        '[sn]\ntype=statusnotifier\n' >"$XDG_CONFIG_HOME/lxqt/panel.conf"
    start_sni_panel lxqt-panel lxqt-panel
}
restart_gnome_shell() { # the shell ended (when running) and started again; up once its watcher is
    [[ -z $PANEL_PID ]] || stop_process "$PANEL_PID"
    spawn gnome-shell gnome-shell --x11 --sm-disable && PANEL_PID=$E2E_LAST_PID
    wait_for 90 sni host || fail "gnome-shell registered no StatusNotifierItem host"
}
# The zR icon's centre on the screen's top 40 rows, "X Y": where 10 pixels at least are its yellow (0xffd33d).
x_panel_icon_at() {
    /usr/bin/import -window root -crop 10000x40+0+0 +repage "$E2E_ROOT/p.png" 2>/dev/null &&
        /usr/bin/convert "$E2E_ROOT/p.png" -fuzz 20% -fill black +opaque '#ffd33d' -fill white -opaque '#ffd33d' \
            -format '%[fx:int(mean*w*h)] %@' info: 2>/dev/null | awk -F '[ x+]' '$1 >= 10 {print $4 + int($2 / 2), $5 + int($3 / 2); f = 1} END {exit !f}'
}
x_panel_shows_icon() { x_panel_icon_at >/dev/null; }
as_user() { "${E2E_AS_USER[@]}" "$@"; }
as_user_spawn() { spawn "$1" "${E2E_AS_USER[@]}" "${@:2}"; }
start_sway_waybar() { # headless, on a bus of their own, as $WAYLAND_USER when run as root (sway refuses root)
    ((EUID == 0)) && E2E_AS_USER=(setpriv --reuid="$WAYLAND_USER" --regid="$(id -g "$WAYLAND_USER")" --clear-groups --)
    fresh_home && chmod 0711 "$E2E_ROOT"
    mkdir -p "$XDG_CONFIG_HOME/sway" "$XDG_CONFIG_HOME/waybar"
    printf '%s\n' 'output HEADLESS-1 resolution 800x600' 'xwayland disable' \
        'focus_on_window_activation focus' 'bar swaybar_command waybar' >"$XDG_CONFIG_HOME/sway/config"
    echo '{"layer": "top", "position": "top", "height": 30, "modules-right": ["tray"]}' >"$XDG_CONFIG_HOME/waybar/config"
    ((EUID == 0)) && chown -R "$WAYLAND_USER" "${HOME%/home}"
    unset DISPLAY && export WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman QT_QPA_PLATFORM=wayland
    start_session_bus && as_user_spawn sway sway
    _sock() { find "$XDG_RUNTIME_DIR" -maxdepth 1 -name "$1" ! -name '*.lock' | grep .; }
    wait_for "$E2E_DEADLINE" _sock 'sway-ipc.*.sock' || fail "sway did not start"
    export WAYLAND_DISPLAY=$(basename "$(_sock 'wayland-[0-9]*')") SWAYSOCK=$(_sock 'sway-ipc.*.sock')
    wait_for "$E2E_DEADLINE" sni host || fail "waybar did not register a StatusNotifierItem host"
    as_user_spawn keyboard wtype -s 100000000 # one keyboard throughout: a new one loses the first keys
}

run_phases() { for phase in "$@"; do "phase_$phase"; done; finish; }

_e2e_exit() {
    local rc=$? f
    trap - EXIT INT TERM
    if ((E2E_FAILED || rc || !E2E_FINISHED)); then
        ((E2E_FINISHED || E2E_FAILED)) || _result 1 "test script ended early (status $rc)"; rc=1
        for f in "$E2E_LOGS"/*.err; do [[ -s $f ]] && note "---- $(basename "$f")" && tail -n 30 "$f" | sed 's/^/#   /'; done
        alive "$XVFB_PID" && /usr/bin/import -window root "$E2E_ROOT/failure.png" 2>/dev/null
    fi
    stop_all
    kill "$E2E_WATCHDOG" 2>/dev/null && wait "$E2E_WATCHDOG" 2>/dev/null
    if ((rc == 0)) && [[ -z ${E2E_KEEP:-} ]]; then rm -rf "$E2E_ROOT"; else note "kept: $E2E_ROOT"; fi
    echo "1..$E2E_COUNT" && exit "$rc"
}
trap _e2e_exit EXIT
trap '_result 1 interrupted; exit 130' INT
trap '_result 1 "ran longer than $E2E_TEST_TIMEOUT s"; exit 143' TERM
# A hung test ends itself before ctest would kill it and leave its X server behind.
mkfifo "$E2E_ROOT/watchdog"
(read -r -t "$E2E_TEST_TIMEOUT" _ <>"$E2E_ROOT/watchdog" || kill -TERM $$) >/dev/null 2>&1 &
E2E_WATCHDOG=$!
