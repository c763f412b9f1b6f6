#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# shellcheck disable=SC2016,SC2317,SC2119 # conditions expand later, by name; helpers take optional arguments
# Makes the picture guide's three pictures (1.png, 2.png, 3.png beside this script) from the real
# zaprun on a private Xvfb with openbox and a tray host, one step of using ZapRun each:
#   1  the tray menu open, "Preferences" highlighted (the script was copied just before)
#   2  the editor window with a name typed and the new script's row in the table
#   3  the tray menu open, the new script's name highlighted
# Each is 480x320 (the guide's image view), with a caption band. Run it again whenever the
# interface changes:  ZAPRUN_BIN=build/zaprun resources/guide/make-guide-pictures.sh
set -u
GUIDE_DIR=$(cd "$(dirname "$0")" && pwd)
if [[ -z ${ZAPRUN_BIN:-} ]]; then
    ZAPRUN_BIN=$GUIDE_DIR/../../build/zaprun
fi
. "$GUIDE_DIR/../../tests/e2e/lib.sh"

PIC_W=480 PIC_H=320 BAND_H=40 # picture size; the caption band at its foot
SHOT_H=$((PIC_H - BAND_H))
SCREEN_W=800 SCREEN_H=600
FONT=$(fc-match -f '%{file}' 'DejaVu Sans:bold')
[[ -f $FONT ]] || fail "no DejaVu Sans Bold font (apt-get install fonts-dejavu-core)"

# caption SHOT NUMBER TEXT OUT : the shot above a light band with a numbered badge and TEXT.
caption() {
    local shot=$1 n=$2 text=$3 out=$4 cy=$((SHOT_H + BAND_H / 2))
    /usr/bin/convert -size "${PIC_W}x$PIC_H" xc:'#f3f4f6' \
        "$shot" -geometry +0+0 -composite \
        -fill '#c9ced6' -draw "rectangle 0,$SHOT_H $PIC_W,$SHOT_H" \
        -fill '#2b6cb0' -draw "circle 24,$cy 24,$((cy - 13))" \
        -font "$FONT" -pointsize 16 -fill white -gravity NorthWest \
        -annotate "+$((24 - 5))+$((cy - 11))" "$n" \
        -fill '#1f2933' -pointsize 15 -annotate "+48+$((cy - 10))" "$text" \
        -strip +dither -colors 128 "PNG8:$out" || return 1
}

# shot_region X Y OUT : the screen's area of the picture's shot size at X,Y.
shot_region() {
    /usr/bin/import -window root "$E2E_ROOT/screen.png" 2>/dev/null || return 1
    /usr/bin/convert "$E2E_ROOT/screen.png" -crop "${PIC_W}x$SHOT_H+$1+$2" +repage "$3"
}

# A calm, plain backdrop (a gradient would dither in few colours) instead of Xvfb's black root window. display sets it and leaves (with status 1
# even when it worked), so the root window's picture tells.
backdrop() {
    /usr/bin/convert -size "${SCREEN_W}x$SCREEN_H" xc:'#46698f' "$E2E_ROOT/backdrop.png" ||
        return 1
    timeout 20 /usr/bin/display -window root "$E2E_ROOT/backdrop.png" >/dev/null 2>&1
    /usr/bin/import -window root "$E2E_ROOT/root.png" 2>/dev/null &&
        [[ $(/usr/bin/convert "$E2E_ROOT/root.png" -format '%[pixel:p{10,10}]' info:) != 'srgb(0,0,0)' ]]
}

menu_highlight() { # N : the Nth item of the open menu highlighted by the keyboard
    local k=() n=$1
    while ((n-- > 0)); do k+=(Down); done
    keys "${k[@]}"
}

# The menu's own picture changes once the highlight is drawn; wait for it to settle.
# The pointer out of the pictures: the bottom-left corner of the screen.
park_pointer() { xdotool mousemove 0 $((SCREEN_H - 1)); }
picture_of() { /usr/bin/import -window "$1" "$2" 2>/dev/null; }
settled() { # WIN : two pictures of WIN in a row are the same
    picture_of "$1" "$E2E_ROOT/a.png" && picture_of "$1" "$E2E_ROOT/b.png" &&
        [[ $(/usr/bin/compare -metric AE "$E2E_ROOT/a.png" "$E2E_ROOT/b.png" null: 2>&1) == 0 ]]
}

