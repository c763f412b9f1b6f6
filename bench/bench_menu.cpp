// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/benchsupport.h"
#include "tray/scriptmenu.h"

#include <QApplication>

#include <benchmark/benchmark.h>

namespace {

// The whole menu built from the names, as at launch.
void menuConstruct(benchmark::State &state)
{
    const QStringList names = scriptNames(state.range(0));
    for (auto _ : state) {
        ScriptMenu menu;
        menu.showNames(names);
    }
    state.SetComplexityN(state.range(0));
}

// The update after a write that left the names as they were (a selection, the second write
// of an addition): every change of the store runs it.
void menuRebuildUnchanged(benchmark::State &state)
{
    StoredLibrary library(state.range(0));
    ScriptMenu menu;
    menu.showNames(library.defaults.stringArrayForKey(all_scripts_name).value());
    for (auto _ : state) {
        menu.showNames(library.defaults.stringArrayForKey(all_scripts_name).value());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    state.SetComplexityN(state.range(0));
}

} // namespace

BENCHMARK(menuConstruct)->Apply(librarySizes);
BENCHMARK(menuRebuildUnchanged)->Apply(librarySizes);
