// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// What one run of a script gave back.
struct ScriptOutcome {
    bool failed = false;
    QString result;       // the script's standard output; empty when it printed nothing
    QString errorMessage; // set when failed
    bool stopped = false; // ended because ZapRun quits: nothing to report
};

// Runs script bodies with the POSIX shell, or with the interpreter a leading "#!" line names.
// A run is synchronous: it returns once the script's own process has exited. Meanwhile the event
// loop keeps serving the clipboard and the desktop, and user input made meanwhile is dropped.
// The script runs in a session of its own: nothing it signals to its group reaches ZapRun.
// When the application quits during a run, the script's own process is ended (what it left in
// the background stays) and no further run starts.
class Interpreter {
public:
    static ScriptOutcome run(const QString &source);

    // How much of each output stream a run keeps; the rest is read and dropped.
    static constexpr qsizetype kMaxCapture = 64 * 1024;
};
