// SPDX-License-Identifier: GPL-3.0-or-later
// The disk's floor under every setter of the store: what one durable write of almost nothing
// costs, before any serialization.
#include "bench/benchsupport.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Rewrites 4 KiB in place and waits until the disk has them: the flush alone.
void fdatasyncOnly(benchmark::State &state)
{
    QTemporaryDir dir;
    const QByteArray path = dir.filePath(QStringLiteral("flush")).toLocal8Bit();
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const QByteArray block(4096, 'x');
    for (auto _ : state) {
        if (::pwrite(fd, block.constData(), size_t(block.size()), 0) != block.size() ||
            ::fdatasync(fd) != 0) {
            state.SkipWithError("write or fdatasync failed");
            break;
        }
    }
    ::close(fd);
}

// The store's way with a file of `range` bytes: temporary file, flush to disk, rename.
void saveFileCommit(benchmark::State &state)
{
    QTemporaryDir dir;
    saveFileCommits(state, dir.filePath(QStringLiteral("defaults.json")),
                    QByteArray(state.range(0), 'x'));
}

} // namespace

BENCHMARK(fdatasyncOnly)->UseRealTime()->Unit(benchmark::kMillisecond);
// 100 B, and about the size of a library of 1,000 and 10,000 scripts of 1 KiB.
BENCHMARK(saveFileCommit)
    ->Arg(100)
    ->Arg(1 << 20)
    ->Arg(10 << 20)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
