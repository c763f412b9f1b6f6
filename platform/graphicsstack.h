// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// ZapRun draws with the processor alone and needs no OpenGL or EGL stack. Qt's Wayland platform
// loads one, and with it the machine's graphics driver, only to learn whether it may draw window
// frames itself; where the compositor draws them, Qt is told to draw none and so loads nothing.
// Called once, after the QApplication is made and before any window is.
void loadNoGraphicsStack();
