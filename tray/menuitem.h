// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QKeySequence>
#include <QString>

class QAction;
class QMenu;

// Menu items whose titles are plain text: Qt reads '&' as a mnemonic and a tab as the start of
// the shortcut column, so the shown text is escaped and the title itself travels with the item.
// A title too wide for the screen is shown cut short with an ellipsis.
// Appends the item, or inserts it before `before` when that is given.
QAction *addMenuItem(QMenu &menu, const QString &title, const QKeySequence &keyEquivalent = {},
                     QAction *before = nullptr);
QString menuItemTitle(const QAction *item);

// The label of a title in a menu sent over DBusMenu, which reads '_' as the mnemonic marker: the
// host shows exactly what addMenuItem's item shows.
QString exportedMenuText(const QString &title);
