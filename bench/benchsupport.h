// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "store/defaults.h"
#include "store/keys.h"

#include <QSaveFile>
#include <QStringList>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

// A library of `count` scripts as the benchmarks use it: distinct names, bodies of 1 KiB.
inline QStringList scriptNames(qsizetype count)
{
    QStringList names;
    names.reserve(count);
    for (qsizetype i = 0; i < count; ++i)
        names << QStringLiteral("script number %1").arg(i);
    return names;
}

inline QStringList scriptBodies(qsizetype count, QChar fill = QLatin1Char('x'))
{
    return QStringList(count, QString(1024, fill));
}

// A store of its own in a temporary folder, holding `count` scripts.
struct StoredLibrary {
    explicit StoredLibrary(qsizetype count)
        : path(dir.filePath(QStringLiteral("defaults.json")))
        , defaults(path)
    {
        defaults.setStringArray(all_scripts_name, scriptNames(count));
        defaults.setStringArray(all_scripts, scriptBodies(count));
    }

    QTemporaryDir dir;
    QString path;
    Defaults defaults;
};

// The library sizes every size-dependent benchmark runs at, and the growth it reports.
inline void librarySizes(benchmark::internal::Benchmark *bench)
{
    bench->Arg(10)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Complexity();
}

// The disk's floor under every change of the store: durable writes of `bytes` as the store makes
// them (temporary file, flush to disk, rename), one per iteration.
inline void saveFileCommits(benchmark::State &state, const QString &path, const QByteArray &bytes)
{
    for (auto _ : state) {
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) < 0 || !file.commit()) {
            state.SkipWithError("QSaveFile failed");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * bytes.size());
}
