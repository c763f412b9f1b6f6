#include "app/appdelegate.h"
#include "bench/benchsupport.h"
#include "store/defaults.h"
#include "store/keys.h"

#include <QApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

// The whole menu built from the stored names, as at launch.
void menuConstruct(benchmark::State &state)
{
    QTemporaryDir dir;
    Defaults defaults(dir.filePath(QStringLiteral("defaults.json")));
    defaults.setStringArray(all_scripts_name, scriptNames(state.range(0)));
    AppDelegate delegate(defaults);
    delegate.applicationDidFinishLaunching();
    for (auto _ : state)
        delegate.constructMenu();
    state.SetComplexityN(state.range(0));
}

// The rebuild after a write that left the names as they were (a selection, the second write
// of an addition): every change of the store runs it.
void menuRebuildUnchanged(benchmark::State &state)
{
    QTemporaryDir dir;
    Defaults defaults(dir.filePath(QStringLiteral("defaults.json")));
    defaults.setStringArray(all_scripts_name, scriptNames(state.range(0)));
    AppDelegate delegate(defaults);
    delegate.applicationDidFinishLaunching();
    for (auto _ : state) {
        delegate.defaultsChanged();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    state.SetComplexityN(state.range(0));
}

} // namespace

BENCHMARK(menuConstruct)
    ->Arg(10)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity();
BENCHMARK(menuRebuildUnchanged)
    ->Arg(10)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity();
