#include "platform/alert.h"

#include <QLabel>
#include <QMessageBox>

namespace {

constexpr qsizetype kMaxShownChars = 4000;
constexpr qsizetype kMaxShownLines = 40;

// A dialog taller than the screen helps nobody; the start of a message says the most.
QString shortened(const QString &text)
{
    QString shown = text.left(kMaxShownChars);
    qsizetype newline = -1;
    for (qsizetype line = 0; line < kMaxShownLines; ++line) {
        newline = shown.indexOf(QLatin1Char('\n'), newline + 1);
        if (newline < 0)
            break;
    }
    if (newline >= 0)
        shown.truncate(newline);
    return shown.size() < text.size() ? shown + QStringLiteral("\n…") : shown;
}

} // namespace

void runAlert(const QString &messageText, const QString &informativeText)
{
    QMessageBox alert;
    alert.setIcon(QMessageBox::Warning);
    alert.setTextFormat(Qt::PlainText);
    alert.setText(messageText);
    alert.setInformativeText(shortened(informativeText));
    if (auto *label = alert.findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel")))
        label->setTextFormat(Qt::PlainText);
    alert.addButton(QStringLiteral("Ok"), QMessageBox::AcceptRole);
    alert.exec();
}
