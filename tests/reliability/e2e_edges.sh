#!/bin/bash
# The real zaprun on Xvfb at its edges: first run under a careless umask, script files and the
# single-instance socket kept from other users, a script reading the clipboard zaprun owns, a
# script that never ends, 20 MB on the clipboard, and a SIGKILL in the middle of an add.
. "$(dirname "$0")/../e2e/lib.sh"
. "$(dirname "$0")/e2e_lib.sh"

start_desktop 1280x1024x24 # room for the preview below the editor
# Script files go to a temporary folder anybody may enter: only their own mode protects them.
export TMPDIR=$E2E_ROOT/tmp
mkdir -p "$TMPDIR" && chmod 1777 "$TMPDIR"
rmdir "$XDG_CONFIG_HOME"
umask 000
start_zaprun
umask 022
require_within "zaprun's icon embeds" "$E2E_DEADLINE" tray_icon_count_is 1

# ---------------------------------------------------------------- first run, files and modes
probe='ls -l /proc/$$/fd >"$HOME/fds"; stat -c %a "$0" >"$HOME/mode"; ls "$TMPDIR" >"$HOME/tmp-during" # '$SECRET
clipboard_put_text "$probe"
require "add the probe through the editor" add_via_editor probe
require_within "the probe is stored" "$E2E_DEADLINE" store_lists probe
check_eq "the store file is 0600 despite umask 000" 600 "$(file_mode "$(store_file)")"
check_eq "its folder is 0700" 700 "$(file_mode "$XDG_CONFIG_HOME/zaprun")"

require "menu opens" open_menu
require "choose the probe" menu_choose_by_keys 3
require_within "the probe ran" "$E2E_DEADLINE" file_exists "$HOME/mode"
check_eq "while it runs, its script file is 0600" 600 "$(cat "$HOME/mode")"
check "  and it is in TMPDIR" grep -q '^zaprun-' "$HOME/tmp-during"
check_within "after the run the script file is gone" "$E2E_DEADLINE" \
    test -z "$(ls -A "$TMPDIR")"

# ---------------------------------------------------------------- the clipboard zaprun owns
reader='xclip -selection clipboard -o >"$HOME/clip-out" # '$SECRET
clipboard_put_text "$reader"
require "add the reader" add_via_editor reader
require_within "the reader is stored" "$E2E_DEADLINE" store_lists reader
kill "$XCLIP_PID" 2>/dev/null
# Select the probe's row, open its preview and copy: zaprun now owns the clipboard.
activate "$EDITOR_WIN"
click "$EDITOR_WIN" 100 62
before=$(app_windows)
click "$EDITOR_WIN" 370 339
require "the preview opens" wait_new_window "$before" "$ZAPRUN_PID" popup
read -r _ _ pw ph < <(window_geometry "$NEW_WINDOW")
click "$NEW_WINDOW" $((pw - 40)) $((ph - 20))
check_within "the clipboard holds the probe's text, served by zaprun" "$E2E_DEADLINE" \
    eval '[[ $(clipboard_read) == "$probe" ]]'
keys Escape
require "menu opens" open_menu
require "choose the reader" menu_choose_by_keys 4
check_within "the script read zaprun's clipboard without a deadlock" "$E2E_DEADLINE" \
    eval '[[ $(cat "$HOME/clip-out" 2>/dev/null) == "$probe" ]]'
check "zaprun runs on" alive "$ZAPRUN_PID"

# ---------------------------------------------------------------- a script that never ends
hang='echo $$ >"$HOME/hang.pid"; exec sleep 600 # '$SECRET
clipboard_put_text "$hang"
require "add the hanging script" add_via_editor hang
require_within "it is stored" "$E2E_DEADLINE" store_lists hang
require "menu opens" open_menu
before=$(app_windows)
require "choose it" menu_choose_by_keys 5
require_within "it runs" "$E2E_DEADLINE" file_exists "$HOME/hang.pid"
check_holds "zaprun waits for it, alive and without a dialog" 1000 \
    eval 'alive "$ZAPRUN_PID" && ! new_window "$before" "$ZAPRUN_PID" dialog'
