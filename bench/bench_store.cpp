#include "store/defaults.h"
#include "store/keys.h"
#include "store/library.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

QStringList scripts(qsizetype count, QChar fill)
{
    return QStringList(count, QString(1024, fill));
}

QStringList names(qsizetype count)
{
    QStringList result;
    for (qsizetype i = 0; i < count; ++i)
        result << QStringLiteral("script number %1").arg(i);
    return result;
}

// One whole-array write, as add and delete each make twice.
void storeWrite(benchmark::State &state)
{
    QTemporaryDir dir;
    Defaults defaults(dir.filePath(QStringLiteral("defaults.json")));
    defaults.setStringArray(all_scripts_name, names(state.range(0)));
    const QStringList bodies = scripts(state.range(0), QLatin1Char('x'));
    for (auto _ : state)
        defaults.setStringArray(all_scripts, bodies);
    state.SetComplexityN(state.range(0));
}

// A selection in the editor stores its row: the library itself is written again unchanged.
void storeWriteSelection(benchmark::State &state)
{
    QTemporaryDir dir;
    Defaults defaults(dir.filePath(QStringLiteral("defaults.json")));
    defaults.setStringArray(all_scripts_name, names(state.range(0)));
    defaults.setStringArray(all_scripts, scripts(state.range(0), QLatin1Char('x')));
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
        defaults.setStringArray(all_scripts_name, names(state.range(0)));
        defaults.setStringArray(all_scripts, scripts(state.range(0), QLatin1Char('x')));
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
    defaults.setStringArray(all_scripts_name, names(state.range(0)));
    defaults.setStringArray(all_scripts, scripts(state.range(0), QLatin1Char('x')));
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

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
