# shellcheck shell=bash
# Helpers the reliability tests add to tests/e2e/lib.sh (sourced after it).

: "${STORETOOL:?STORETOOL must name the storetool helper}"
SECRET='SECRET-7f3a' # in every script and clipboard text; must never reach zaprun's output

# open_menu : open_tray_menu, once more when the first click on the icon activated the
# application (which shows the editor window) instead of opening the menu.
open_menu() { open_tray_menu || open_tray_menu; }

# open_editor : Preferences in the tray menu; sets EDITOR_WIN to the visible editor window.
open_editor() {
    local w
    open_menu || return 1
    menu_choose_by_keys 1 || return 1
    # Found and kept in one look: a window search can come back empty while windows come and go.
    _editor_shown() {
        for w in $(app_windows); do window_is_popup "$w" || { EDITOR_WIN=$w; return 0; }; done
        return 1
    }
    wait_for "$E2E_DEADLINE" _editor_shown
}

# add_via_editor NAME : adds the clipboard's text under NAME as a user would: the editor comes
# forward (taking the clipboard), the name is typed and Add clicked. Positions are those of the
# editor's layout at its default size.
add_via_editor() {
    open_editor || return 1
    activate "$EDITOR_WIN"
    click "$EDITOR_WIN" 230 311
    xdotool key --clearmodifiers ctrl+a BackSpace
    xdotool type --delay 20 -- "$1"
    click "$EDITOR_WIN" 49 339
}

# store_names : the stored names, one a line.
store_names() { "$STORETOOL" summary "$(store_file)" | tail -n +2 | cut -f1; }
store_lists() { store_names | grep -qxF -- "$1"; }
# store_has NAME SHA256 : NAME is stored with the body of that digest.
store_has() { "$STORETOOL" summary "$(store_file)" | grep -qxF -- "$1	$2"; }

# no_secret_in_output : nothing of any script or clipboard text reached zaprun's stdout/stderr.
no_secret_in_output() { ! cat "$E2E_LOGS"/zaprun*.out "$E2E_LOGS"/zaprun*.err 2>/dev/null | grep -q "$SECRET"; }

file_mode() { stat -c %a "$1"; }
