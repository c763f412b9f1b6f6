#pragma once

#include <QByteArray>
#include <QFile>
#include <QTemporaryFile>

#include <cstdio>
#include <unistd.h>

// Runs work with file descriptor 1 sent to a temporary file and returns what reached the file.
// The file is read before stdout is flushed here, so output that the code under test left in
// the stdio buffer does not count: the code must flush on its own. Test assertions belong
// outside work, since Qt Test writes its own log to stdout.
template <typename Work> QByteArray stdoutOf(Work work)
{
    std::fflush(stdout);
    QTemporaryFile file;
    if (!file.open())
        return QByteArrayLiteral("<no temporary file>");
    const int saved = ::dup(STDOUT_FILENO);
    if (saved < 0 || ::dup2(file.handle(), STDOUT_FILENO) < 0)
        return QByteArrayLiteral("<no redirection>");
    work();
    QFile reader(file.fileName());
    const QByteArray text = reader.open(QIODevice::ReadOnly) ? reader.readAll() : QByteArray();
    // Whatever the code failed to flush is dropped into the file, not into the test's log.
    std::fflush(stdout);
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    return text;
}
