#!/bin/bash
# shellcheck disable=SC2016,SC2317,SC2119 # single-quoted scripts and conditions expand later, by name
# The tray agent as a user drives it: no display, the usual session, a tray host that comes late.
. "$(dirname "$0")/lib.sh"

ran_log_is() { [[ "$(cat "$HOME/ran.log" 2>/dev/null)" == "$1" ]]; }
runs() { choose "$1" && wait_for "$E2E_DEADLINE" ran_log_is "$2"; }
one_icon_and_alive() { tray_icon_count_is 1 && alive "$ZAPRUN_PID"; }

note "== a display that does not exist"
spawn nodisplay env DISPLAY=:$((6000 + RANDOM % 3000)) "$ZAPRUN_BIN"
wait_exit "$E2E_LAST_PID"
check_eq "exit status 1" 1 "$EXIT_STATUS"
check "one line on stderr, about the display" grep -qi display "$E2E_LOGS/nodisplay.err"
check_eq "  and only one" 1 "$(file_lines "$E2E_LOGS/nodisplay.err")"
check "no store was written" not test -e "$(store_file)"

note "== a session with a tray host"
start_desktop
write_store alpha 'echo alpha >>"$HOME/ran.log"' "beta two" 'echo beta >>"$HOME/ran.log"' \
    "gamma ✓" 'echo gamma >>"$HOME/ran.log"; echo "$PWD|$E2E_TOKEN|$(readlink /proc/self/fd/0)" >"$HOME/env"' \
    fails 'echo fails >>"$HOME/ran.log"; echo boom >&2; exit 3'
cp "$(store_file)" "$E2E_ROOT/store-before"
export E2E_TOKEN=token-$RANDOM
start_zaprun
require_within "one icon embeds in the tray" "$E2E_DEADLINE" tray_icon_count_is 1
require "item 3 runs the first script" runs 3 alpha
require "item 4 the second" runs 4 $'alpha\nbeta'
require "item 5 the third" runs 5 $'alpha\nbeta\ngamma'
check_eq "  in HOME, with zaprun's environment and stdin /dev/null" "$HOME|$E2E_TOKEN|/dev/null" \
    "$(cat "$HOME/env")"
require "the failing script brings a dialog" choose 6 dialog
check "  a modal one" eval 'xprop -id "$DIALOG_WIN" _NET_WM_STATE | grep -q _MODAL'
alert_copy "$DIALOG_WIN"
check_within "  showing the script's stderr" 5 clipboard_is boom
require "Return closes it" alert_ok "$DIALOG_WIN"
check "the store is byte for byte as it was" cmp -s "$E2E_ROOT/store-before" "$(store_file)"

# The same display spelled with its screen is the same session.
DISPLAY=$DISPLAY.0 start_zaprun
wait_exit "$E2E_LAST_PID"
check_eq "a second zaprun exits with status 0" 0 "$EXIT_STATUS"
check_eq "  saying nothing" "" "$(zaprun_stderr "$ZAPRUN_LAST_LOG")"
check_within "  and the first brings its editor forward" "$E2E_DEADLINE" shown_count_is 1
check_holds "  keeping its one icon" 500 one_icon_and_alive
require "Quit ZapRun" quit_zaprun
check_eq "  ends zaprun with status 0" 0 "$EXIT_STATUS"
check_eq "  with nothing on stderr" "" "$(zaprun_stderr)"
check_within "  and its icon leaves the tray" "$E2E_DEADLINE" tray_icon_count_is 0
check_eq "no script ran twice or by accident" $'alpha\nbeta\ngamma\nfails' "$(cat "$HOME/ran.log")"
stop_all

note "== no tray host at start; one turns up later"
fresh_home
start_xvfb
start_openbox
write_store late 'echo late >>"$HOME/ran.log"'
start_zaprun
require_within "one line on stderr" "$E2E_DEADLINE" file_line_count_is "$(zaprun_stderr_file)" 1
check_holds "zaprun keeps running, with nothing more on stderr" 500 \
    eval 'alive "$ZAPRUN_PID" && [[ $(zaprun_stderr_lines) == 1 ]]'
start_trayer
check_within "the icon embeds once the host is there" "$E2E_DEADLINE" tray_icon_count_is 1
check_holds "  exactly once" 500 tray_icon_count_is 1
require "its menu runs the script" choose 3
check_within "  which ran" "$E2E_DEADLINE" ran_log_is late
require "Quit ZapRun" quit_zaprun
check_eq "  ends zaprun with status 0" 0 "$EXIT_STATUS"
finish