start_xvfb "${SCREEN_W}x${SCREEN_H}x24"
backdrop || fail "could not draw the backdrop"
start_openbox
start_trayer
write_store "Backup photos" 'rsync -a "$HOME/Pictures/" /media/backup/Pictures/' \
    "Clean downloads" 'find "$HOME/Downloads" -mtime +30 -delete'
start_zaprun
require_within "the zR icon embeds" "$E2E_DEADLINE" tray_icon_count_is 1
park_pointer

# 1: a script copied, the tray menu open on Preferences.
printf '%s\n' '#!/bin/sh' 'notify-send "Hello from ZapRun"' >"$E2E_ROOT/script.sh"
require "a script is on the clipboard" clipboard_put "$E2E_ROOT/script.sh"
require "the tray menu opens" open_tray_menu
menu_highlight 1
require_within "Preferences is highlighted" "$E2E_DEADLINE" settled "$MENU_WIN"
shot_region $((SCREEN_W - PIC_W)) 0 "$E2E_ROOT/shot1.png" || fail "no shot 1"
keys Return # Preferences is highlighted already
require_within "Preferences is chosen" "$E2E_DEADLINE" window_gone "$MENU_WIN"

# 2: the editor, a name typed and added.
editor_window() {
    local w
    for w in $(app_windows); do
        [[ $(window_title "$w") == ZapRun ]] && ! window_is_popup "$w" &&
            ! tray_icons | grep -qx "$w" && { echo "$w"; return 0; }
    done
    return 1
}
require_within "the editor window appears" "$E2E_DEADLINE" editor_window
ED=$(editor_window)
# Smaller than its default, so that the window and its frame fit the picture with a margin.
xdotool windowsize --sync "$ED" 430 230
xdotool windowmove --sync "$ED" 150 150
require "the editor has the focus" activate "$ED"
xdotool type --delay 30 "Say hello"
keys Tab space # the Add button follows the name field
require_within "the script is added" "$E2E_DEADLINE" grep -q '"Say hello"' "$(store_file)"
park_pointer
require_within "the editor is drawn" "$E2E_DEADLINE" settled "$ED"
read -r ex ey ew eh < <(window_geometry "$ED")
# Centred on the window with its frame (the title bar above it).
read -r fl fr ft fb < <(xprop -id "$ED" _NET_FRAME_EXTENTS | tr -d ',' | awk '{print $3, $4, $5, $6}')
cx=$((ex - fl + (ew + fl + fr) / 2)) cy=$((ey - ft + (eh + ft + fb) / 2))
shot_region $((cx - PIC_W / 2)) $((cy - SHOT_H / 2)) "$E2E_ROOT/shot2.png" || fail "no shot 2"

# 3: the editor closed, the tray menu open on the new script, the last item.
keys alt+F4
editor_hidden() { ! editor_window; }
require_within "the editor is closed" "$E2E_DEADLINE" editor_hidden
require "the tray menu opens" open_tray_menu
menu_highlight 5 # Preferences, Quit ZapRun, then the three scripts
require_within "the new script is highlighted" "$E2E_DEADLINE" settled "$MENU_WIN"
shot_region $((SCREEN_W - PIC_W)) 0 "$E2E_ROOT/shot3.png" || fail "no shot 3"
keys Escape
wait_for "$E2E_DEADLINE" window_gone "$MENU_WIN"
require "the tray menu opens" open_tray_menu
require "choose Quit ZapRun" menu_choose_by_keys 2
wait_exit "$ZAPRUN_PID"

caption "$E2E_ROOT/shot1.png" 1 "Copy a script, then choose Preferences" "$GUIDE_DIR/1.png" || fail "picture 1"
caption "$E2E_ROOT/shot2.png" 2 "Type a name and press Add" "$GUIDE_DIR/2.png" || fail "picture 2"
caption "$E2E_ROOT/shot3.png" 3 "Choose it in the tray menu to run it" "$GUIDE_DIR/3.png" || fail "picture 3"
for n in 1 2 3; do
    check "$n.png is ${PIC_W}x$PIC_H and under 150 KB ($(du -k "$GUIDE_DIR/$n.png" | cut -f1) KB)" \
        test "$(identify -format '%wx%h' "$GUIDE_DIR/$n.png")" == "${PIC_W}x$PIC_H" -a \
        "$(stat -c %s "$GUIDE_DIR/$n.png")" -lt 153600
done
finish
