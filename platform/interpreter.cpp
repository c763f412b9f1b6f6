// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/interpreter.h"

#include "platform/homefolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QMouseEvent>
#include <QProcess>
#include <QRegularExpression>
#include <QScopedValueRollback>
#include <QTemporaryFile>

#include <csignal>
#include <cstring>
#include <unistd.h>

namespace {

constexpr int kGraceAfterTerminateMs = 3000;
bool quitting = false; // the application quit during a run: nothing more may start

struct Command {
    QString program;
    QStringList arguments;
    bool checkSyntaxFirst = true;
};

ScriptOutcome failure(const QString &message)
{
    return {true, {}, message};
}

// Like the kernel: "#!" then the interpreter's path, then at most one argument (the rest).
Command commandFor(const QString &source, const QString &path)
{
    if (!source.startsWith(QLatin1String("#!")))
        return {QStringLiteral("/bin/sh"), {path}, true};
    const QString line = source.mid(2, source.indexOf(QLatin1Char('\n')) - 2).trimmed();
    const qsizetype gap = line.indexOf(QRegularExpression(QStringLiteral("\\s")));
    Command command{line.left(gap), {}, false};
    if (gap >= 0)
        command.arguments.append(line.mid(gap).trimmed());
    command.arguments.append(path);
    return command;
}

// Clicks and keys made while a script runs are dropped, not held back until it ends: replayed
// later they would act on whatever is under them then. Moves without a button and hovering
// pass, so that the tray icon's tooltip still tells what runs.
class InputDropper : public QObject {
public:
    InputDropper() { QCoreApplication::instance()->installEventFilter(this); }
    ~InputDropper() override { QCoreApplication::instance()->removeEventFilter(this); }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::MouseMove:
            return static_cast<QMouseEvent *>(event)->buttons() != Qt::NoButton;
        case QEvent::HoverEnter:
        case QEvent::HoverLeave:
        case QEvent::HoverMove:
        case QEvent::Enter:
        case QEvent::Leave:
            return false;
        case QEvent::Shortcut:
            return true;
        default:
            return event->isInputEvent();
        }
    }
};

// Runs in the child between fork and exec: a session of its own keeps whatever the script
// signals to its group or session ("kill 0") away from ZapRun. The script starts as a program
// the desktop starts: every signal at its default and none blocked, whatever ZapRun chose
// (SIGXFSZ ignored) or was left by its parent.
void detachChild()
{
    ::setsid();
    for (int number = 1; number < NSIG; ++number)
        ::signal(number, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

// Only the script's own process: what it started in the background on purpose stays.
ScriptOutcome stopForQuit(QProcess &process)
{
    quitting = true;
    process.terminate();
    if (!process.waitForFinished(kGraceAfterTerminateMs)) {
        process.kill();
        process.waitForFinished(-1);
    }
    return {false, {}, {}, true};
}

// A full disk or a file-size limit cuts a large write short without an error; the write that
// follows fails and says why. Either way a body cut short must never run.
bool writeWhole(QFileDevice &file, const QByteArray &bytes)
{
    qint64 written = 0;
    while (written < bytes.size()) {
        const qint64 step = file.write(bytes.constData() + written, bytes.size() - written);
        if (step <= 0)
            return false;
        written += step;
    }
    return file.flush();
}

void appendBounded(QByteArray &into, const QByteArray &more)
{
    into.append(more.left(Interpreter::kMaxCapture - into.size()));
}

QString describeEnd(const QProcess &process)
{
    if (process.exitStatus() == QProcess::CrashExit) {
        const int signal = process.exitCode();
        return QStringLiteral("The script was stopped by signal %1 (%2).")
            .arg(signal)
            .arg(QString::fromLocal8Bit(strsignal(signal)));
    }
    return QStringLiteral("The script ended with exit status %1.").arg(process.exitCode());
}

QString errorText(QByteArray stderrBytes, const QString &path)
{
    if (stderrBytes.endsWith('\n'))
        stderrBytes.chop(1);
    QString text = QString::fromUtf8(stderrBytes);
    return text.replace(path, QStringLiteral("script"));
}

ScriptOutcome execute(const Command &command, const QString &path)
{
    QProcess process;
    process.setProgram(command.program);
    process.setArguments(command.arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setWorkingDirectory(homeFolder());
    process.setChildProcessModifier(detachChild);
    QByteArray out;
    QByteArray err;
    QEventLoop loop;
    QObject::connect(&process, &QProcess::readyReadStandardOutput, &loop,
                     [&] { appendBounded(out, process.readAllStandardOutput()); });
    QObject::connect(&process, &QProcess::readyReadStandardError, &loop,
                     [&] { appendBounded(err, process.readAllStandardError()); });
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    process.start();
    if (!process.waitForStarted(-1))
        return failure(QStringLiteral("The script could not be started: %1 (%2).")
                           .arg(process.errorString(), command.program));
    if (process.state() != QProcess::NotRunning) {
        const InputDropper dropper;
        loop.exec();
    }
    // Only the application quitting ends the loop before the script has ended.
    if (process.state() != QProcess::NotRunning)
        return stopForQuit(process);
    appendBounded(out, process.readAllStandardOutput());
    appendBounded(err, process.readAllStandardError());
    if (process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return {false, QString::fromUtf8(out), {}};
    const QString message = errorText(err, path);
    return failure(message.isEmpty() ? describeEnd(process) : message);
}

} // namespace

ScriptOutcome Interpreter::run(const QString &source)
{
    static bool busy = false;
    if (quitting)
        return {false, {}, {}, true};
    if (busy)
        return failure(QStringLiteral("Another script is still running."));
    const QScopedValueRollback guard(busy, true);

    QTemporaryFile file(QDir::tempPath() + QStringLiteral("/zaprun-XXXXXX"));
    if (!file.open() || !writeWhole(file, source.toUtf8()))
        return failure(
            QStringLiteral("The script could not be prepared: %1.").arg(file.errorString()));
    const Command command = commandFor(source, file.fileName());
    if (command.checkSyntaxFirst) {
        const ScriptOutcome check = execute(
            {command.program, {QStringLiteral("-n"), file.fileName()}, false}, file.fileName());
        if (check.failed || check.stopped)
            return check;
    }
    return execute(command, file.fileName());
}
