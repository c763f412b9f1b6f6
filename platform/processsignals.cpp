// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/processsignals.h"

#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr std::array kQuitSignals{SIGTERM, SIGHUP, SIGINT};
// Longer than quitting takes, a running script's ending included.
constexpr unsigned kLastResortSeconds = 10;
int wakePipe[2] = {-1, -1};
volatile std::sig_atomic_t quitSignal = 0;

// A handler may do next to nothing: it wakes the event loop, and keeps a last resort in case
// the loop never comes back (stuck in a call that does not return).
void wake(int signal)
{
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(wakePipe[1], &byte, 1);
    if (quitSignal == 0) {
        quitSignal = signal;
        ::alarm(kLastResortSeconds);
    }
    errno = savedErrno;
}

// The last resort: the signal ends the process as it would have without a handler.
void endAtOnce(int)
{
    ::signal(quitSignal, SIG_DFL);
    ::raise(quitSignal);
}

void setHandler(int signal, void (*handler)(int))
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(signal, &action, nullptr);
}

} // namespace

ProcessSignals::ProcessSignals(QObject *parent)
    : QObject(parent)
{
    setHandler(SIGXFSZ, SIG_IGN);
    // Close-on-exec: scripts must not inherit it. Non-blocking: a full pipe never stalls a handler.
    if (::pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    notifier_ = new QSocketNotifier(wakePipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &ProcessSignals::drainPipe);
    setHandler(SIGALRM, endAtOnce);
    for (const int signal : kQuitSignals)
        setHandler(signal, wake);
}

ProcessSignals::~ProcessSignals()
{
    setHandler(SIGXFSZ, SIG_DFL);
    if (!notifier_)
        return;
    for (const int signal : kQuitSignals)
        setHandler(signal, SIG_DFL);
    delete notifier_;
    ::close(wakePipe[0]);
    ::close(wakePipe[1]);
    wakePipe[0] = wakePipe[1] = -1;
}

void ProcessSignals::drainPipe()
{
    char bytes[64];
    while (::read(wakePipe[0], bytes, sizeof bytes) > 0) {
    }
    emit quitRequested();
}
