# shellcheck shell=bash disable=SC2034 # globals (PIDs, DIALOG_WIN, ...) are for the tests
# End-to-end harness for ZapRun on a private Xvfb display. Source it from a test script:
#
#   . "$(dirname "$0")/lib.sh"
#   start_desktop            # Xvfb + openbox + trayer
#   start_zaprun             # ZAPRUN_PID; logs in $E2E_LOGS/zaprun-N.{out,err}
#   require_within "icon embedded" 20 tray_icon_present
#   ...
#   finish                   # last line: TAP plan; exit status 0 only when every check passed
#
# Rules the helpers rely on:
# - Functions that start a process (start_*, spawn, clipboard_put) must run in the test's own
#   shell, never inside $(...): the test must stay the parent so that it can reap and end them.
# - Every wait is a poll of a condition with a deadline ($E2E_DEADLINE seconds by default, generous
#   for sanitizer builds); the only fixed pause is the spacing between two clicks on the tray
#   icon, which Qt would otherwise merge into a double-click.
# - Output is TAP: "ok N - ..." / "not ok N - ...", diagnostics as "# ..." lines, and the plan
#   "1..N" as the final line.

set -u -o pipefail

E2E_TEST_NAME=$(basename "${0%.sh}")
E2E_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
E2E_REPO=$(cd "$E2E_DIR/../.." && pwd)
: "${E2E_DEADLINE:=20}"          # seconds; a deadline only, never slept
: "${E2E_POLL:=0.05}"            # seconds between two looks at a condition
: "${E2E_TEST_TIMEOUT:=150}"      # seconds for the whole test; keep it below ctest's TIMEOUT
: "${E2E_ICON_CLICK_GAP_MS:=600}" # two icon clicks closer than ~400 ms become a double-click
: "${ZAPRUN_WM_CLASS:=zaprun}"   # WM_CLASS instance of zaprun's windows
# E2E_TIMING=1 prints the time since the start before every result; E2E_KEEP=1 keeps the
# temporary folder (logs, screenshots) even when the test passed.

if [[ -z ${ZAPRUN_BIN:-} ]]; then
    ZAPRUN_BIN=$E2E_REPO/build/zaprun
fi

E2E_ROOT=$(mktemp -d "${TMPDIR:-/tmp}/zaprun-e2e-$E2E_TEST_NAME.XXXXXX") || exit 2
E2E_LOGS=$E2E_ROOT/logs
mkdir -p "$E2E_LOGS"

