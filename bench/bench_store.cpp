#include "bench/benchsupport.h"
#include "store/defaults.h"
#include "store/keys.h"
#include "store/library.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

// One whole-array write, as add and delete each make twice.
void storeWrite(benchmark::State &state)
{
    QTemporaryDir dir;
    Defaults defaults(dir.filePath(QStringLiteral("defaults.json")));
    defaults.setStringArray(all_scripts_name, scriptNames(state.range(0)));
    const QStringList bodies = scriptBodies(state.range(0));
    for (auto _ : state)
        defaults.setStringArray(all_scripts, bodies);
    state.SetComplexityN(state.range(0));
}

// A selection in the editor stores its row: the library itself is written again unchanged.
void storeWriteSelection(benchmark::State &state)
{
    QTemporaryDir dir;
    Defaults defaults(dir.filePath(QStringLiteral("defaults.json")));
    defaults.setStringArray(all_scripts_name, scriptNames(state.range(0)));
    defaults.setStringArray(all_scripts, scriptBodies(state.range(0)));
    qint64 row = 0;
    for (auto _ : state)
        defaults.setInteger(sel_script, row++ % state.range(0));
    state.SetComplexityN(state.range(0));
}

// Loading the library at start-up.
void storeLoad(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("defaults.json"));
    {
        Defaults defaults(path);
        defaults.setStringArray(all_scripts_name, scriptNames(state.range(0)));
        defaults.setStringArray(all_scripts, scriptBodies(state.range(0)));
    }
    for (auto _ : state) {
        Defaults defaults(path);
        benchmark::DoNotOptimize(library::returnAllNames(defaults).size());
    }
    state.SetComplexityN(state.range(0));
}

// The queries that every menu rebuild and run make.
void storeRead(benchmark::State &state)
{
    QTemporaryDir dir;
    Defaults defaults(dir.filePath(QStringLiteral("defaults.json")));
    defaults.setStringArray(all_scripts_name, scriptNames(state.range(0)));
    defaults.setStringArray(all_scripts, scriptBodies(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(library::returnAllNames(defaults).size());
        benchmark::DoNotOptimize(library::returnAllScripts(defaults).size());
    }
    state.SetComplexityN(state.range(0));
}

} // namespace

BENCHMARK(storeWrite)->Arg(10)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Complexity();
BENCHMARK(storeWriteSelection)
    ->Arg(10)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity();
BENCHMARK(storeLoad)->Arg(10)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Complexity();
BENCHMARK(storeRead)->Arg(10)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Complexity();
