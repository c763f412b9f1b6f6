// SPDX-License-Identifier: GPL-3.0-or-later
// Adding, deleting and selecting end to end: a real editor and tray menu on one store, as in
// the application. Each measured action is what runs before control returns to the event
// loop: its durable write, the observers (the menu's update) and the editor's table rows. What
// the window then lays out and draws is timed apart, as the counter redraw_ms.
#include "app/appdelegate.h"
#include "bench/benchsupport.h"
#include "editor/viewcontroller.h"
#include "platform/alert.h"
#include "store/defaults.h"
#include "store/keys.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMenu>
#include <QTableView>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <chrono>
#include <functional>
#include <memory>

namespace {

using Clock = std::chrono::steady_clock;

// The items a user can choose, those in submenus included, each submenu made as it would be
// on its first show.
qsizetype scriptItems(const QMenu &menu)
{
    qsizetype count = 0;
    for (const QAction *item : menu.actions()) {
        QMenu *submenu = item->menu();
        if (submenu)
            emit submenu->aboutToShow();
        count += submenu ? scriptItems(*submenu) : 1;
    }
    return count;
}

// The application as main() puts it together, with a library of `count` scripts of 1 KiB.
struct Application {
    explicit Application(qsizetype count)
        : library(count)
    {
        delegate = std::make_unique<AppDelegate>(library.defaults, alert);
        delegate->applicationDidFinishLaunching();
        editor = std::make_unique<ViewController>(library.defaults);
        editor->setClipbStr(QString(1024, QLatin1Char('y')));
        // The user adds and deletes with the editor window open.
        editor->show();
        settle();
    }

    ~Application()
    {
        editor.reset();
        delegate.reset();
        settle();
    }

