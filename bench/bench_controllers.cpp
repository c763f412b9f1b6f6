// Adding, deleting and selecting end to end: a real editor and tray menu on one store, as in
// the application. Each measured action includes its durable writes, the observers (the menu's
// update, the editor's table) and one pass of the event loop, so that the editor window's
// resulting layout and repaint are in the figure too.
#include "app/appdelegate.h"
#include "bench/benchsupport.h"
#include "editor/viewcontroller.h"
#include "platform/alert.h"
#include "store/defaults.h"
#include "store/keys.h"

#include <QApplication>
#include <QClipboard>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMenu>
#include <QTableView>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <chrono>
#include <memory>

namespace {

using Clock = std::chrono::steady_clock;

// The items a user can choose, those in submenus included.
qsizetype scriptItems(const QMenu &menu)
{
    qsizetype count = 0;
    for (const QAction *item : menu.actions())
        count += item->menu() ? scriptItems(*item->menu()) : 1;
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

    // Adds a script under `name`: one write of names and bodies; menu and table follow.
    double add(const QString &name)
    {
        const auto start = Clock::now();
        editor->nameFld()->setText(name);
        editor->add();
        QCoreApplication::processEvents();
        return std::chrono::duration<double>(Clock::now() - start).count();
    }

    double del(const QString &name)
    {
        const auto start = Clock::now();
        editor->nameFld()->setText(name);
        editor->del();
        QCoreApplication::processEvents();
        return std::chrono::duration<double>(Clock::now() - start).count();
    }

    // The menu must hold the fixed items and every script: a benchmark that measured a
    // shortcut would be worthless.
    void finish(benchmark::State &state) const
    {
        if (scriptItems(*delegate->menu()) != state.range(0) + 3)
            state.SkipWithError("the menu does not list the library");
        state.SetComplexityN(state.range(0));
    }

    StoredLibrary library;
    DialogAlert alert;
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

// A click on another row of the editor's table: the field shows its name, the store writes
// "sel script index" (the whole file, durably) and the menu checks its items.
void controllerSelect(benchmark::State &state)
{
    Application app(state.range(0));
    QTableView &table = *app.editor->tableView();
    qint64 row = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        table.selectRow(int(row));
        QCoreApplication::processEvents();
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        row = (row + 1) % state.range(0);
    }
    if (app.library.defaults.integerForKey(sel_script) !=
        (row + state.range(0) - 1) % state.range(0))
        state.SkipWithError("the selection was not stored");
    state.SetComplexityN(state.range(0));
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

void sizes(benchmark::internal::Benchmark *bench)
{
    librarySizes(bench->UseManualTime());
}

} // namespace

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
