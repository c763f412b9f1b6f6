#pragma once

#include <QKeySequence>
#include <QString>

class QAction;
class QMenu;

// Menu items whose titles are plain text: Qt reads '&' as a mnemonic and a tab as the start of
// the shortcut column, so the shown text is escaped and the title itself travels with the item.
QAction *addMenuItem(QMenu &menu, const QString &title, const QKeySequence &keyEquivalent = {});
QString menuItemTitle(const QAction *item);
