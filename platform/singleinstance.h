// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <sys/types.h>

#include <map>
#include <memory>

class QSocketNotifier;

// One ZapRun per user and desktop session: a later start hands a re-open request to the
// running one over a local socket that only the same user may use.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    explicit SingleInstance(QObject *parent = nullptr);
    ~SingleInstance() override;

    enum class Claim {
        First,           // this process now listens (or, said on stderr, runs alone)
        ReopenedRunning, // a running one was found and has re-opened
        RunningDeaf,     // a running one was found but did not answer; said on stderr
    };
    Claim claim();

    // The desktop session's key: the X display number without its screen, or the Wayland
    // socket's name.
    static QString sessionKey();
    // The socket's path once claim() listens; empty before.
    QString serverPath() const { return path_; }

signals:
    void reopenRequested();

private:
    struct Peer {
        std::unique_ptr<QSocketNotifier> notifier;
        QByteArray received;
    };

    enum class Outcome { Listening, AnotherRuns, AnotherDeaf, Unusable };
    Outcome claimIn(const QString &folder, QString &reason);
    static Claim claimFrom(Outcome outcome);
    bool listenAt(const QString &path, QString &reason);
    void acceptConnections();
    void restFromAccepting();
    void readPeer(int fd);
    void closePeer(int fd);

    int listener_ = -1;
    std::unique_ptr<QSocketNotifier> listenerNotifier_;
    static constexpr int kFirstRestMs = 100;
    QTimer acceptAgain_;
    int restMs_ = kFirstRestMs;
    std::map<int, Peer> peers_;
    QString path_;
    ino_t socketInode_ = 0;
};
