// SPDX-License-Identifier: GPL-3.0-or-later
#include "tray/scriptmenu.h"

#include "tray/menuitem.h"

#include <QProxyStyle>

namespace {

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

// A menu longer than its screen scrolls instead of growing columns past the screen's edge.
class ScrollingMenu : public QMenu {
public:
    explicit ScrollingMenu(QWidget *parent = nullptr)
        : QMenu(parent)
    {
        connect(this, &QMenu::aboutToShow, this, &ScrollingMenu::makeScrollable);
    }

protected:
    // Qt scrolls to the item the keyboard selects only when it moves from an item on show: the
    // first Up or Down of a menu, or one after the wheel scrolled, selects an item out of sight.
    void keyPressEvent(QKeyEvent *event) override
    {
        QMenu::keyPressEvent(event);
        QAction *item = activeAction();
        if (isVisible() && item && !onShow(item))
            setActiveAction(item); // scrolls it to the middle
    }

private:
    // The style is set at the first popup: making it costs a tenth of the start-up.
    void makeScrollable()
    {
        if (dynamic_cast<ScrollingMenuStyle *>(style()))
            return;
        auto *scrolling = new ScrollingMenuStyle;
        scrolling->setParent(this);
        setStyle(scrolling);
    }

    // Between the scrollers, each drawn only where items lie beyond its edge.
    bool onShow(QAction *item) const
    {
        const int frame = style()->pixelMetric(QStyle::PM_MenuPanelWidth, nullptr, this);
        const int margin = frame + style()->pixelMetric(QStyle::PM_MenuVMargin, nullptr, this);
        const int scroller = style()->pixelMetric(QStyle::PM_MenuScrollerHeight, nullptr, this);
        const bool above = actionGeometry(actions().constFirst()).top() < margin;
        const bool below = actionGeometry(actions().constLast()).bottom() >= height() - margin;
        const QRect place = actionGeometry(item);
        return place.top() >= frame + (above ? scroller : 0) &&
               place.bottom() < height() - frame - (below ? scroller : 0);
    }
};

// How many names at the start, and then at the end, both lists have in common.
std::pair<qsizetype, qsizetype> unchangedEnds(const QStringList &shown, const QStringList &names)
{
    qsizetype head = 0;
    while (head < shown.size() && head < names.size() && shown[head] == names[head])
        ++head;
    qsizetype tail = 0;
    while (tail < shown.size() - head && tail < names.size() - head &&
           shown[shown.size() - 1 - tail] == names[names.size() - 1 - tail])
        ++tail;
    return {head, tail};
}

} // namespace

ScriptMenu::ScriptMenu(QObject *parent)
    : QObject(parent)
    , menu_(std::make_unique<ScrollingMenu>())
{
    addFixedItems();
}

ScriptMenu::~ScriptMenu() = default;

void ScriptMenu::showNames(const QStringList &names)
{
    if (names == shownNames_)
        return;
    if (shownNames_.size() <= kNamesPerMenu && names.size() <= kNamesPerMenu)
        replaceChangedStretch(*menu_, kFixedItems, shownNames_, names);
    else if (pages_.isEmpty() || names.size() <= kNamesPerMenu || !replaceInPages(names))
        replaceScriptItems(names);
    shownNames_ = names;
}

void ScriptMenu::addFixedItems()
{
    connect(addMenuItem(*menu_, QStringLiteral("Preferences")), &QAction::triggered, this,
            &ScriptMenu::preferencesChosen);
    connect(addMenuItem(*menu_, QStringLiteral("Quit ZapRun"), QKeySequence::Quit),
            &QAction::triggered, this, &ScriptMenu::quitChosen);
    menu_->addSeparator();
}

// All names anew: in the menu itself when few, else in submenus of kNamesPerMenu each.
void ScriptMenu::replaceScriptItems(const QStringList &names)
{
    if (pages_.isEmpty())
        replaceChangedStretch(*menu_, kFixedItems, shownNames_, {});
    while (!pages_.isEmpty())
        removePage(pages_.size() - 1);
    if (names.size() <= kNamesPerMenu) {
        replaceChangedStretch(*menu_, kFixedItems, {}, names);
        return;
    }
    for (qsizetype start = 0; start < names.size(); start += kNamesPerMenu)
        addPage(std::min(kNamesPerMenu, names.size() - start));
    titlePages();
}

