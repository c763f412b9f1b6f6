// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/interpreter.h"

#include <QApplication>
#include <QTemporaryFile>

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

// Starts argv[0] with the given file actions; 0 when it could not start.
pid_t spawn(std::initializer_list<const char *> args,
            const posix_spawn_file_actions_t *actions = nullptr)
{
    std::vector<char *> argv;
    for (const char *arg : args)
        argv.push_back(const_cast<char *>(arg));
    argv.push_back(nullptr);
    pid_t pid = 0;
    return posix_spawn(&pid, argv[0], actions, nullptr, argv.data(), environ) == 0 ? pid : 0;
}

int waitFor(pid_t pid)
{
    int status = -1;
    if (pid > 0)
        waitpid(pid, &status, 0);
    return status;
}

// The floor: one bare process start of the shell doing nothing.
void bareSpawn(benchmark::State &state)
{
    for (auto _ : state) {
        if (waitFor(spawn({"/bin/sh", "-c", ":"})) != 0) {
            state.SkipWithError("the shell failed");
            break;
        }
    }
}

// The floor of a run that checks the syntax in a process of its own first: two bare starts,
// one after the other, of the shell on an empty file.
void checkThenRunSpawns(benchmark::State &state)
{
    QTemporaryFile file;
    file.open();
    const QByteArray path = file.fileName().toLocal8Bit();
    for (auto _ : state) {
        if (waitFor(spawn({"/bin/sh", "-n", path.constData()})) != 0 ||
            waitFor(spawn({"/bin/sh", path.constData()})) != 0) {
            state.SkipWithError("the shell failed");
            break;
        }
    }
}

// The same check while the running shell starts beside it, held on a pipe until the check
// passed, then sourcing the file: one start of the shell on the way, not two.
void checkBesideRunSpawns(benchmark::State &state)
{
    QTemporaryFile file;
    file.open();
    const QByteArray path = file.fileName().toLocal8Bit();
    for (auto _ : state) {
        int gate[2];
        if (pipe2(gate, O_CLOEXEC) != 0)
            break;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, gate[0], 0);
        const pid_t run =
            spawn({"/bin/sh", "-c", "read -r _ && exec </dev/null && . \"$0\"", path.constData()},
                  &actions);
        posix_spawn_file_actions_destroy(&actions);
        close(gate[0]);
        const bool passed = waitFor(spawn({"/bin/sh", "-n", path.constData()})) == 0 &&
                            write(gate[1], "\n", 1) == 1;
        close(gate[1]);
        if (waitFor(run) != 0 || !passed) {
            state.SkipWithError("the shell failed");
            break;
        }
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
BENCHMARK(checkThenRunSpawns)->Unit(benchmark::kMicrosecond);
BENCHMARK(checkBesideRunSpawns)->Unit(benchmark::kMicrosecond);
BENCHMARK(emptyScript)->Unit(benchmark::kMicrosecond);
