// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The four keys of the store. Code names a key only through these constants.
inline const QString all_scripts_name = QStringLiteral("all scripts names");
inline const QString all_scripts = QStringLiteral("all scripts");
inline const QString sel_script = QStringLiteral("sel script index");
inline const QString show_main = QStringLiteral("show main");
