#include "tray/menuitem.h"

#include <QAction>
#include <QMenu>

namespace {

// Control characters are shown by their visible pictures (U+2400 onwards).
QChar visible(QChar c)
{
    if (c.unicode() < 0x20)
        return QChar(0x2400 + c.unicode());
    if (c.unicode() == 0x7f)
        return QChar(0x2421);
    return c;
}

// Doubles `marker`, the character that the menu reads as a mnemonic marker.
QString escaped(const QString &title, QChar marker)
{
    QString text;
    text.reserve(title.size() + 1);
    for (QChar c : title) {
        if (c == marker)
            text += marker;
        text += visible(c);
    }
    return text;
}

} // namespace

QAction *addMenuItem(QMenu &menu, const QString &title, const QKeySequence &keyEquivalent,
                     QAction *before)
{
    auto *item = new QAction(escaped(title, QLatin1Char('&')), &menu);
    item->setData(title);
    item->setShortcut(keyEquivalent);
    menu.insertAction(before, item);
    return item;
}

QString menuItemTitle(const QAction *item)
{
    return item ? item->data().toString() : QString();
}

QString exportedMenuText(const QString &title)
{
    return escaped(title, QLatin1Char('_'));
}
