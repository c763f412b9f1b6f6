// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QMenu>
#include <QObject>
#include <QStringList>

#include <memory>

// The tray's menu: "Preferences", "Quit ZapRun", a separator and one item per script name, in
// library order, each titled exactly as stored. Past kNamesPerMenu names, the names go into
// submenus ("pages") titled with the range they hold, each page's items made when it first shows.
// A change replaces only the items whose names changed, so a host's copy of the menu keeps the
// others; a page not yet shown only takes note of its range.
class ScriptMenu : public QObject {
    Q_OBJECT

public:
    explicit ScriptMenu(QObject *parent = nullptr);
    ~ScriptMenu() override;

    QMenu *menu() const { return menu_.get(); }
    // Makes the menu show these names in place of the ones it shows.
    void showNames(const QStringList &names);

    // Qt checks every item put into a menu against the menu's others, so filling one menu with
    // N items costs N^2: beyond this many names, they go into submenus of about this many each.
    static constexpr qsizetype kNamesPerMenu = 500;

signals:
    void preferencesChosen();
    void quitChosen();
    // A script item was chosen: `name` is its title, `entry` its place among the names shown
    // (-1 when the item has left the menu since, as a host's late click may find it).
    void scriptChosen(qsizetype entry, const QString &name);

private:
    void addFixedItems();
    void replaceScriptItems(const QStringList &names);
    bool replaceInPages(const QStringList &names);
    void addPage(qsizetype size);
    void fillPage(const QMenu *page);
    void removePage(qsizetype page);
    void titlePages();
    void replaceChangedStretch(QMenu &menu, qsizetype first, const QStringList &shown,
                               const QStringList &names);
    void addScriptItem(QMenu &menu, const QString &name, QAction *before);
    qsizetype entryOf(QAction *item) const;

    static constexpr qsizetype kFixedItems = 3; // "Preferences", "Quit ZapRun", a separator

    std::unique_ptr<QMenu> menu_;
    QStringList shownNames_;
    // The submenus of names, when there are that many; a page not yet shown has no items.
    struct Page {
        QMenu *menu = nullptr;
        qsizetype size = 0; // how many of the names it holds
    };
    QList<Page> pages_;
};
