// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/interpreter.h"

#include <QApplication>

#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>

extern char **environ;

namespace {

// The floor: one bare process start of the shell doing nothing.
void bareSpawn(benchmark::State &state)
{
    char sh[] = "/bin/sh";
    char dashC[] = "-c";
    char colon[] = ":";
    char *argv[] = {sh, dashC, colon, nullptr};
    for (auto _ : state) {
        pid_t pid = 0;
        if (posix_spawn(&pid, sh, nullptr, nullptr, argv, environ) != 0) {
            state.SkipWithError("posix_spawn failed");
            break;
        }
        int status = 0;
        waitpid(pid, &status, 0);
    }
}

// A script that does nothing, through everything a menu choice goes through.
void emptyScript(benchmark::State &state)
{
    for (auto _ : state) {
        const ScriptOutcome outcome = Interpreter::run(QString());
        if (outcome.failed) {
            state.SkipWithError("the empty script failed");
            break;
        }
    }
}

} // namespace

BENCHMARK(bareSpawn)->Unit(benchmark::kMicrosecond);
BENCHMARK(emptyScript)->Unit(benchmark::kMicrosecond);
