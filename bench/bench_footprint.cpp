// Resident memory and start-up time of Kelvoran waiting in the tray, beside a bare Qt program
// that shows only a tray icon. Needs an X server with a tray host (scripts/bench.sh).
//
//   bench_footprint [kelvoran binary, default the one built beside it] [runs, default 5]
//   bench_footprint --bare      (the bare program itself)
#include "TempStore.h"
#include "settings/SettingsStore.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSystemTrayIcon>
#include <QThread>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// A field of /proc/PID/status or /proc/PID/smaps_rollup, in KiB.
long procKiB(qint64 pid, const char *file, const char *field)
{
    QFile f(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(file)));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QRegularExpression line(QStringLiteral("^%1:\\s+(\\d+) kB").arg(QLatin1String(field)),
                                  QRegularExpression::MultilineOption);
    return line.match(QString::fromLatin1(f.readAll())).captured(1).toLong();
}

// Whether the process has a window on the X server (its tray icon's, once it is docked).
bool hasWindow(qint64 pid)
{
    return QProcess::execute(QStringLiteral("sh"),
                             {QStringLiteral("-c"),
                              QStringLiteral("xdotool search --pid %1 >/dev/null").arg(pid)}) == 0;
}

struct Figures
{
    double startMs = 0;
    long rss = 0, pss = 0;
};

Figures measure(const QString &program, const QStringList &args, const QProcessEnvironment &env)
{
    QProcess p;
    p.setProcessEnvironment(env);
    QElapsedTimer clock;
    clock.start();
    p.start(program, args);
    p.waitForStarted();
    Figures f;
    while (!hasWindow(p.processId()) && clock.elapsed() < 20000)
        QThread::msleep(5);
    f.startMs = double(clock.nsecsElapsed()) / 1e6;
    QThread::msleep(3000); // settled in the tray
    f.rss = procKiB(p.processId(), "status", "VmRSS");
    f.pss = procKiB(p.processId(), "smaps_rollup", "Pss");
    p.kill();
    p.waitForFinished();
    return f;
}

Figures median(const QString &program, const QStringList &args, const QProcessEnvironment &env,
               int runs)
{
    std::vector<Figures> all;
    for (int i = 0; i < runs; ++i)
        all.push_back(measure(program, args, env));
    const auto mid = [&](auto member) {
        std::vector<double> v;
        for (const Figures &f : all)
            v.push_back(double(f.*member));
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    return {mid(&Figures::startMs), long(mid(&Figures::rss)), long(mid(&Figures::pss))};
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && QByteArray(argv[1]) == "--bare") {
        QApplication app(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        QWidget window;
        QPixmap pixmap(16, 16);
        pixmap.fill(Qt::darkBlue);
        QSystemTrayIcon icon{QIcon(pixmap)};
        icon.show();
        return QApplication::exec();
    }
    QCoreApplication app(argc, argv);
    const QString kelvoran =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(KELVORAN_BIN_DIR "/kelvoran");
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 5;

    // Kelvoran with complete settings, polling a server that is not there, silent sounds.
    kelvoran::test::TempStore store;
    kelvoran::settings::saveSettings(
        store.registry(),
        {store.dirPath() + "/server.ini", "127.0.0.1", "9", "admin", "pw", "/f.wav", "/e.wav"});
    store.close();
    QDir(store.dirPath()).mkdir(QStringLiteral("run"));
    QFile::setPermissions(store.dirPath() + "/run",
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), store.dirPath());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), store.dirPath() + "/run");
    env.insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:/nonexistent/kelvoran-bench"));

    const Figures bare =
        median(QCoreApplication::applicationFilePath(), {QStringLiteral("--bare")}, env, runs);
    const Figures k = median(kelvoran, {QStringLiteral("--minimized")}, env, runs);
    std::printf("median of %d runs      start-up to the tray   resident (VmRSS)   proportional "
                "(Pss)\n",
                runs);
    std::printf("bare Qt tray program   %8.0f ms           %8ld KiB       %8ld KiB\n", bare.startMs,
                bare.rss, bare.pss);
    std::printf("%-22s %8.0f ms           %8ld KiB       %8ld KiB\n",
                qPrintable(QFileInfo(kelvoran).fileName()), k.startMs, k.rss, k.pss);
    std::printf("ratio                  %8.2fx            %8.2fx          %8.2fx\n",
                k.startMs / bare.startMs, double(k.rss) / double(bare.rss),
                double(k.pss) / double(bare.pss));
    return 0;
}
