// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/quitshortcut.h"

#include <QCoreApplication>
#include <QKeyEvent>

QuitShortcut::QuitShortcut()
{
    QCoreApplication::instance()->installEventFilter(this);
}

QuitShortcut::~QuitShortcut()
{
    QCoreApplication::instance()->removeEventFilter(this);
}

// Seen first on its way to the window; keys dropped during a run never come here.
bool QuitShortcut::eventFilter(QObject *, QEvent *event)
{
    if (event->type() != QEvent::KeyPress ||
        !static_cast<QKeyEvent *>(event)->matches(QKeySequence::Quit))
        return false;
    QCoreApplication::quit();
    return true;
}
