// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QIcon>

// The "zR" square of the tray and the application icon, drawn for every common size.
QIcon zapRunIcon();
// The same square in its colours reversed: a script is running.
QIcon zapRunRunningIcon();