// Only the submenus that hold the changed names change: their names go into the first of them,
// the others go. False when that submenu would grow past twice its size.
bool ScriptMenu::replaceInPages(const QStringList &names)
{
    const auto [head, tail] = unchangedEnds(shownNames_, names);
    qsizetype first = 0;
    qsizetype start = 0;
    while (first + 1 < pages_.size() && start + pages_[first].size <= head)
        start += pages_[first++].size;
    qsizetype last = first;
    qsizetype end = start + pages_[first].size;
    while (last + 1 < pages_.size() && end < shownNames_.size() - tail)
        end += pages_[++last].size;
    const qsizetype newEnd = end + names.size() - shownNames_.size();
    if (newEnd - start > 2 * kNamesPerMenu)
        return false;
    for (qsizetype page = last; page > first; --page)
        removePage(page);
    Page &merged = pages_[first];
    if (!merged.menu->actions().isEmpty())
        replaceChangedStretch(*merged.menu, 0, shownNames_.mid(start, merged.size),
                              names.mid(start, newEnd - start));
    merged.size = newEnd - start;
    if (newEnd == start)
        removePage(first);
    titlePages();
    return true;
}

// Made with its menu entry only: its items cost time and memory, so they wait for its first show.
void ScriptMenu::addPage(qsizetype size)
{
    auto *page = new ScrollingMenu(menu_.get());
    connect(page, &QMenu::aboutToShow, this, [this, page] { fillPage(page); });
    menu_->addMenu(page);
    pages_.append({page, size});
}

void ScriptMenu::fillPage(const QMenu *page)
{
    qsizetype start = 0;
    for (const Page &shown : std::as_const(pages_)) {
        if (shown.menu == page) {
            if (page->actions().isEmpty())
                replaceChangedStretch(*shown.menu, 0, {}, shownNames_.mid(start, shown.size));
            return;
        }
        start += shown.size;
    }
}

void ScriptMenu::removePage(qsizetype page)
{
    QMenu *menu = pages_.takeAt(page).menu;
    menu_->removeAction(menu->menuAction());
    menu->deleteLater(); // its item may be the one being triggered
}

void ScriptMenu::titlePages()
{
    qsizetype first = 1;
    for (const Page &page : std::as_const(pages_)) {
        page.menu->setTitle(
            QStringLiteral("Scripts %1\u2013%2").arg(first).arg(first + page.size - 1));
        first += page.size;
    }
}

// Items that already show the right name stay; only the changed stretch is replaced.
void ScriptMenu::replaceChangedStretch(QMenu &menu, qsizetype first, const QStringList &shown,
                                       const QStringList &names)
{
    const QList<QAction *> items = menu.actions().mid(first, shown.size());
    const auto [head, tail] = unchangedEnds(shown, names);
    // A removed item may be the one being triggered: it must outlive its own signal.
    for (QAction *item : items.mid(head, shown.size() - head - tail)) {
        menu.removeAction(item);
        item->deleteLater();
    }
    QAction *before = tail > 0 ? items[items.size() - tail] : nullptr;
    for (const QString &name : names.mid(head, names.size() - head - tail))
        addScriptItem(menu, name, before);
}

void ScriptMenu::addScriptItem(QMenu &menu, const QString &name, QAction *before)
{
    QAction *item = addMenuItem(menu, name, {}, before);
    connect(item, &QAction::triggered, this,
            [this, item] { emit scriptChosen(entryOf(item), menuItemTitle(item)); });
}

// Found from the item's place when chosen: the items after a change keep their objects but
// not their places.
qsizetype ScriptMenu::entryOf(QAction *item) const
{
    if (pages_.isEmpty()) {
        const qsizetype place = menu_->actions().indexOf(item);
        return place < kFixedItems ? -1 : place - kFixedItems;
    }
    qsizetype start = 0;
    for (const Page &page : pages_) {
        if (const qsizetype place = page.menu->actions().indexOf(item); place >= 0)
            return start + place;
        start += page.size;
    }
    return -1;
}
