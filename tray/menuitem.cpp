// SPDX-License-Identifier: GPL-3.0-or-later
#include "tray/menuitem.h"

#include <QAction>
#include <QApplication>
#include <QFontMetrics>
#include <QMenu>
#include <QScreen>

#include <algorithm>

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

// A label no wider than this fits the screen beside the menu's frame and columns, also where a
// host draws its copy in a larger font: a quarter of the screen is left for those.
int labelRoom()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry().width() * 3 / 4 : 0;
}

// No printable ASCII character, nor the en dash of the pages' titles, is drawn wider than this
// many ems in a menu's font: a label of those short enough fits unmeasured. Measuring loads the
// fonts, a tenth of the program's memory and a third of its start, which the fixed items, the
// pages and a library of plain names do not need.
constexpr qreal kWidestPlainCharacterInEms = 1.5;

bool fitsUnmeasured(const QString &text, int room)
{
    if (!std::all_of(text.begin(), text.end(),
                     [](QChar c) { return (c >= u' ' && c < u'\x7f') || c == u'\u2013'; }))
        return false;
    const QFont font = QApplication::font("QMenu");
    const QScreen *screen = QGuiApplication::primaryScreen();
    const qreal dotsPerInch = screen ? screen->logicalDotsPerInchY() : 96;
    const qreal em = font.pixelSize() > 0 ? font.pixelSize() : font.pointSizeF() * dotsPerInch / 72;
    return text.size() * kWidestPlainCharacterInEms * em <= room;
}

// The title as a label shows it: control characters by their visible pictures, and a title too
// wide for the screen cut short with an ellipsis.
QString labelOf(const QString &title)
{
    QString text(title.size(), Qt::Uninitialized);
    std::transform(title.begin(), title.end(), text.begin(), visible);
    const int room = labelRoom();
    if (room <= 0 || fitsUnmeasured(text, room))
        return text;
    const QFontMetrics metrics(QApplication::font("QMenu"));
    // Measuring costs more than building the item: a label that would fit even in the font's
    // widest character is not measured.
    if (text.size() * metrics.maxWidth() <= room || metrics.horizontalAdvance(text) <= room)
        return text;
    return metrics.elidedText(text, Qt::ElideRight, room);
}

// The label with `marker`, the character that the menu reads as a mnemonic marker, doubled.
QString escaped(const QString &title, QChar marker)
{
    const QString label = labelOf(title);
    QString text;
    text.reserve(label.size() + 1);
    for (QChar c : label) {
        if (c == marker)
            text += marker;
        text += c;
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
