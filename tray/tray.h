// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the rest of ZapRun may use of the tray room:
// - StatusItem: the icon in whatever tray the desktop has, its tooltip, its menu and clicks;
// - ScriptMenu: the menu of scripts, telling which fixed item or which script was chosen;
// - zapRunIcon(), zapRunRunningIcon(): the "zR" pictures.
// The StatusNotifierItem and DBusMenu objects and the labels' text are the room's own.
#include "tray/scriptmenu.h"
#include "tray/statusitem.h"
#include "tray/trayicon.h"
