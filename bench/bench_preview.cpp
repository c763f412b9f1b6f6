// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/benchsupport.h"
#include "editor/previewpopover.h"

#include <QApplication>
#include <QFile>

#include <benchmark/benchmark.h>

namespace {

double residentMiB()
{
    QFile status(QStringLiteral("/proc/self/statm"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    return status.readAll().split(' ').value(1).toDouble() * 4096 / (1024 * 1024);
}

// Opening the preview of a body of one line of `range(0)` MB, shown until its first paint. The
// counter is the resident memory the open popover adds.
void previewOneLine(benchmark::State &state)
{
    QTemporaryDir dir;
    Defaults defaults(dir.filePath(QStringLiteral("defaults.json")));
    defaults.setStringArray(all_scripts_name, {QStringLiteral("big")});
    defaults.setStringArray(all_scripts, {QString(state.range(0) * 1000 * 1000, QLatin1Char('z'))});
    defaults.setInteger(sel_script, 0);
    double added = 0;
    for (auto _ : state) {
        const double before = residentMiB();
        PreviewPopover popover(defaults);
        popover.show();
        QCoreApplication::processEvents();
        added = residentMiB() - before;
    }
    state.counters["added_MiB"] = added;
}

} // namespace

BENCHMARK(previewOneLine)->Arg(2)->Arg(20)->Arg(50)->Unit(benchmark::kMillisecond)->Iterations(3);
