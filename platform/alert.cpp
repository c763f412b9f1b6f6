// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/alert.h"

#include <QCursor>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

namespace {

constexpr int kNarrowestInChars = 30;
constexpr int kWidestInChars = 80;
constexpr int kTallestInLines = 20;
// Room left for the window manager's frame around the dialog.
constexpr int kFrameAllowance = 64;

QLabel *iconLabel(QWidget *parent)
{
    auto *label = new QLabel(parent);
    const int size = parent->style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, parent);
    label->setPixmap(parent->style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(size));
    label->setAlignment(Qt::AlignTop);
    label->setAccessibleName(QStringLiteral("Warning"));
    return label;
}

// The whole message, however long, scrolls inside a plain-text area that looks like the
// dialog's own text and can be selected and copied; nothing in it is markup.
QPlainTextEdit *messageArea(const QString &text, QWidget *parent)
{
    auto *area = new QPlainTextEdit(text, parent);
    area->setObjectName(QStringLiteral("informativeText"));
    area->setAccessibleName(QStringLiteral("Message"));
    area->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    area->setReadOnly(true);
    area->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    area->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    area->setFrameShape(QFrame::NoFrame);
    area->viewport()->setBackgroundRole(QPalette::Window);
    area->setFocusPolicy(Qt::ClickFocus);
    area->setTabChangesFocus(true);
    return area;
}

// As large as the text needs, up to a comfortable reading size and never beyond the screen.
QSize areaSize(const QPlainTextEdit &area, const QString &text, const QRect &available)
{
    const QFontMetrics metrics(area.font());
    int widest = metrics.averageCharWidth() * kNarrowestInChars;
    int lines = 0;
    for (const QStringView line : QStringView(text).split(QLatin1Char('\n'))) {
        widest = qMax(widest, metrics.horizontalAdvance(line.left(kWidestInChars).toString()));
        lines += 1 + int(line.size() / kWidestInChars);
    }
    const int width = qMin(widest, metrics.averageCharWidth() * kWidestInChars);
    const int height = metrics.lineSpacing() * qMin(lines, kTallestInLines);
    const QMargins margins = area.contentsMargins();
    const int documentMargin = 2 * int(area.document()->documentMargin());
    return QSize(width + margins.left() + margins.right() + documentMargin +
                     area.style()->pixelMetric(QStyle::PM_ScrollBarExtent),
                 height + margins.top() + margins.bottom() + documentMargin)
        .boundedTo(available.size());
}

// Parentless, the dialog opens on the screen under the pointer: it must fit that one.
void fitToScreen(QDialog &alert, const QPlainTextEdit &area, const QString &text)
{
    const QScreen *screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRect available =
        screen->availableGeometry().adjusted(0, 0, -kFrameAllowance, -kFrameAllowance);
    const QSize wanted = areaSize(area, text, available);
    alert.setMaximumSize(available.size());
    alert.resize(
        (alert.layout()->sizeHint() + wanted - area.sizeHint()).boundedTo(available.size()));
}

} // namespace

void DialogAlert::run(const QString &windowTitle, const QString &messageText,
                      const QString &informativeText)
{
    QDialog alert;
    alert.setWindowTitle(windowTitle);
    auto *layout = new QGridLayout(&alert);
    layout->addWidget(iconLabel(&alert), 0, 0, 2, 1);
    auto *message = new QLabel(messageText, &alert);
    message->setObjectName(QStringLiteral("text"));
    message->setTextFormat(Qt::PlainText);
    message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(message, 0, 1);
    QPlainTextEdit *area = messageArea(informativeText, &alert);
    layout->addWidget(area, 1, 1);
    auto *buttons = new QDialogButtonBox(&alert);
    QPushButton *ok = buttons->addButton(QStringLiteral("&Ok"), QDialogButtonBox::AcceptRole);
    ok->setDefault(true);
    layout->addWidget(buttons, 2, 0, 1, 2);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &alert, &QDialog::accept);
    fitToScreen(alert, *area, informativeText);
    ok->setFocus();
    alert.exec();
}
