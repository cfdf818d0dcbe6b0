// Wake-ups of the real program while it waits in the tray: the built `kelvoran --minimized`
// against a local fake game server with 32 players on line, at its real poll interval. A wake-up
// is a context switch of any of its threads (voluntary or not), counted from
// /proc/PID/task/*/status over a window that starts after a few seconds of settling, with the
// count of each thread. Two runs:
//   (a) nobody watched on line, no sound server (sounds would be silent);
//   (b) a watched friend on line, announced with a real WAV file to a sound server that accepts
//       the connection and never answers, so the announcement's sound hangs.
// Needs an X server with a tray host (run it through scripts/bench.sh) and sox.
//
//   bench_idle [seconds]     (default 60)
#include "FakeGameServer.h"
#include "TempStore.h"
#include "settings/SettingsStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <cstdio>
#include <map>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr int kSettleSeconds = 3;

struct Thread
{
    QByteArray name;
    qint64 switches = 0;
};
using Threads = std::map<qint64, Thread>; // by thread id

// Every thread of the process now, with its context switches so far.
Threads threadsOf(qint64 pid)
{
    Threads threads;
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString &tid : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile status(tasks + '/' + tid + "/status");
        if (!status.open(QIODevice::ReadOnly))
            continue; // ended meanwhile
        Thread &t = threads[tid.toLongLong()];
        for (const QByteArray &line : status.readAll().split('\n')) {
            const QByteArray value = line.mid(line.indexOf(':') + 1).trimmed();
            if (line.startsWith("Name:"))
                t.name = value;
            else if (line.startsWith("voluntary_ctxt_switches:") ||
                     line.startsWith("nonvoluntary_ctxt_switches:"))
                t.switches += value.toLongLong();
        }
    }
    return threads;
}

// A unix socket that takes calls and never answers them: a hung sound server.
int hungServer(const QString &path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{AF_UNIX, {}};
    qstrncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof address.sun_path);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(fd, 16) != 0)
        std::printf("cannot make the hung sound server %s\n", qPrintable(path));
    return fd;
}

void measure(const char *title, kelvoran::test::FakeGameServer &server, bool friendOnLine,
             int seconds)
{
    std::printf("--- %s\n", title);
    kelvoran::test::TempStore store; // its folder is the program's XDG_CONFIG_HOME
    const QString dir = store.dirPath();
    QString wav, pulse = "unix:" + dir + "/no-sound-server";
    int hung = -1;
    if (friendOnLine) {
        wav = dir + "/friend.wav";
        if (QProcess::execute("sox", {"-n", "-r", "22050", "-c", "1", "-b", "16", wav, "synth", "1",
                                      "sine", "440"}) != 0)
            std::printf("sox could not make %s\n", qPrintable(wav));
        store.registry().addEntry(QStringLiteral("Frd_Player3"));
        pulse = "unix:" + dir + "/hung";
        hung = hungServer(dir + "/hung");
    }
    kelvoran::settings::saveSettings(store.registry(), {dir + "/server.ini", "127.0.0.1",
                                                        server.portText(), "admin", "pw", wav, ""});
    store.close();
    QDir(dir).mkdir("run", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", dir);
    env.insert("XDG_RUNTIME_DIR", dir + "/run");
    env.insert("PULSE_SERVER", pulse);
    env.remove("KELVORAN_POLL_INTERVAL_MS"); // the real interval
    QProcess kelvoran;
    kelvoran.setProcessEnvironment(env);
    kelvoran.setStandardOutputFile(QProcess::nullDevice());
    kelvoran.setStandardErrorFile(dir + "/stderr.txt");
    kelvoran.start(KELVORAN_BIN_DIR "/kelvoran", {"--minimized"});
    if (!kelvoran.waitForStarted()) {
        std::printf("cannot start %s\n", KELVORAN_BIN_DIR "/kelvoran");
        return;
    }
    const qint64 pid = kelvoran.processId();
    QThread::sleep(kSettleSeconds);

    // Looked at every 50 ms, so that a thread that ends in the window (a poll's download runs in
    // one) is counted up to its last look; one that lives less than that can be missed.
    const Threads before = threadsOf(pid);
    Threads after = before;
    const int requests = server.requestCount();
    QElapsedTimer wall;
    wall.start();
    while (wall.elapsed() < seconds * 1000LL) {
        QThread::msleep(50);
        for (const auto &[tid, t] : threadsOf(pid))
            after[tid] = t;
    }
    const double secs = double(wall.elapsed()) / 1000.0;
    const int polls = server.requestCount() - requests;
    const Threads last = threadsOf(pid);

    qint64 all = 0;
    for (const auto &[tid, t] : after)
        all += t.switches - (before.count(tid) ? before.at(tid).switches : 0);
    std::printf("wake-ups: %lld in %.1f s = %.2f a second; polls in the window: %d\n", all, secs,
                double(all) / secs, polls);
    for (const auto &[tid, t] : after) {
        const bool old = before.count(tid);
        const qint64 n = t.switches - (old ? before.at(tid).switches : 0);
        if (n > 0)
            std::printf("  thread %lld %-16s %6lld (%.2f a second)%s%s\n", tid, t.name.constData(),
                        n, double(n) / secs, old ? "" : ", began in the window",
                        last.count(tid) ? "" : ", ended in the window");
    }

    kelvoran.terminate();
    if (!kelvoran.waitForFinished(5000)) {
        kelvoran.kill();
        kelvoran.waitForFinished();
    }
    if (hung >= 0)
        ::close(hung);
    QFile said(dir + "/stderr.txt");
    if (said.open(QIODevice::ReadOnly))
        for (const QByteArray &line : said.readAll().split('\n'))
            if (!line.isEmpty())
                std::printf("  said: %s\n", line.constData());
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, atoi(argv[1])) : 60;
    qunsetenv("http_proxy");
    qputenv("no_proxy", "127.0.0.1");

    kelvoran::test::FakeGameServer server;
    QList<kelvoran::test::FakePlayer> players;
    for (int i = 0; i < 32; ++i)
        players << kelvoran::test::FakePlayer{QStringLiteral("Player%1").arg(i),
                                              QStringLiteral("10.0.0.%1").arg(i + 1)};
    server.setPlayers(players);

    std::printf("kelvoran in the tray, %d s settling, then %d s counted; poll interval 32768 ms\n",
                kSettleSeconds, seconds);
    measure("(a) nobody watched on line, no sound server", server, false, seconds);
    measure("(b) a watched friend on line, the sound server hangs", server, true, seconds);
    return 0;
}
