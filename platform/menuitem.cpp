#include "platform/menuitem.h"

#include <QAction>
#include <QMenu>
#include <QProxyStyle>

namespace {

// Control characters are shown by their visible pictures (U+2400 onwards).
QString shownText(const QString &title)
{
    QString text;
    text.reserve(title.size());
    for (QChar c : title) {
        if (c == QLatin1Char('&'))
            text += QStringLiteral("&&");
        else if (c.unicode() < 0x20)
            text += QChar(0x2400 + c.unicode());
        else if (c.unicode() == 0x7f)
            text += QChar(0x2421);
        else
            text += c;
    }
    return text;
}

class ScrollingMenuStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *returnData) const override
    {
        if (hint == SH_Menu_Scrollable)
            return 1;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

} // namespace

QAction *addMenuItem(QMenu &menu, const QString &title, const QKeySequence &keyEquivalent,
                     QAction *before)
{
    auto *item = new QAction(shownText(title), &menu);
    item->setData(title);
    item->setShortcut(keyEquivalent);
    menu.insertAction(before, item);
    return item;
}

QString menuItemTitle(const QAction *item)
{
    return item ? item->data().toString() : QString();
}

// The style is set at the first popup: making it costs a tenth of the start-up.
void makeScrollable(QMenu &menu)
{
    QObject::connect(&menu, &QMenu::aboutToShow, &menu, [&menu] {
        if (dynamic_cast<ScrollingMenuStyle *>(menu.style()))
            return;
        auto *style = new ScrollingMenuStyle;
        style->setParent(&menu);
        menu.setStyle(style);
    });
}
