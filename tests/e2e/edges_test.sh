#!/bin/bash
# shellcheck disable=SC2016,SC2317,SC2119 # single-quoted scripts and conditions expand later, by name
# zaprun at its edges, where only the whole program shows what happens: a first run under a
# careless umask, script files and the single-instance socket kept from other users, a script
# reading the clipboard that zaprun owns, the store edited by another program, a script killed
# from outside, and a save that fails.
. "$(dirname "$0")/lib.sh"

SECRET='SECRET-7f3a' # in every script; must never reach zaprun's output
folder=$XDG_CONFIG_HOME/zaprun
mode_is() { [[ $(stat -c %a "$2") == "$1" ]]; }
ran() { [[ -e $HOME/ran-$1 ]]; }
script() { echo ": >\"\$HOME/ran-$1\"; $2 # $SECRET"; }
# reopen SOCKET : the single-instance request; only the connection must succeed.
reopen() { /usr/bin/python3 -c "$REOPEN" "$1"; }
REOPEN='import socket, sys
s = socket.socket(socket.AF_UNIX); s.connect(sys.argv[1])
try: s.sendall(b"reopen\n")
except OSError: pass'
editor_focused() { [[ $(xdotool getwindowfocus) == "$(shown_windows)" ]]; }

start_desktop
# Script files go to a folder anybody may enter: only their own mode protects them.
export TMPDIR=$E2E_ROOT/tmp
mkdir -p "$TMPDIR" && chmod 1777 "$TMPDIR"
rmdir "$XDG_CONFIG_HOME"
umask 000
start_zaprun
umask 022
require_within "the icon embeds" "$E2E_DEADLINE" tray_icon_count_is 1
probe=$(script probe 'stat -c %a "$0" >"$HOME/mode"; ls "$TMPDIR" >"$HOME/tmp-during"')
printf '%s' "$probe" >"$E2E_ROOT/probe"
require "the probe is on the clipboard" clipboard_put "$E2E_ROOT/probe"
require "Preferences" choose 1
require_within "  brings the editor, focused" "$E2E_DEADLINE" editor_focused
keys ctrl+a && type_text probe && keys Tab space
require_within "Add stores the probe" "$E2E_DEADLINE" store_names_are probe
check "the store is 0600 despite umask 000" mode_is 600 "$(store_file)"
check "  its folder 0700" mode_is 700 "$folder"
require "the probe runs" eval 'choose 3 && wait_for "$E2E_DEADLINE" ran probe'
check_eq "  from a script file of mode 600" 600 "$(cat "$HOME/mode")"
check "  in TMPDIR" grep -q '^zaprun-' "$HOME/tmp-during"
check_within "  which is gone after the run" "$E2E_DEADLINE" eval '[[ -z $(ls -A "$TMPDIR") ]]'

before=$(app_windows)
activate "$(shown_windows)" && keys Tab Tab space Tab space
require "the probe's preview opens" wait_new_window "$before" "$ZAPRUN_PID" popup
keys shift+Tab space
check_within "  and its copy button gives zaprun the clipboard" "$E2E_DEADLINE" clipboard_is "$probe"
keys Escape
# Another program edits the store in place.
reader=$(script reader 'xclip -selection clipboard -o >"$HOME/clip"')
hang=$(script hang 'echo $$ >"$HOME/hang.pid"; exec sleep 600')
write_store probe "$probe" reader "$reader" hang "$hang"
require "the menu follows an edit made in place" eval 'choose 4 && wait_for "$E2E_DEADLINE" ran reader'
check_within "  the script reads zaprun's clipboard, no deadlock" "$E2E_DEADLINE" \
    eval '[[ $(cat "$HOME/clip") == "$probe" ]]'
require "Preferences writes the store" choose 1
check_within "  keeping the scripts added outside" "$E2E_DEADLINE" store_names_are $'probe\nreader\nhang'
# ... and replaces it with a file of its own.
XDG_CONFIG_HOME=$E2E_ROOT/other write_store probe "$probe" reader "$reader" hang "$hang" moved "$(script moved :)"
mv "$E2E_ROOT/other/zaprun/defaults.json" "$(store_file)"
check "the menu follows a file renamed into place" eval 'choose 6 && wait_for "$E2E_DEADLINE" ran moved'

before=$(app_windows)
require "a script that never ends" eval 'choose 5 && wait_for "$E2E_DEADLINE" test -s "$HOME/hang.pid"'
check_holds "  zaprun waits for it, alive, no dialog" 1000 \
    eval 'alive "$ZAPRUN_PID" && ! new_window "$before" "$ZAPRUN_PID" dialog'
kill -KILL "$(cat "$HOME/hang.pid")"
require "killing it from outside brings the Error! dialog" wait_new_window "$before" "$ZAPRUN_PID" dialog
alert_copy "$NEW_WINDOW"
check_within "  which names the signal" 5 clipboard_is "The script was stopped by signal 9 (Killed)."
require "Ok closes it" alert_ok "$NEW_WINDOW"
check_eq "no script file is left" "" "$(ls -A "$TMPDIR")"

activate "$(shown_windows)" && keys alt+F4
require_within "the editor is closed" "$E2E_DEADLINE" shown_count_is 0
socket=$(compgen -G "$XDG_RUNTIME_DIR/zaprun-*.socket")
check "the single-instance socket is its user's only" mode_is 700 "$socket"
# The way through the file system opened on purpose: the peer check alone must refuse.
chmod 755 "$XDG_RUNTIME_DIR" "$HOME" "$E2E_ROOT" "$(dirname "$HOME")"
chmod 777 "$socket"
check "another user reaches it" setpriv --reuid=nobody --regid=nogroup --clear-groups \
    /usr/bin/python3 -c "$REOPEN" "$socket"
check_holds "  its re-open request is ignored" 1000 eval 'alive "$ZAPRUN_PID" && shown_count_is 0'
require "the same user's request" reopen "$socket"
check_within "  brings the editor forward" "$E2E_DEADLINE" shown_count_is 1
require "Quit" quit_zaprun

note "== a failed save: the store's folder cannot be made while a file has its name"
block() { rm -rf "$folder" && echo "not a folder" >"$folder"; }
block
start_zaprun
require_within "zaprun starts" "$E2E_DEADLINE" tray_icon_count_is 1
require "Preferences, which writes the store, brings a dialog" choose 1 dialog
alert_copy "$DIALOG_WIN"
check_within "  naming the file and the reason" 5 eval 'clipboard_read |
    grep -qF "could not write $folder/defaults.json: cannot create the folder $folder."'
require "Ok closes it" alert_ok "$DIALOG_WIN"
before=$(app_windows)
require "Preferences again" choose 1
check_holds "  a second failure in a row shows no second dialog" 1500 not new_window "$before" "$ZAPRUN_PID" dialog
rm -f "$folder"
require "Preferences once the folder can be made" choose 1
check_within "  saves" "$E2E_DEADLINE" test -e "$(store_file)"
block
check "the next failure is told again" choose 1 dialog
alert_ok "$DIALOG_WIN"
check "no script text reached zaprun's output" not grep -q "$SECRET" "$E2E_LOGS"/zaprun*
finish
