#include "app/appdelegate.h"
#include "bench/benchsupport.h"
#include "platform/alert.h"

#include <QApplication>

#include <benchmark/benchmark.h>

namespace {

// The whole menu built from the stored names, as at launch.
void menuConstruct(benchmark::State &state)
{
    StoredLibrary library(state.range(0));
    DialogAlert alert;
    AppDelegate delegate(library.defaults, alert);
    delegate.applicationDidFinishLaunching();
    for (auto _ : state)
        delegate.constructMenu();
    state.SetComplexityN(state.range(0));
}

// The rebuild after a write that left the names as they were (a selection, the second write
// of an addition): every change of the store runs it.
void menuRebuildUnchanged(benchmark::State &state)
{
    StoredLibrary library(state.range(0));
    DialogAlert alert;
    AppDelegate delegate(library.defaults, alert);
    delegate.applicationDidFinishLaunching();
    for (auto _ : state) {
        delegate.defaultsChanged();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    state.SetComplexityN(state.range(0));
}

} // namespace

BENCHMARK(menuConstruct)->Apply(librarySizes);
BENCHMARK(menuRebuildUnchanged)->Apply(librarySizes);
