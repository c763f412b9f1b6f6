#pragma once

#include <QLocalServer>
#include <QObject>

// One ZapRun per user and desktop session: a later start hands a re-open request to the
// running one over a local socket that only the same user may use.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    explicit SingleInstance(QObject *parent = nullptr);

    // True when this process is the first and now listens; false when a running one was found
    // and asked to re-open.
    bool claim();

    // The socket's path: in $XDG_RUNTIME_DIR, else in a private folder under the temporary one.
    static QString serverPath();

signals:
    void reopenRequested();

private:
    void acceptConnection();
    static bool askRunningToReopen(const QString &path);

    QLocalServer server_;
};
