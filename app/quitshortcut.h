// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

// While it lives, the quit shortcut (Ctrl+Q) quits from every window of the program, the tray's
// own menu and the help windows included: Qt offers a menu item's shortcut only where its menu
// hangs from a menu bar, and a window's shortcuts only in that window.
class QuitShortcut : public QObject {
public:
    QuitShortcut();
    ~QuitShortcut() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};