    // Everything the last action left for the event loop, removed menu items included.
    static void settle()
    {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // The action's own time. The table lays out its rows on a zero-time timer, and the window
    // is drawn on the event posted by that layout: two turns of the event loop.
    double timed(const std::function<void()> &action)
    {
        const auto start = Clock::now();
        action();
        const auto acted = Clock::now();
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        redrawn += std::chrono::duration<double>(Clock::now() - acted).count();
        ++actions;
        return std::chrono::duration<double>(acted - start).count();
    }

    double add(const QString &name)
    {
        return timed([&] {
            editor->nameFld()->setText(name);
            editor->add();
        });
    }

    double del(const QString &name)
    {
        return timed([&] {
            editor->nameFld()->setText(name);
            editor->del();
        });
    }

    // The menu must hold the fixed items and every script: a benchmark that measured a
    // shortcut would be worthless.
    void finish(benchmark::State &state) const
    {
        if (scriptItems(*delegate->menu()) != state.range(0) + 3)
            state.SkipWithError("the menu does not list the library");
        report(state);
    }

    // The redraw per action, timed or not.
    void report(benchmark::State &state) const
    {
        state.counters["redraw_ms"] = actions ? redrawn * 1000 / double(actions) : 0.0;
        state.SetComplexityN(state.range(0));
    }

    StoredLibrary library;
    DialogAlert alert;
    double redrawn = 0;
    qint64 actions = 0;
    std::unique_ptr<AppDelegate> delegate;
    std::unique_ptr<ViewController> editor;
};

QString addedName(qint64 serial)
{
    return QStringLiteral("added script %1").arg(serial);
}

// Adds a new script at the end of the library; the deletion that restores the size is not
// timed.
void controllerAdd(benchmark::State &state)
{
    Application app(state.range(0));
    qint64 serial = 0;
    for (auto _ : state) {
        const QString name = addedName(serial++);
        state.SetIterationTime(app.add(name));
        app.del(name);
        Application::settle();
    }
    app.finish(state);
}

// Deletes the script just added at the end; the addition is not timed.
void controllerDeleteLast(benchmark::State &state)
{
    Application app(state.range(0));
    qint64 serial = 0;
    for (auto _ : state) {
        const QString name = addedName(serial++);
        app.add(name);
        Application::settle();
        state.SetIterationTime(app.del(name));
        Application::settle();
    }
    app.finish(state);
}

// Deletes a script from the middle of the library (every later menu item moves up), then adds
// it back at the end, untimed.
void controllerDeleteMiddle(benchmark::State &state)
{
    Application app(state.range(0));
    for (auto _ : state) {
        const QString name = app.editor->objectValueForRow(state.range(0) / 2);
        state.SetIterationTime(app.del(name));
        Application::settle();
        app.add(name);
        Application::settle();
    }
    app.finish(state);
}

// A click on another row of the editor's table, among the rows in view: the field shows its
// name, the store writes "sel script index" (the whole file, durably) and the rows repaint.
void controllerSelect(benchmark::State &state)
{
    Application app(state.range(0));
    QTableView &table = *app.editor->tableView();
    const int lastInView = table.rowAt(table.viewport()->height() - 1);
    const qint64 inView = lastInView < 0 ? state.range(0) : lastInView + 1;
    qint64 row = 0;
    for (auto _ : state) {
        state.SetIterationTime(app.timed([&] { table.selectRow(int(row)); }));
        row = (row + 1) % inView;
    }
    if (table.rowAt(0) != 0 ||
        app.library.defaults.integerForKey(sel_script) != (row + inView - 1) % inView)
        state.SkipWithError("the selection was not stored, or the table scrolled");
    app.report(state);
}

// A text of `range(0)` MB in several scripts, copied and then added. The capture compares it
// with the text taken before under canonical equivalence: a short other text (range(1) == 0),
// or the same text with its accents decomposed (1), which must be compared whole.
void captureAndAddLargeText(benchmark::State &state)
{
    Application app(10);
    const QString unit = QStringLiteral("Grüße ἄλφα Привет 한국어 日本語 caf\u00e9 \u1EC5\n");
    const qsizetype units = state.range(0) * 1000 * 1000 / unit.toUtf8().size();
    const QString text = unit.repeated(units);
    const QString before = state.range(1)
                               ? unit.normalized(QString::NormalizationForm_D).repeated(units)
                               : QStringLiteral("echo");
    qint64 serial = 0;
    for (auto _ : state) {
        app.editor->setClipbStr(before);
        QGuiApplication::clipboard()->setText(text);
        const auto start = Clock::now();
        app.editor->active();
        const double captured = std::chrono::duration<double>(Clock::now() - start).count();
        const QString name = addedName(serial++);
        state.SetIterationTime(captured + app.add(name));
        state.counters["capture_ms"] = captured * 1000;
        if (app.editor->clipbStr() != (state.range(1) ? before : text))
            state.SkipWithError("the capture went wrong");
        app.del(name);
        Application::settle();
    }
}

// The floor the actions above are judged against, measured in the same run: a durable write of
// the library's own file, as large as each action's write.
void storeSizedWrite(benchmark::State &state)
{
    const StoredLibrary library(state.range(0));
    QFile stored(library.path);
    if (!stored.open(QIODevice::ReadOnly))
        state.SkipWithError("the library's file cannot be read");
    saveFileCommits(state, library.dir.filePath(QStringLiteral("floor.json")), stored.readAll());
    state.SetComplexityN(state.range(0));
}

void sizes(benchmark::internal::Benchmark *bench)
{
    librarySizes(bench->UseManualTime());
}

} // namespace

BENCHMARK(storeSizedWrite)->Apply(librarySizes)->UseRealTime();
BENCHMARK(controllerAdd)->Apply(sizes);
BENCHMARK(controllerDeleteLast)->Apply(sizes);
BENCHMARK(controllerDeleteMiddle)->Apply(sizes);
BENCHMARK(controllerSelect)->Apply(sizes);
BENCHMARK(captureAndAddLargeText)
    ->Args({2, 0})
    ->Args({20, 0})
    ->Args({2, 1})
    ->Args({20, 1})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