E2E_COUNT=0
E2E_START_MS=${EPOCHREALTIME/./}; E2E_START_MS=$((10#$E2E_START_MS / 1000))
E2E_FAILED=0
E2E_FINISHED=0
E2E_PIDS=()           # every process this test started, oldest first
declare -A E2E_PID_NAME=()
E2E_LAST_PID=
E2E_LAST_ICON_CLICK_MS=0
XVFB_PID='' OPENBOX_PID='' TRAYER_PID='' ZAPRUN_PID=''
E2E_HAVE_WM=0
E2E_WATCHDOG_PID=

# ---------------------------------------------------------------- reporting and assertions

note() { printf '%s\n' "$*" | sed 's/^/# /'; }

# Records one TAP result. Usage: _e2e_result STATUS DESCRIPTION
_e2e_result() {
    E2E_COUNT=$((E2E_COUNT + 1))
    [[ -n ${E2E_TIMING:-} ]] && printf '# t=%d ms\n' $(($(now_ms) - E2E_START_MS))
    if [[ $1 == 0 ]]; then
        printf 'ok %d - %s\n' "$E2E_COUNT" "$2"
    else
        E2E_FAILED=$((E2E_FAILED + 1))
        printf 'not ok %d - %s\n' "$E2E_COUNT" "$2"
    fi
}

# Ends the test at once as failed (the EXIT trap prints diagnostics and ends the processes).
fail() {
    _e2e_result 1 "$*"
    exit 1
}

# check DESC CMD... : records whether CMD succeeds; the test goes on either way.
check() {
    local desc=$1
    shift
    "$@"
    local rc=$?
    _e2e_result "$rc" "$desc"
    return "$rc"
}

# require DESC CMD... : as check, but a failure ends the test.
require() {
    check "$@" || exit 1
}

# check_eq DESC EXPECTED ACTUAL
check_eq() {
    if [[ $2 == "$3" ]]; then
        _e2e_result 0 "$1"
    else
        _e2e_result 1 "$1"
        note "  expected: $(printf '%q' "$2")"
        note "  actual:   $(printf '%q' "$3")"
        return 1
    fi
}
require_eq() { check_eq "$@" || exit 1; }

# check_within DESC SECONDS CMD... : CMD becomes true before the deadline.
check_within() {
    local desc=$1 secs=$2 start
    start=$(now_ms)
    shift 2
    if wait_for "$secs" "$@"; then
        _e2e_result 0 "$desc ($(($(now_ms) - start)) ms)"
    else
        _e2e_result 1 "$desc (not within ${secs} s)"
        return 1
    fi
}
require_within() { check_within "$@" || exit 1; }

# check_holds DESC MILLISECONDS CMD... : CMD is true now and stays true for that long.
check_holds() {
    local desc=$1 ms=$2
    shift 2
    if holds_for "$ms" "$@"; then
        _e2e_result 0 "$desc (held ${ms} ms)"
    else
        _e2e_result 1 "$desc (did not hold ${ms} ms)"
        return 1
    fi
}
require_holds() { check_holds "$@" || exit 1; }

# Small predicates for use with check/require/wait_for.
file_exists() { [[ -e $1 ]]; }
file_absent() { [[ ! -e $1 && ! -L $1 ]]; }
same_bytes() { cmp -s -- "$1" "$2"; }
file_has_text() { [[ -f $1 && "$(cat -- "$1")" == "$2" ]]; }
file_lines() { if [[ -f $1 ]]; then wc -l <"$1"; else echo 0; fi; }
file_line_count_is() { [[ $(file_lines "$1") -eq $2 ]]; }
not() { ! "$@"; }

# finish : ends the test; the EXIT trap prints the plan line and exits 0 only if all passed.
finish() {
    E2E_FINISHED=1
    exit "$((E2E_FAILED > 0 ? 1 : 0))"
}

# ---------------------------------------------------------------- time and waiting

now_ms() { local t=${EPOCHREALTIME/./}; echo $((10#$t / 1000)); }

# wait_for SECONDS CMD... : polls CMD until it succeeds (0) or the deadline passes (1).
wait_for() {
    local deadline=$(($(now_ms) + ${1%.*} * 1000))
    shift
    while true; do
        "$@" >/dev/null 2>&1 && return 0
        (($(now_ms) >= deadline)) && break
        sleep "$E2E_POLL"
    done
    "$@" >/dev/null 2>&1 # one last look after the deadline
}

# holds_for MILLISECONDS CMD... : CMD succeeds at every look for that long (0), else 1 at once.
holds_for() {
    local until=$(($(now_ms) + $1))
    shift
    while true; do
        "$@" >/dev/null 2>&1 || return 1
        (($(now_ms) >= until)) && return 0
        sleep "$E2E_POLL"
    done
}

# ---------------------------------------------------------------- processes

# alive PID : the process exists and is not a zombie.
alive() {
    local state
    [[ -n ${1:-} ]] && kill -0 "$1" 2>/dev/null || return 1
    state=$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null) || return 1
    [[ $state != Z && $state != X ]]
}
gone() { ! alive "$1"; }

# spawn NAME CMD... : starts CMD in the background, stdin /dev/null, stdout/stderr to
# $E2E_LOGS/NAME.out/.err (a NAME used again appends). Sets E2E_LAST_PID.
spawn() {
    local name=$1
    shift
    "$@" >>"$E2E_LOGS/$name.out" 2>>"$E2E_LOGS/$name.err" </dev/null &
    E2E_LAST_PID=$!
    E2E_PIDS+=("$E2E_LAST_PID")
    E2E_PID_NAME[$E2E_LAST_PID]=$name
}

# wait_exit PID [SECONDS] : waits (default: up to the deadline) for a process this test started
# to end; sets EXIT_STATUS to its exit status, or to "running". Never call it inside $(...):
# only the test's own shell can collect the status of its children.
wait_exit() {
    EXIT_STATUS=running
    wait_for "${2:-$E2E_DEADLINE}" gone "$1" || return 1
    EXIT_STATUS=0
    wait "$1" 2>/dev/null || EXIT_STATUS=$?
}

# stop_process PID : TERM, then KILL if it is still there after 5 s; reaps it.
stop_process() {
    local pid=$1
    [[ -n $pid ]] || return 0
    if alive "$pid"; then
        kill -TERM "$pid" 2>/dev/null
        if ! wait_for 5 gone "$pid"; then
            note "${E2E_PID_NAME[$pid]:-process} $pid ignored TERM; killing it"
            kill -KILL "$pid" 2>/dev/null
        fi
    fi
    wait "$pid" 2>/dev/null
    return 0
}

# stop_all : ends every process the test started, newest first (zaprun before the tray host,
# the tray host before the window manager, the X server last).
stop_all() {
    local i
    for ((i = ${#E2E_PIDS[@]} - 1; i >= 0; i--)); do
        stop_process "${E2E_PIDS[i]}"
    done
    E2E_PIDS=()
    XVFB_PID='' OPENBOX_PID='' TRAYER_PID='' ZAPRUN_PID=''
    E2E_HAVE_WM=0
}

# ---------------------------------------------------------------- private environment

# fresh_home : a new private HOME and XDG folders under the test's temporary root; exported.
# Called once when this file is sourced; call again for a phase that needs a clean slate.
E2E_HOME_SERIAL=0
fresh_home() {
    E2E_HOME_SERIAL=$((E2E_HOME_SERIAL + 1))
    local base=$E2E_ROOT/session$E2E_HOME_SERIAL
    export HOME=$base/home
    export XDG_CONFIG_HOME=$HOME/.config
    export XDG_CACHE_HOME=$HOME/.cache
    export XDG_DATA_HOME=$HOME/.local/share
    export XDG_STATE_HOME=$HOME/.local/state
    export XDG_RUNTIME_DIR=$base/runtime
    mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_DATA_HOME" "$XDG_STATE_HOME" \
        "$XDG_RUNTIME_DIR"
    chmod 0700 "$XDG_RUNTIME_DIR" "$HOME"
}

_e2e_private_env() {
    # Nothing of the caller's desktop session may leak in: no session bus (Qt would pick the
    # D-Bus tray), no Wayland, no desktop-specific Qt theme or scaling.
    unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY XAUTHORITY SESSION_MANAGER XDG_SESSION_TYPE \
        XDG_CURRENT_DESKTOP XDG_SESSION_DESKTOP DESKTOP_SESSION GNOME_DESKTOP_SESSION_ID \
        KDE_FULL_SESSION QT_QPA_PLATFORMTHEME QT_STYLE_OVERRIDE QT_SCALE_FACTOR \
        QT_SCREEN_SCALE_FACTORS QT_AUTO_SCREEN_SCALE_FACTOR QT_ENABLE_HIGHDPI_SCALING \
        QT_FONT_DPI GDK_SCALE GTK_MODULES QT_IM_MODULE XMODIFIERS DISPLAY
    export QT_QPA_PLATFORM=xcb
    export LANG=C.UTF-8 LC_ALL=C.UTF-8
    export TZ=UTC
    # Sanitizer builds: leaks inside system libraries are not zaprun's (see lsan.supp).
    export LSAN_OPTIONS="suppressions=$E2E_DIR/lsan.supp:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
    fresh_home
}

# ---------------------------------------------------------------- X server, WM, tray host

# start_xvfb [WxHxD] : a private X server on a free display; exports DISPLAY. Sets XVFB_PID.
start_xvfb() {
    local screen=${1:-800x600x24} dfile=$E2E_ROOT/displayfd.$RANDOM
    : >"$dfile"
    # -displayfd picks a free display and writes its number to fd 3 once it accepts clients.
    Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp -noreset \
        3>"$dfile" >>"$E2E_LOGS/xvfb.out" 2>>"$E2E_LOGS/xvfb.err" </dev/null &
    XVFB_PID=$!
    E2E_PIDS+=("$XVFB_PID")
    E2E_PID_NAME[$XVFB_PID]=Xvfb
    # The number is complete once its line ends; a server that died will never finish it.
    _displayfd_written() { [[ $(wc -l <"$1") -ge 1 ]] || ! alive "$2"; }
    wait_for "$E2E_DEADLINE" _displayfd_written "$dfile" "$XVFB_PID" ||
        fail "Xvfb did not report a display number"
    alive "$XVFB_PID" || fail "Xvfb exited: $(tail -n 3 "$E2E_LOGS/xvfb.err")"
    DISPLAY=:$(tr -dc 0-9 <"$dfile")
    export DISPLAY
    wait_for "$E2E_DEADLINE" display_answers || fail "display $DISPLAY does not answer"
    note "Xvfb on $DISPLAY (pid $XVFB_PID)"
}
display_answers() { xwininfo -root >/dev/null 2>&1; }

_root_has_prop() { xprop -root "$1" 2>/dev/null | grep -q '^[^:]*([A-Z_]*)'; }
_wm_ready() { _root_has_prop _NET_SUPPORTING_WM_CHECK && _root_has_prop _NET_WORKAREA; }

# start_openbox : window manager; returns once it announced itself and published the work area.
start_openbox() {
    spawn openbox openbox --sm-disable
    OPENBOX_PID=$E2E_LAST_PID
    # A tray host started between the two properties sometimes never maps its panel.
    wait_for "$E2E_DEADLINE" _wm_ready || fail "openbox did not come up"
    E2E_HAVE_WM=1
}

# start_trayer : XEmbed tray host in the top right corner; returns once its panel is mapped.
start_trayer() {
    spawn trayer trayer --edge top --align right --widthtype request --height 32
    TRAYER_PID=$E2E_LAST_PID
    wait_for "$E2E_DEADLINE" tray_panel || fail "trayer's panel did not appear"
}

# start_desktop [WxHxD] : Xvfb, openbox and trayer, in that order.
start_desktop() {
    start_xvfb "$@"
    start_openbox
    start_trayer
}

# ---------------------------------------------------------------- zaprun

store_file() { echo "$XDG_CONFIG_HOME/zaprun/defaults.json"; }

# json_string TEXT : TEXT as a JSON string literal.
json_string() {
    local s=$1 out='"' i c o
    for ((i = 0; i < ${#s}; i++)); do
        c=${s:i:1}
        case $c in
        '"') out+='\"' ;;
        '\') out+='\\' ;;
        $'\n') out+='\n' ;;
        $'\t') out+='\t' ;;
        $'\r') out+='\r' ;;
        *)
            printf -v o '%d' "'$c"
            if ((o >= 0 && o < 32)); then printf -v c '\\u%04x' "$o"; fi
            out+=$c
            ;;
        esac
    done
    printf '%s"' "$out"
}

# write_store NAME BODY [NAME BODY]... : a store holding exactly these scripts, in this order.
# With no arguments, an existing but empty library. Extra keys: set STORE_EXTRA to JSON members,
# e.g. STORE_EXTRA='"show main": false'.
write_store() {
    local names=() bodies=() joined_names joined_bodies
    while (($# >= 2)); do
        names+=("$(json_string "$1")")
        bodies+=("$(json_string "$2")")
        shift 2
    done
    joined_names=$(IFS=,; echo "${names[*]}")
    joined_bodies=$(IFS=,; echo "${bodies[*]}")
    mkdir -p "$XDG_CONFIG_HOME/zaprun"
    {
        printf '{\n    "all scripts names": [%s],\n    "all scripts": [%s]' "$joined_names" "$joined_bodies"
        [[ -n ${STORE_EXTRA:-} ]] && printf ',\n    %s' "$STORE_EXTRA"
        printf '\n}\n'
    } >"$(store_file)"
    chmod 0600 "$(store_file)"
}

# start_zaprun [ARGS...] : starts $ZAPRUN_BIN. Every start has its own logs, zaprun-N.out/.err
# for the Nth start; its pid is in E2E_LAST_PID and its log name in ZAPRUN_LAST_LOG. When no
# zaprun of this test is running, the new one also becomes "the" zaprun: ZAPRUN_PID and
# ZAPRUN_LOG, which the other helpers use.
E2E_ZAPRUN_STARTS=0
ZAPRUN_LOG='' ZAPRUN_LAST_LOG=''
start_zaprun() {
    [[ -x $ZAPRUN_BIN ]] || fail "no zaprun binary at $ZAPRUN_BIN (set ZAPRUN_BIN)"
    E2E_ZAPRUN_STARTS=$((E2E_ZAPRUN_STARTS + 1))
    ZAPRUN_LAST_LOG=zaprun-$E2E_ZAPRUN_STARTS
    : >"$E2E_LOGS/$ZAPRUN_LAST_LOG.err"
    spawn "$ZAPRUN_LAST_LOG" "$ZAPRUN_BIN" "$@"
    if [[ -z $ZAPRUN_PID ]] || ! alive "$ZAPRUN_PID"; then
        ZAPRUN_PID=$E2E_LAST_PID
        ZAPRUN_LOG=$ZAPRUN_LAST_LOG
    fi
    return 0
}
# zaprun_stderr [LOG] : what a zaprun wrote on stderr (default: the main one, ZAPRUN_LOG).
zaprun_stderr() { cat "$(zaprun_stderr_file "$@")" 2>/dev/null; }
zaprun_stderr_file() { echo "$E2E_LOGS/${1:-$ZAPRUN_LOG}.err"; }
zaprun_stderr_lines() { file_lines "$(zaprun_stderr_file "$@")"; }

# ---------------------------------------------------------------- windows

# Window ids are printed in decimal, as xdotool prints them.
_hex2dec() { printf '%d' "$1"; }

# x_look CMD... : CMD's output, looked again when CMD died of an X error: a window that goes
# away while xdotool or xwininfo walks the tree ends them with BadWindow and half an answer.
x_look() {
    local try out rc err=$E2E_ROOT/x-look.$BASHPID.err
    for try in 1 2 3 4 5; do
        out=$("$@" 2>"$err")
        rc=$?
        grep -q 'X Error\|Bad Window\|BadWindow' "$err" || break
    done
    rm -f "$err"
    [[ -n $out ]] && printf '%s\n' "$out"
    return "$rc"
}

# tray_panel : prints trayer's panel window (a child of openbox's frame, or of the root).
tray_panel() {
    local id
    id=$(x_look xwininfo -root -tree | awk '/"panel": \("panel" "trayer"\)/ {print $1; exit}')
    [[ -n $id ]] && _hex2dec "$id"
}

# tray_icons : prints every mapped zaprun icon embedded in trayer's panel (normally one).
tray_icons() {
    local panel id
    panel=$(tray_panel) || return 1
    x_look xwininfo -tree -id "$panel" |
        awk -v cls="(\"$ZAPRUN_WM_CLASS\" " 'index($0, cls) {print $1}' |
        while read -r id; do
            window_viewable "$id" && _hex2dec "$id" && echo
        done
}
tray_icon() { local i; i=$(tray_icons | head -n 1); [[ -n $i ]] && echo "$i"; }
tray_icon_count() { tray_icons | grep -c .; }
tray_icon_present() { [[ $(tray_icon_count) -ge 1 ]]; }
tray_icon_count_is() { [[ $(tray_icon_count) -eq $1 ]]; }

window_viewable() { xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable'; }
window_gone() { ! window_viewable "$1"; }
window_title() { xdotool getwindowname "$1" 2>/dev/null; }

# window_geometry WIN : prints "X Y WIDTH HEIGHT" (absolute position).
window_geometry() {
    xwininfo -id "$1" 2>/dev/null | awk '
        /Absolute upper-left X:/ {x=$NF} /Absolute upper-left Y:/ {y=$NF}
        /^ *Width:/ {w=$NF} /^ *Height:/ {h=$NF}
        END {if (w == "") exit 1; print x, y, w, h}'
}

# app_windows [PID] : the visible windows of a process (default zaprun), by _NET_WM_PID.
app_windows() {
    x_look xdotool search --all --onlyvisible --pid "${1:-$ZAPRUN_PID}" | sort -n
}

# window_is_popup WIN : an override-redirect window (menus, tooltips, popovers).
window_is_popup() { xwininfo -id "$1" 2>/dev/null | grep -q 'Override Redirect State: yes'; }
# window_is_dialog WIN : a window that declares itself a dialog (_NET_WM_WINDOW_TYPE_DIALOG).
window_is_dialog() { xprop -id "$1" _NET_WM_WINDOW_TYPE 2>/dev/null | grep -q _NET_WM_WINDOW_TYPE_DIALOG; }
window_is_any() { true; }

# new_window BEFORE [PID] [KIND] [TITLE] : prints a visible window of PID that is not in the
# list BEFORE (a newline-separated list from app_windows); KIND is any (default), popup or
# dialog; optionally with exactly that title.
new_window() {
    local before=$1 pid=${2:-$ZAPRUN_PID} kind=${3:-any} title=${4-} w
    for w in $(app_windows "$pid"); do
        grep -qx "$w" <<<"$before" && continue
        "window_is_$kind" "$w" || continue
        [[ -z $title || $(window_title "$w") == "$title" ]] || continue
        echo "$w"
        return 0
    done
    return 1
}

# wait_new_window BEFORE [PID] [KIND] [TITLE] : waits for new_window; sets NEW_WINDOW.
wait_new_window() {
    NEW_WINDOW=
    wait_for "$E2E_DEADLINE" new_window "$@" || return 1
    NEW_WINDOW=$(new_window "$@")
}

# activate WIN : gives WIN the keyboard focus (through the window manager when there is one).
activate() {
    if ((E2E_HAVE_WM)); then
        xdotool windowactivate --sync "$1" >/dev/null 2>&1 ||
            xdotool windowfocus --sync "$1" >/dev/null 2>&1
    else
        xdotool windowfocus --sync "$1" >/dev/null 2>&1
    fi
}

# click WIN X Y [BUTTON] : a click at X,Y relative to WIN.
click() { xdotool mousemove --window "$1" "$2" "$3" click "${4:-1}"; }

# keys KEY... : key strokes to whatever has the keyboard (focus or grab), e.g. keys Down Return.
keys() { xdotool key --delay 40 "$@"; }

# park_pointer : the pointer to the bottom-left corner, away from menus and panels.
park_pointer() { xdotool mousemove 0 "$(($(xwininfo -root | awk '/Height:/ {print $2}') - 1))"; }

# screenshot FILE [WIN] : PNG of a window (default: the whole screen). Never fails the test.
screenshot() {
    /usr/bin/import -window "${2:-root}" "$1" >/dev/null 2>&1 || note "screenshot $1 failed"
}

# ---------------------------------------------------------------- the tray menu

# click_tray_icon [BUTTON] : clicks the centre of the embedded icon (default left button),
# keeping clicks at least E2E_ICON_CLICK_GAP_MS apart so that Qt never sees a double-click.
click_tray_icon() {
    local icon w h gap
    icon=$(tray_icon) || { note "no tray icon to click"; return 1; }
    gap=$((E2E_LAST_ICON_CLICK_MS + E2E_ICON_CLICK_GAP_MS - $(now_ms)))
    ((gap > 0)) && sleep "$(printf '0.%03d' "$gap")"
    read -r _ _ w h < <(window_geometry "$icon")
    click "$icon" $((w / 2)) $((h / 2)) "${1:-1}"
    E2E_LAST_ICON_CLICK_MS=$(now_ms)
}

# open_tray_menu [BUTTON] : clicks the icon and waits for the menu, a new visible popup window
# of zaprun (Qt makes a new X window for every popup). Sets MENU_WIN.
open_tray_menu() {
    local before
    MENU_WIN=
    before=$(app_windows)
    click_tray_icon "${1:-1}" || return 1
    wait_new_window "$before" "$ZAPRUN_PID" popup || { note "no menu appeared"; return 1; }
    MENU_WIN=$NEW_WINDOW
}

# menu_choose_by_keys N : chooses the Nth item of the open menu (separators are skipped by the
# keyboard, so N counts items only) with Down x N, Return; waits for the menu to close.
menu_choose_by_keys() {
    local n=$1 k=()
    while ((n-- > 0)); do k+=(Down); done
    keys "${k[@]}" Return
    wait_for "$E2E_DEADLINE" window_gone "$MENU_WIN"
}

# menu_rows WIN : reads the menu's rows off its picture (the pointer must not be over it):
# one line per item or separator, top to bottom, "item Y" or "sep Y" (Y relative to WIN).
menu_rows() {
    local png=$E2E_ROOT/menu-rows.png w h
    read -r _ _ w h < <(window_geometry "$1") || return 1
    /usr/bin/import -window "$1" "$png" 2>/dev/null || return 1
    /usr/bin/convert "$png" -colorspace Gray -depth 8 gray:- | od -An -v -tu1 -w"$w" |
        awk -v w="$w" -v h="$h" '
        # The background is the commonest shade; text rows have a few dark pixels, a separator
        # row is dark almost from edge to edge. The frame (outer 3 pixels) is left out.
        { for (i = 1; i <= NF; i++) { px[NR - 1, i - 1] = $i; freq[$i]++ } }
        END {
            for (v in freq) if (freq[v] > best) { best = freq[v]; bg = v }
            kind_prev = ""; start = 0
            for (y = 3; y <= h - 3; y++) {
                n = 0
                if (y < h - 3) for (x = 3; x < w - 3; x++) { d = bg - px[y, x]; if (d > 25 || d < -25) n++ }
                kind = (n == 0) ? "" : (n > 0.8 * (w - 6) ? "sep" : "item")
                if (kind != kind_prev) {
                    if (kind_prev != "") printf "%s %d\n", kind_prev, int((start + y - 1) / 2)
                    start = y
                }
                kind_prev = kind
            }
        }'
}

# menu_shape WIN : the rows as one word list, e.g. "item item sep item item".
menu_shape() { menu_rows "$1" | awk '{printf "%s%s", sep, $1; sep = " "} END {print ""}'; }

# menu_click_item N : clicks the Nth item (separators not counted) of the open menu, found by
# menu_rows; waits for the menu to close.
menu_click_item() {
    local n=$1 y w
    y=$(menu_rows "$MENU_WIN" | awk -v n="$n" '$1 == "item" && ++i == n {print $2}')
    [[ -n $y ]] || { note "menu has no item $n"; return 1; }
    read -r _ _ w _ < <(window_geometry "$MENU_WIN")
    click "$MENU_WIN" $((w / 3)) "$y"
    wait_for "$E2E_DEADLINE" window_gone "$MENU_WIN"
}

# ---------------------------------------------------------------- the "Error!" dialog

# wait_dialog BEFORE [TITLE] : waits for a new dialog window of zaprun titled TITLE (default
# "ZapRun", the application's display name). Sets DIALOG_WIN.
wait_dialog() {
    DIALOG_WIN=
    wait_new_window "$1" "$ZAPRUN_PID" dialog "${2:-ZapRun}" || return 1
    DIALOG_WIN=$NEW_WINDOW
}

# _gray_rows PNG WIDTH : the picture as rows of 8-bit grey values, one text line per pixel row.
_gray_rows() { /usr/bin/convert "$1" -colorspace Gray -depth 8 gray:- | od -An -v -tu1 -w"$2"; }

# dialog_text_rows WIN : where the message box's text lines are, read off its picture: one
# "X Y" per line of text (a point inside it, relative to WIN), top to bottom. It looks only
# above the button row (the first row with a long unbroken run, a button's edge) and right of
# the icon (the first block of columns, up to a gap of 6 empty columns).
dialog_text_rows() {
    local png=$E2E_ROOT/dialog.png w h
    read -r _ _ w h < <(window_geometry "$1") || return 1
    /usr/bin/import -window "$1" "$png" 2>/dev/null || return 1
    _gray_rows "$png" "$w" | awk -v w="$w" -v h="$h" '
        { for (i = 1; i <= NF; i++) { px[NR - 1, i - 1] = $i; freq[$i]++ } }
        function ink(y, x) { d = bg - px[y, x]; return d > 40 || d < -40 }
        END {
            for (v in freq) if (freq[v] > best) { best = freq[v]; bg = v }
            bottom = h
            for (y = 0; y < h && bottom == h; y++) {
                run = 0
                for (x = 0; x < w; x++) { run = ink(y, x) ? run + 1 : 0; if (run >= 50) { bottom = y; break } }
            }
            for (x = 0; x < w; x++) { c[x] = 0; for (y = 0; y < bottom; y++) c[x] += ink(y, x) }
            for (x = 0; x < w && !c[x]; x++) ;
            for (gap = 0; x < w && gap < 6; x++) gap = c[x] ? 0 : gap + 1
            for (; x < w && !c[x]; x++) ;
            x0 = x
            if (x0 >= w) exit 1
            start = -1
            for (y = 0; y <= bottom; y++) {
                n = 0
                if (y < bottom) for (x = x0; x < w; x++) n += ink(y, x)
                if (n && start < 0) start = y
                if (!n && start >= 0) { printf "%d %d\n", x0 + 2, int((start + y - 1) / 2); start = -1 }
            }
        }'
}

# dialog_texts WIN : the text lines of a message box, top to bottom (e.g. "Error!" then the
# informative text). Each line is triple-clicked, which selects it into the PRIMARY selection;
# the texts are read from there: pixels give only the positions. Safe inside $(...): the
# helper xclip processes it starts are ended before it returns.
dialog_texts() {
    local x y text prev='' empty=$E2E_ROOT/empty pids=() pid
    : >"$empty"
    dialog_text_rows "$1" >"$E2E_ROOT/dialog-rows" || return 1
    while read -r x y; do
        # An empty PRIMARY served by our own xclip, which exits when Qt takes the selection:
        # any text read afterwards is the new selection, never an earlier one.
        xclip -selection primary -quiet -i "$empty" >/dev/null 2>&1 &
        pids+=($!)
        wait_for 5 _primary_is_empty
        xdotool mousemove --window "$1" "$x" "$y" click --repeat 3 --delay 60 1
        wait_for "$E2E_DEADLINE" _primary_nonempty
        text=$(timeout 5 xclip -selection primary -o 2>/dev/null)
        [[ $text == "$prev" ]] || printf '%s\n' "$text"
        prev=$text
    done <"$E2E_ROOT/dialog-rows"
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
    return 0
}
_primary_nonempty() { [[ -n $(timeout 5 xclip -selection primary -o 2>/dev/null) ]]; }
_primary_is_empty() { timeout 5 xclip -selection primary -o >/dev/null 2>&1 && ! _primary_nonempty; }

# dialog_press_ok WIN : presses the default button ("Ok") with Return; waits for the window to go.
dialog_press_ok() {
    activate "$1" || return 1
    keys Return
    wait_for "$E2E_DEADLINE" window_gone "$1"
}

# ---------------------------------------------------------------- clipboard

# clipboard_read : the clipboard's text (a stuck owner cannot hang the test).
clipboard_read() { timeout 5 xclip -selection clipboard -o 2>/dev/null; }

# clipboard_put FILE : puts FILE's bytes on the clipboard with an xclip that the test owns
# (-quiet keeps it in the foreground); waits until the clipboard reads back that text.
clipboard_put() {
    spawn xclip xclip -selection clipboard -quiet -i "$1"
    XCLIP_PID=$E2E_LAST_PID
    _clipboard_is_file() { [[ "$(clipboard_read)" == "$(cat "$1")" ]]; }
    wait_for "$E2E_DEADLINE" _clipboard_is_file "$1"
}

# clipboard_put_text TEXT : as clipboard_put, for a string.
clipboard_put_text() {
    local f=$E2E_ROOT/clip.$RANDOM
    printf '%s' "$1" >"$f"
    clipboard_put "$f"
}

# ---------------------------------------------------------------- D-Bus tray hosts (StatusNotifierItem)
# Each test that uses them starts a session bus of its own; sni.py plays a host's part (see its
# header). A host that does not come up fails the test: it never passes without its host.

SESSION_BUS_PID='' PANEL_PID=''
E2E_AS_USER=() # the command prefix that runs a command as the Wayland test's user

# start_session_bus : a private session bus, exported as DBUS_SESSION_BUS_ADDRESS; ended with the rest.
start_session_bus() {
    local out=$E2E_ROOT/bus.$RANDOM
    "${E2E_AS_USER[@]}" dbus-daemon --session --fork --print-address=3 --print-pid=4 \
        3>"$out.addr" 4>"$out.pid" ||
        fail "dbus-daemon did not start"
    SESSION_BUS_PID=$(head -n 1 "$out.pid")
    E2E_PIDS+=("$SESSION_BUS_PID")
    E2E_PID_NAME[$SESSION_BUS_PID]=dbus-daemon
    DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$out.addr")
    export DBUS_SESSION_BUS_ADDRESS
}

sni() { "${E2E_AS_USER[@]}" /usr/bin/python3 "$E2E_DIR/sni.py" "$@"; }
sni_item() { sni items 2>/dev/null | head -n 1 | grep .; }
sni_item_count_is() { [[ $(sni items 2>/dev/null | grep -c .) -eq $1 ]]; }
sni_labels() { sni labels "$(sni_item)"; }

# start_sni_panel NAME CMD... : starts a tray host and waits until it has registered as a host.
start_sni_panel() {
    local name=$1
    shift
    spawn "$name" "$@"
    PANEL_PID=$E2E_LAST_PID
    wait_for "$E2E_DEADLINE" sni host || fail "$name did not register a StatusNotifierItem host"
}

# start_lxqt_panel : lxqt-panel with its statusnotifier plugin alone: D-Bus icons only, no XEmbed.
start_lxqt_panel() {
    mkdir -p "$XDG_CONFIG_HOME/lxqt"
    printf '[General]\npanels=top\n\n[top]\nplugins=sn\nposition=Top\n\n[sn]\ntype=statusnotifier\n' \
        >"$XDG_CONFIG_HOME/lxqt/panel.conf"
    start_sni_panel lxqt-panel lxqt-panel
}

# start_xfce_panel : xfce4-panel 4.18 with its systray plugin (both tray protocols); xfconfd is
# started by the session bus and reads the panel's layout from here.
start_xfce_panel() {
    local dir=$XDG_CONFIG_HOME/xfce4/xfconf/xfce-perchannel-xml
    mkdir -p "$dir"
    cat >"$dir/xfce4-panel.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=6;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="size" type="uint" value="32"/>
      <property name="plugin-ids" type="array"><value type="int" value="1"/></property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="systray"/>
  </property>
</channel>
XML
    start_sni_panel xfce4-panel xfce4-panel --disable-wm-check
}

# shows_zr_icon PNG : the picture holds the icon's yellow letters (ZapRun's "zR", 0xffd33d).
shows_zr_icon() {
    [[ $(/usr/bin/convert "$1" -fuzz 20% -fill black +opaque '#ffd33d' -fill white -opaque '#ffd33d' \
        -format '%[fx:mean*w*h]' info: 2>/dev/null | cut -d. -f1) -ge 10 ]]
}
# x_panel_shows_icon : the top 40 rows of the X screen show the icon.
x_panel_shows_icon() {
    local png=$E2E_ROOT/panel.png
    /usr/bin/import -display "$DISPLAY" -window root -crop 10000x40+0+0 "$png" 2>/dev/null &&
        shows_zr_icon "$png"
}

# as_user CMD... / as_user_spawn NAME CMD... : run (or spawn) CMD as the Wayland test's user.
as_user() { "${E2E_AS_USER[@]}" "$@"; }
as_user_spawn() {
    local name=$1
    shift
    spawn "$name" "${E2E_AS_USER[@]}" "$@"
}

# start_sway_waybar : a headless sway (pixman renderer) with waybar as its bar, on a session bus
# of their own, as $WAYLAND_USER when the test runs as root: sway refuses to run as root. The
# session's folders go to that user. Exports WAYLAND_DISPLAY and SWAYSOCK.
: "${WAYLAND_USER:=nobody}"
start_sway_waybar() {
    ((EUID == 0)) && E2E_AS_USER=(setpriv --reuid="$WAYLAND_USER" --regid="$(id -g "$WAYLAND_USER")"
        --clear-groups --)
    fresh_home
    chmod 0711 "$E2E_ROOT"
    mkdir -p "$XDG_CONFIG_HOME/sway" "$XDG_CONFIG_HOME/waybar"
    printf '%s\n' 'output HEADLESS-1 resolution 800x600' 'xwayland disable' \
        'focus_on_window_activation focus' \
        'bar swaybar_command waybar' >"$XDG_CONFIG_HOME/sway/config"
    printf '{"layer": "top", "position": "top", "height": 30, "modules-right": ["tray"]}\n' \
        >"$XDG_CONFIG_HOME/waybar/config"
    ((EUID == 0)) && chown -R "$WAYLAND_USER" "${HOME%/home}"
    unset DISPLAY
    export WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman QT_QPA_PLATFORM=wayland
    start_session_bus
    as_user_spawn sway sway
    _wayland_socket() { find "$XDG_RUNTIME_DIR" -maxdepth 1 -name 'wayland-[0-9]*' ! -name '*.lock' | grep .; }
    _sway_socket() { find "$XDG_RUNTIME_DIR" -maxdepth 1 -name 'sway-ipc.*.sock' | grep .; }
    wait_for "$E2E_DEADLINE" _sway_socket || fail "sway did not start: $(tail -n 3 "$E2E_LOGS/sway.err")"
    WAYLAND_DISPLAY=$(basename "$(_wayland_socket)") SWAYSOCK=$(_sway_socket)
    export WAYLAND_DISPLAY SWAYSOCK
    wait_for "$E2E_DEADLINE" sni host || fail "waybar did not register a StatusNotifierItem host"
    # A seat with a keyboard from the start, as on a desktop: Qt counts a window as active only
    # while it has the keyboard, and a keyboard that comes with each wtype loses the first keys.
    as_user_spawn keyboard wtype -s 100000000
}

# wayland_panel_shows_icon : the top 40 rows of sway's output show the icon.
wayland_panel_shows_icon() {
    as_user grim -g "0,0 800x40" "$HOME/panel.png" 2>/dev/null && shows_zr_icon "$HOME/panel.png"
}

# ---------------------------------------------------------------- diagnostics and exit

diagnostics() {
    local f pid
    note "---- diagnostics (temporary files kept in $E2E_ROOT)"
    for pid in "${E2E_PIDS[@]}"; do
        note "process ${E2E_PID_NAME[$pid]} $pid: $(alive "$pid" && echo running || echo ended)"
    done
    for f in "$E2E_LOGS"/zaprun*.err "$E2E_LOGS"/zaprun*.out "$E2E_LOGS"/trayer.err \
        "$E2E_LOGS"/*panel*.err "$E2E_LOGS"/sway*.err \
        "$E2E_LOGS"/openbox.err "$E2E_LOGS"/xvfb.err; do
        [[ -s $f ]] || continue
        note "---- $(basename "$f") (last 40 lines)"
        tail -n 40 "$f" | sed 's/^/#   /'
    done
    if [[ -n ${DISPLAY:-} && -n $XVFB_PID ]] && alive "$XVFB_PID"; then
        note "---- window tree of $DISPLAY"
        xwininfo -root -tree 2>&1 | grep -v '(has no name): ()  1x1+' | head -n 80 | sed 's/^/#   /'
        screenshot "$E2E_ROOT/failure.png"
        note "screenshot: $E2E_ROOT/failure.png"
    fi
}

_e2e_exit() {
    local rc=$?
    trap - EXIT INT TERM
    if ((E2E_FAILED > 0 || rc != 0)) || ((!E2E_FINISHED)); then
        ((E2E_FINISHED || E2E_FAILED)) || _e2e_result 1 "test script ended early (status $rc)"
        diagnostics
        rc=1
    fi
    stop_all
    kill "$E2E_WATCHDOG_PID" 2>/dev/null && wait "$E2E_WATCHDOG_PID" 2>/dev/null
    if ((rc == 0)) && [[ -z ${E2E_KEEP:-} ]]; then
        rm -rf "$E2E_ROOT"
    else
        note "kept: $E2E_ROOT"
    fi
    note "$E2E_TEST_NAME: $((E2E_COUNT - E2E_FAILED)) of $E2E_COUNT checks passed"
    printf '1..%d\n' "$E2E_COUNT"
    exit "$rc"
}
trap _e2e_exit EXIT
trap '_e2e_result 1 "interrupted"; exit 130' INT
trap '_e2e_result 1 "terminated (the test ran for more than ${E2E_TEST_TIMEOUT} s?)"; exit 143' TERM

# A test that hangs ends itself, cleanly, before ctest's TIMEOUT would kill it outright and
# leave its X server behind. The watchdog is one process (read -t is built in), ended on exit.
_e2e_watchdog() {
    mkfifo "$E2E_ROOT/watchdog"
    (read -r -t "$E2E_TEST_TIMEOUT" _ <>"$E2E_ROOT/watchdog" || kill -TERM $$) >/dev/null 2>&1 &
    E2E_WATCHDOG_PID=$!
}

_e2e_check_tools() {
    local tool missing=()
    for tool in Xvfb openbox trayer xdotool xwininfo xprop xclip /usr/bin/import /usr/bin/convert \
        od awk timeout cmp; do
        command -v "$tool" >/dev/null || missing+=("$tool")
    done
    ((${#missing[@]} == 0)) ||
        fail "missing tools: ${missing[*]} (apt-get install xvfb openbox trayer xdotool x11-utils xclip imagemagick)"
}

_e2e_private_env
_e2e_watchdog
_e2e_check_tools
note "zaprun: $ZAPRUN_BIN"
