// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QWidget;

// On Wayland a window takes the focus only when the compositor agrees: asks it through an XDG
// activation token, and where the compositor offers no such protocol, the window demands
// attention instead. Elsewhere this does nothing: activateWindow() is the whole request there.
void requestFocusFromCompositor(QWidget *window);
