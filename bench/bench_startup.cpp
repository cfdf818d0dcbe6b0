// Start-up to the window shown, and peak memory after start-up, of Kelvoran against a bare Qt
// window with a tray icon, side by side in one run. Needs an X server with a tray host (run it
// through scripts/bench.sh). Each program is started in turn, several rounds; "shown" is when X
// reports the program's main window viewable.
//
//   bench_startup [rounds]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

QByteArray capture(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    p.waitForFinished(10000);
    return p.readAllStandardOutput();
}

// Whether X shows a viewable window of at least 100x100 pixels belonging to the process.
bool mainWindowShown(qint64 pid)
{
    const QByteArray ids = capture(QStringLiteral("xdotool"),
                                   {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                    QStringLiteral("--pid"), QString::number(pid)});
    for (const QByteArray &id : ids.split('\n')) {
        if (id.trimmed().isEmpty())
            continue;
        const QByteArray geo =
            capture(QStringLiteral("xdotool"),
                    {QStringLiteral("getwindowgeometry"), QString::fromLatin1(id.trimmed())});
        const int at = geo.indexOf("Geometry: ");
        if (at < 0)
            continue;
        const QList<QByteArray> wh = geo.mid(at + 10).trimmed().split('x');
        if (wh.size() == 2 && wh[0].toInt() >= 100 && wh[1].trimmed().toInt() >= 100)
            return true;
    }
    return false;
}

qint64 statusKb(qint64 pid, const char *field)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

struct Run
{
    double shownMs = -1;
    qint64 peakRssKb = -1;
};

Run runOnce(const QString &program, const QString &configDir)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configDir);
    p.setProcessEnvironment(env);
    QElapsedTimer timer;
    timer.start();
    p.start(program, {});
    Run run;
    if (!p.waitForStarted(10000))
        return run;
    while (timer.elapsed() < 20000) {
        if (mainWindowShown(p.processId())) {
            run.shownMs = double(timer.nsecsElapsed()) / 1e6;
            break;
        }
    }
    QThread::msleep(1000); // let start-up settle before reading the peak
    run.peakRssKb = statusKb(p.processId(), "VmHWM:");
    p.terminate();
    if (!p.waitForFinished(5000)) {
        p.kill();
        p.waitForFinished(5000);
    }
    return run;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 7;
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr, "bench_startup needs an X server with a tray host\n");
        return 1;
    }
    QTemporaryDir config;
    const QString kelvoran = QStringLiteral(KELVORAN_BIN_DIR "/kelvoran");
    const QString bare = QStringLiteral(BENCH_BIN_DIR "/bare_window");

    // One run of each first, so both find the shared libraries in the page cache.
    runOnce(kelvoran, config.path());
    runOnce(bare, config.path());

    std::vector<double> kShown, bShown, kRss, bRss;
    for (int r = 0; r < rounds; ++r) {
        const Run k = runOnce(kelvoran, config.path());
        const Run b = runOnce(bare, config.path());
        kShown.push_back(k.shownMs);
        bShown.push_back(b.shownMs);
        kRss.push_back(double(k.peakRssKb));
        bRss.push_back(double(b.peakRssKb));
    }
    const double ks = median(kShown), bs = median(bShown), kr = median(kRss), br = median(bRss);
    std::printf("start-up to window shown and peak RSS, median of %d rounds\n", rounds);
    std::printf("%-22s %12s %14s\n", "", "shown (ms)", "peak RSS (KiB)");
    std::printf("%-22s %12.1f %14.0f\n", "kelvoran", ks, kr);
    std::printf("%-22s %12.1f %14.0f\n", "bare Qt window + tray", bs, br);
    std::printf("%-22s %12.2f %14.2f   (target: at most 1.30)\n", "ratio", ks / bs, kr / br);
    return 0;
}
