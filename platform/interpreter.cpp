#include "platform/interpreter.h"

#include <QDir>
#include <QEventLoop>
#include <QProcess>
#include <QRegularExpression>
#include <QScopedValueRollback>
#include <QTemporaryFile>

#include <cstring>

namespace {

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
    process.setWorkingDirectory(QDir::homePath());
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
    if (process.state() != QProcess::NotRunning)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
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
    if (busy)
        return failure(QStringLiteral("Another script is still running."));
    const QScopedValueRollback guard(busy, true);

    QTemporaryFile file(QDir::tempPath() + QStringLiteral("/zaprun-XXXXXX"));
    if (!file.open() || file.write(source.toUtf8()) < 0 || !file.flush())
        return failure(
            QStringLiteral("The script could not be prepared: %1.").arg(file.errorString()));
    const Command command = commandFor(source, file.fileName());
    if (command.checkSyntaxFirst) {
        const ScriptOutcome check = execute(
            {command.program, {QStringLiteral("-n"), file.fileName()}, false}, file.fileName());
        if (check.failed)
            return check;
    }
    return execute(command, file.fileName());
}
