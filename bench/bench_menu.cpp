// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/benchsupport.h"
#include "tray/scriptmenu.h"

#include <QApplication>

#include <benchmark/benchmark.h>
#include <malloc.h>

namespace {

// The whole menu built from the names, as at launch; and the heap it holds then, measured
// after the timed runs have made Qt's caches.
void menuConstruct(benchmark::State &state)
{
    const QStringList names = scriptNames(state.range(0));
    for (auto _ : state) {
        ScriptMenu menu;
        menu.showNames(names);
    }
    state.SetComplexityN(state.range(0));
    const std::size_t before = ::mallinfo2().uordblks;
    ScriptMenu menu;
    menu.showNames(names);
    state.counters["heap_KiB"] = double(::mallinfo2().uordblks - before) / 1024;
}

// The first show of the first page of names, whose items are made then.
void menuPageFirstShow(benchmark::State &state)
{
    const QStringList names = scriptNames(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        auto menu = std::make_unique<ScriptMenu>();
        menu->showNames(names);
        QMenu *page = menu->menu()->actions().value(3)->menu();
        state.ResumeTiming();
        emit page->aboutToShow();
        state.PauseTiming();
        menu.reset();
        QCoreApplication::sendPostedEvents();
        state.ResumeTiming();
    }
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
BENCHMARK(menuPageFirstShow)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
