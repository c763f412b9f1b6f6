// SPDX-License-Identifier: GPL-3.0-or-later
#include "tray/dbusmenu.h"
#include "tray/menuitem.h"

#include <QApplication>
#include <QDBusArgument>

#include <benchmark/benchmark.h>

namespace {

constexpr int kPageSize = 500;

// The menu as ZapRun shows `count` names: the fixed items, then pages of kPageSize.
QList<QMenu *> fillMenu(QMenu &menu, int count)
{
    addMenuItem(menu, QStringLiteral("Preferences"));
    addMenuItem(menu, QStringLiteral("Quit ZapRun"), QKeySequence::Quit);
    menu.addSeparator();
    QList<QMenu *> pages;
    for (int start = 0; start < count; start += kPageSize) {
        pages.append(menu.addMenu(QStringLiteral("Scripts %1").arg(start + 1)));
        for (int i = start; i < std::min(count, start + kPageSize); ++i)
            addMenuItem(*pages.last(), QStringLiteral("script number %1").arg(i));
    }
    return pages;
}

// Answers a host as lxqt-panel's importer asks: the signalled item one level deep, then every
// submenu in that answer one level deep; each answer marshalled as for the bus. Returns the
// number of calls.
qsizetype answerHost(DBusMenu &exported, const QList<int> &parents)
{
    QList<int> queue = parents;
    for (qsizetype next = 0; next < queue.size(); ++next) {
        DBusMenuLayout layout;
        exported.GetLayout(queue[next], 1, {}, layout);
        QDBusArgument arg;
        arg << QDBusVariant(QVariant::fromValue(layout));
        if (next >= parents.size())
            continue;
        for (const QDBusVariant &child : std::as_const(layout.children)) {
            const auto item = child.variant().value<DBusMenuLayout>();
            if (item.properties.value(QStringLiteral("children-display")) ==
                QLatin1String("submenu"))
                queue.append(item.id);
        }
    }
    return queue.size();
}

// One name added to the last page (its title changes too), the exported menu told, and the
// host's calls answered: the exported menu's share of an add.
void dbusMenuAdd(benchmark::State &state)
{
    QMenu menu;
    QList<QMenu *> pages = fillMenu(menu, int(state.range(0)));
    DBusMenu exported;
    exported.setMenu(&menu);
    QList<int> parents;
    QObject::connect(&exported, &DBusMenu::LayoutUpdated,
                     [&parents](uint, int parent) { parents.append(parent); });
    QCoreApplication::processEvents();
    int added = 0;
    qsizetype calls = 0;
    for (auto _ : state) {
        parents.clear();
        addMenuItem(*pages.last(), QStringLiteral("added %1").arg(++added));
        pages.last()->setTitle(QStringLiteral("Scripts up to %1").arg(added));
        QCoreApplication::processEvents();
        calls += answerHost(exported, parents);
    }
    state.counters["GetLayout calls"] =
        benchmark::Counter(double(calls) / double(state.iterations()));
}

} // namespace

BENCHMARK(dbusMenuAdd)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
