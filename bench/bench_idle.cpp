// CPU used by the window while it waits in the tray, its poll ticks included. Needs an X server
// with a tray host (run it through scripts/bench.sh).
//
//   bench_idle [seconds]
#include "FakeGameServer.h"
#include "RecordingSoundPlayer.h"
#include "TempStore.h"
#include "app/Application.h"
#include "platform/HttpClient.h"
#include "platform/SoundPlayer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTimer>

#include <cstdio>
#include <sys/resource.h>

namespace {

double cpuMs()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 +
           (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(35, atoi(argv[1])) : 70;
    qunsetenv("http_proxy");
    qputenv("no_proxy", "127.0.0.1");
    qputenv("PULSE_SERVER", "unix:/nonexistent/kelvoran-bench"); // silent sounds

    kelvoran::test::TempStore store;
    kelvoran::test::FakeGameServer server;
    QList<kelvoran::test::FakePlayer> players;
    for (int i = 0; i < 32; ++i)
        players << kelvoran::test::FakePlayer{QStringLiteral("Player%1").arg(i),
                                              QStringLiteral("10.0.0.%1").arg(i + 1)};
    server.setPlayers(players);

    kelvoran::platform::PulseSoundPlayer sound;
    kelvoran::test::RecordingNotifier notifier;
    kelvoran::app::QtDialogs dialogs;
    kelvoran::app::Application kelvoran(store.registry(), sound, notifier, dialogs);
    kelvoran::app::frmMain &w = kelvoran.window;
    w.Form_Load();
    w.txtIPAddress->setText(QStringLiteral("127.0.0.1"));
    w.txtPortNumber->setText(server.portText());

    int ticks = 0;
    QObject::connect(&kelvoran.group.first(), &kelvoran::watch::Watcher::stateChanged, &w,
                     [&] { ++ticks; });

    QTimer::singleShot(500, &w, [&] { w.showMinimized(); });
    QElapsedTimer wall;
    double start = 0;
    QTimer::singleShot(2000, &w, [&] {
        start = cpuMs();
        wall.start();
    });
    QTimer::singleShot((seconds + 2) * 1000, &app, &QCoreApplication::quit);
    QApplication::exec();

    const double total = cpuMs() - start;
    const double secs = double(wall.elapsed()) / 1000.0;
    std::printf("in the tray for %.1f s (%s), poll interval %d ms\n", secs,
                w.isVisible() ? "window still shown: no tray" : "window hidden", w.timerInterval());
    std::printf("ticks: %d, CPU in all: %.1f ms in %.1f s (%.3f ms a second)\n", ticks, total, secs,
                total / secs);
    return 0;
}
