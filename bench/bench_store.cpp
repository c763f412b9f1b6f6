// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/benchsupport.h"
#include "store/library.h"

namespace {

// One whole-array write of the bodies, their texts kept from the write before.
void storeWrite(benchmark::State &state)
{
    StoredLibrary library(state.range(0));
    const QStringList bodies = scriptBodies(state.range(0));
    for (auto _ : state)
        library.defaults.setStringArray(all_scripts, bodies);
    state.SetComplexityN(state.range(0));
}

// A selection in the editor stores its row: the library itself is written again unchanged.
void storeWriteSelection(benchmark::State &state)
{
    StoredLibrary library(state.range(0));
    qint64 row = 0;
    for (auto _ : state)
        library.defaults.setInteger(sel_script, row++ % state.range(0));
    state.SetComplexityN(state.range(0));
}

// Loading the library at start-up.
void storeLoad(benchmark::State &state)
{
    const StoredLibrary library(state.range(0));
    for (auto _ : state) {
        Defaults defaults(library.path);
        benchmark::DoNotOptimize(library::returnAllNames(defaults).size());
    }
    state.SetComplexityN(state.range(0));
}

// The queries that every menu rebuild and run make.
void storeRead(benchmark::State &state)
{
    const StoredLibrary stored(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(library::returnAllNames(stored.defaults).size());
        benchmark::DoNotOptimize(library::returnAllScripts(stored.defaults).size());
    }
    state.SetComplexityN(state.range(0));
}

} // namespace

BENCHMARK(storeWrite)->Apply(librarySizes);
BENCHMARK(storeWriteSelection)->Apply(librarySizes);
BENCHMARK(storeLoad)->Apply(librarySizes);
BENCHMARK(storeRead)->Apply(librarySizes);