kill -KILL "$(cat "$HOME/hang.pid")"
require "killing it from outside brings the Error! dialog" wait_dialog "$before"
check_eq "  which names the signal" $'Error!\nThe script was stopped by signal 9 (Killed).' \
    "$(dialog_texts "$DIALOG_WIN")"
require "Ok closes it" dialog_press_ok "$DIALOG_WIN"
check_eq "no script file is left" "" "$(ls -A "$TMPDIR")"

# ---------------------------------------------------------------- 20 MB, then a kill mid-add
big=$E2E_ROOT/big.txt
{ printf 'echo big >>"$HOME/ran.log"; exit 0\n# %s\n' "$SECRET"; head -c 20000000 /dev/zero | tr '\0' 'z'; } >"$big"
clipboard_put "$big"
require "add 20 MB from the clipboard" add_via_editor big
big_sum=$(sha256sum <"$big" | cut -d' ' -f1)
require_within "it is stored byte for byte" 60 store_has big "$big_sum"
"$STORETOOL" summary "$(store_file)" >"$E2E_ROOT/before-kill"

require "the editor again" open_editor
activate "$EDITOR_WIN"
click "$EDITOR_WIN" 230 311
xdotool key --clearmodifiers ctrl+a BackSpace
xdotool type --delay 20 -- big2
_writing() { compgen -G "$XDG_CONFIG_HOME/zaprun/defaults.json.??????" >/dev/null; }
_store_changed() { ! "$STORETOOL" summary "$(store_file)" | cmp -s - "$E2E_ROOT/before-kill"; }
click "$EDITOR_WIN" 49 339
wait_for "$E2E_DEADLINE" eval '_writing || _store_changed'
kill -KILL "$ZAPRUN_PID"
wait_exit "$ZAPRUN_PID"
check_eq "zaprun was killed mid-add" 137 "$EXIT_STATUS"
after=$("$STORETOOL" summary "$(store_file)")
check "the store parses after the kill" test -n "$after"
old=$(tail -n +2 "$E2E_ROOT/before-kill")
n=$(($(wc -l <<<"$old")))
# Before the add, between its two writes (the name without its body), or after it.
allowed=("$(cat "$E2E_ROOT/before-kill")"
    "$((n + 1)) $n"$'\n'"$old"$'\n'"big2	-"
    "$((n + 1)) $((n + 1))"$'\n'"$old"$'\n'"big2	$big_sum")
match=0
for state in "${allowed[@]}"; do [[ $after == "$state" ]] && match=1; done
check "it holds every earlier script intact, the new one at most half written" test "$match" = 1 ||
    note "$(cut -c1-80 <<<"$after")"

# ---------------------------------------------------------------- single instance, other user
ZAPRUN_PID=
start_zaprun
require_within "zaprun starts again" "$E2E_DEADLINE" tray_icon_count_is 1
socket=$(compgen -G "$XDG_RUNTIME_DIR/zaprun-*.socket" | head -n 1)
require "it listens on a socket" test -S "$socket"
check_eq "the socket is for its user only" 700 "$(file_mode "$socket")"
# Open the way through the file system on purpose: the peer check alone must refuse.
chmod 755 "$XDG_RUNTIME_DIR" "$HOME" "$E2E_ROOT" "$(dirname "$HOME")"
chmod 777 "$socket"
before=$(app_windows)
check "another user can reach the socket" setpriv --reuid=nobody --regid=nogroup --clear-groups \
    "$STORETOOL" reopen "$socket"
check_holds "its re-open request is ignored" 1000 \
    eval 'alive "$ZAPRUN_PID" && ! new_window "$before" && tray_icon_count_is 1'
check "the same user's request" "$STORETOOL" reopen "$socket"
check_within "  brings the editor forward" "$E2E_DEADLINE" new_window "$before"

check "no script or clipboard text reached zaprun's stdout or stderr" no_secret_in_output
finish
