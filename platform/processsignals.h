// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

class QSocketNotifier;

// The process signals that end ZapRun from outside (SIGTERM, SIGHUP, SIGINT) turned into one Qt
// signal, delivered by the event loop, so that the program quits as its own menu would; should
// the process still run seconds later (the loop stuck in a call that never returns), the signal
// ends it at once.
// SIGXFSZ is ignored: a file-size limit then makes a write fail, not the program. One object
// per process; its handlers stay installed as long as it lives.
class ProcessSignals : public QObject {
    Q_OBJECT

public:
    explicit ProcessSignals(QObject *parent = nullptr);
    ~ProcessSignals() override;

signals:
    void quitRequested();

private:
    void drainPipe();

    QSocketNotifier *notifier_ = nullptr;
};
