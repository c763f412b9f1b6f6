// Kills the crash writer with SIGKILL at seeded random moments and, after every kill, checks the
// store file: it parses, holds exactly the state after the last reported write or the one after
// it, and its names and bodies pair up. Each restart goes on from the state left behind, after
// undoing an operation that a kill cut short between its two writes.
// ZAPRUN_CRASH_KILLS (default 200) and ZAPRUN_CRASH_SEED choose the run.
#include "crashmodel.h"

#include "store/keys.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTemporaryDir>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

namespace {

int failures = 0;

void fail(const QString &what)
{
    ++failures;
    std::fprintf(stderr, "FAIL: %s\n", qPrintable(what));
}

struct Run {
    pid_t pid = -1;
    int out = -1;
    QByteArray pending;
    std::uint64_t last = 0;
    bool eof = false;
};

Run startWriter(const char *writer, std::uint64_t seed, std::uint64_t start, const QString &log)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return {};
    const QByteArray args[] = {QByteArray::number(quint64(seed)),
                               QByteArray::number(quint64(start)),
                               QByteArray::number(quint64(start + 400))};
    const QByteArray logPath = QFile::encodeName(log);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeFds[1], STDOUT_FILENO);
        const int err = ::open(logPath.constData(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        ::dup2(err, STDERR_FILENO);
        ::close(pipeFds[0]);
        ::execl(writer, writer, args[0].constData(), args[1].constData(), args[2].constData(),
                static_cast<char *>(nullptr));
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    return {pid, pipeFds[0], {}, start, false};
}

// Reads whatever the writer reported, waiting at most timeoutMs for something new.
void readReports(Run &run, int timeoutMs)
{
    pollfd fd{run.out, POLLIN, 0};
    if (::poll(&fd, 1, timeoutMs) <= 0)
        return;
    char buffer[4096];
    const ssize_t n = ::read(run.out, buffer, sizeof buffer);
    if (n <= 0) {
        run.eof = n == 0 || errno != EINTR;
        return;
    }
    run.pending.append(buffer, n);
    qsizetype newline;
    while ((newline = run.pending.indexOf('\n')) >= 0) {
        run.last = run.pending.left(newline).toULongLong();
        run.pending.remove(0, newline + 1);
    }
}

QString describe(const crash::Arrays &arrays)
{
    return QStringLiteral("%1 names, %2 bodies").arg(arrays.names.size()).arg(arrays.bodies.size());
}

// The store as it stands, or why it cannot be read.
std::optional<crash::Arrays> readStore(const QString &path, QString &why)
{
    QFile file(path);
    if (!file.exists())
        return crash::Arrays{};
    if (!file.open(QIODevice::ReadOnly)) {
        why = file.errorString();
        return std::nullopt;
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (!document.isObject()) {
        why = QStringLiteral("does not parse: ") + error.errorString();
        return std::nullopt;
    }
    const QJsonObject object = document.object();
    crash::Arrays arrays{true, {}, {}};
    for (const QJsonValue &v : object.value(all_scripts_name).toArray())
        arrays.names.append(v.toString());
    for (const QJsonValue &v : object.value(all_scripts).toArray())
        arrays.bodies.append(v.toString());
    return arrays;
}

// The file alone shows the pairing: entry i's body is empty or starts with entry i's name; while
// a write is in flight the names may run one ahead (add) or one behind (delete).
void checkPairs(const crash::Arrays &arrays, std::uint64_t write)
{
    const qsizetype gap = arrays.names.size() - arrays.bodies.size();
    if (gap < -1 || gap > 1 || (gap != 0 && write % 2 == 0))
        fail(QStringLiteral("after write %1: %2").arg(write).arg(describe(arrays)));
    for (qsizetype i = 0; gap == 0 && i < arrays.names.size(); ++i) {
        const QString &body = arrays.bodies[i];
        if (!body.isEmpty() && !body.startsWith(QStringLiteral("# %1\n").arg(arrays.names[i])))
            fail(QStringLiteral("after write %1: entry %2 (%3) holds another script's body")
                     .arg(write)
                     .arg(i)
                     .arg(arrays.names[i]));
    }
}

QByteArray digest(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: crash_kill_test CRASH_WRITER\n");
        return 2;
    }
    const int kills = qEnvironmentVariableIsSet("ZAPRUN_CRASH_KILLS")
                          ? qEnvironmentVariableIntValue("ZAPRUN_CRASH_KILLS")
                          : 200;
    const std::uint64_t seed = qEnvironmentVariableIsSet("ZAPRUN_CRASH_SEED")
                                   ? qEnvironmentVariable("ZAPRUN_CRASH_SEED").toULongLong()
                                   : 20240611;
    QTemporaryDir home;
    home.setAutoRemove(false);
    const QString config = home.filePath(QStringLiteral("config"));
    const QString folder = config + QStringLiteral("/zaprun");
    const QString store = folder + QStringLiteral("/defaults.json");
    const QString log = home.filePath(QStringLiteral("writer.err"));
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(home.path()));
    std::signal(SIGPIPE, SIG_IGN);

    std::mt19937_64 rng(seed);
    std::uint64_t state = 0;   // writes the store holds
    double writeUs = 20000;    // running mean of the time between two reported writes
    QSet<QByteArray> unpaired; // digests of the files left between an operation's writes
    int leftovers = 0, midWrite = 0;
    QElapsedTimer clock;
    clock.start();
    for (int kill = 0; kill < kills && failures == 0; ++kill) {
        const QByteArray before = fileBytes(store);
        // Left between an operation's two writes: the restart undoes the half-done operation.
        if (state % 2 == 1) {
            unpaired.insert(digest(before));
            --state;
        }
        Run run = startWriter(argv[1], seed, state, log);
        if (run.pid < 0) {
            fail(QStringLiteral("cannot start the writer"));
            break;
        }
        // Past a few complete writes, then a random fraction of the next ones.
        const std::uint64_t target = state + 1 + rng() % 3;
        QElapsedTimer waited, between;
        waited.start();
        std::uint64_t seen = run.last;
        while (run.last < target && !run.eof && waited.elapsed() < 60000) {
            readReports(run, 100);
            if (run.last != seen) {
                if (seen != state)
                    writeUs = 0.8 * writeUs + 0.2 * double(between.nsecsElapsed()) / 1000.0;
                seen = run.last;
                between.start();
            }
        }
        if (run.last < target) {
            fail(QStringLiteral("the writer reported no write %1 within a minute").arg(target));
            ::kill(run.pid, SIGKILL);
        } else {
            ::usleep(useconds_t(std::uniform_real_distribution<double>(0, 2.5 * writeUs)(rng)));
            ::kill(run.pid, SIGKILL);
        }
        int status = 0;
        ::waitpid(run.pid, &status, 0);
        while (!run.eof)
            readReports(run, 1000);
        ::close(run.out);
        if (!WIFSIGNALED(status) || WTERMSIG(status) != SIGKILL)
            fail(QStringLiteral("the writer ended on its own (status %1); see %2")
                     .arg(status)
                     .arg(log));

        QString why;
        const std::optional<crash::Arrays> found = readStore(store, why);
        if (!found) {
            fail(QStringLiteral("kill %1 after write %2: the store %3")
                     .arg(kill)
                     .arg(run.last)
                     .arg(why));
            break;
        }
        std::uint64_t matched = 0;
        bool matches = false;
        for (std::uint64_t w : {run.last, run.last + 1}) {
            const crash::Arrays expected = crash::arraysAfter(seed, w);
            if (found->exists == expected.exists && found->names == expected.names &&
                found->bodies == expected.bodies) {
                matched = w;
                matches = true;
                break;
            }
        }
        if (!matches) {
            fail(QStringLiteral("kill %1 after write %2: the store (%3) is neither the state "
                                "after write %2 nor the next")
                     .arg(kill)
                     .arg(run.last)
                     .arg(describe(*found)));
            break;
        }
        midWrite += matched > run.last;
        state = matched;
        checkPairs(*found, state);

        // A store left between two writes is copied aside, byte for byte, before the restart
        // writes over it; other files are what killed atomic writes leave behind.
        for (const QFileInfo &entry : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden)) {
            if (entry.fileName() == QLatin1String("defaults.json") ||
                entry.fileName() == QLatin1String(".defaults.json.previous"))
                continue;
            if (entry.fileName().startsWith(QLatin1String("defaults.json.original-"))) {
                if (!unpaired.contains(digest(fileBytes(entry.filePath()))))
                    fail(QStringLiteral("%1 is not a copy of a store left by a kill")
                             .arg(entry.fileName()));
            } else {
                ++leftovers;
            }
            QFile::remove(entry.filePath());
        }
    }
    std::printf("seed %llu: %d kills in %lld ms, %d landed after a write's commit, mean write "
                "%.1f ms; %d temporary files were left behind by killed writes\n",
                static_cast<unsigned long long>(seed), kills, clock.elapsed(), midWrite,
                writeUs / 1000.0, leftovers);
    if (failures == 0)
        home.remove();
    else
        std::printf("kept %s\n", qPrintable(home.path()));
    return failures == 0 ? 0 : 1;
}
