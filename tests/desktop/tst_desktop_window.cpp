// The window on a real X server with a real tray host and sound server: minimising hides it in
// the tray and the icon brings it back, a watched friend's visit is heard, and the real
// program's tray menu ends it at once while its poll waits on a silent server.
#include "FakeGameServer.h"
#include "RecordingSoundPlayer.h"
#include "SinkRecorder.h"
#include "TempStore.h"
#include "WindowDoubles.h"
#include "app/frmMain.h"
#include "watchlist/WatchList.h"

#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QtTest>

using namespace kelvoran;
using app::frmMain;

namespace {

QByteArray run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    return p.waitForFinished(30000) && p.exitCode() == 0 ? p.readAllStandardOutput() : "<failed>";
}

void clickAt(const QPoint &p, int button)
{
    run("xdotool", {"mousemove", "--sync", QString::number(p.x()), QString::number(p.y()), "click",
                    QString::number(button)});
}

// Whether X maps the window (what the user sees), not only what Qt believes.
bool viewable(WId id)
{
    return run("xwininfo", {"-id", QString::number(id)}).contains("Map State: IsViewable");
}

} // namespace

class DesktopWindowTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    test::TempStore t;
    test::ScriptedDialogs dialogs;
    test::RecordingNotifier notifier;

private slots:
    void initTestCase()
    {
        QVERIFY2(!qEnvironmentVariableIsEmpty("DISPLAY"), "no X server: run scripts/test.sh");
        QVERIFY2(!test::SinkRecorder::sinkName().isEmpty(), "no sound sink: run scripts/test.sh");
        QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 10000);
    }

    // Minimised, the window leaves the screen for the tray; a left click on the icon brings it
    // back with the polling on, the menu's Restore brings it back with the polling off.
    void minimiseHidesAndTheTrayIconBringsItBack()
    {
        test::HeldHttpClient http;
        test::RecordingSoundPlayer sound;
        frmMain w(t.registry(), http, sound, notifier, dialogs);
        w.Form_Load();
        QTRY_VERIFY(w.trayRecord->geometry().width() > 0 && viewable(w.winId()));
        w.showMinimized();
        QTRY_VERIFY(!viewable(w.winId()));
        QCOMPARE(w.timerInterval(), 32768);
        clickAt(w.trayRecord->geometry().center(), 1);
        QTRY_VERIFY(viewable(w.winId()));
        QCOMPARE(w.timerInterval(), 32768);
        w.showMinimized();
        QTRY_VERIFY(!viewable(w.winId()));
        clickAt(w.trayRecord->geometry().center(), 3);
        QTRY_VERIFY(w.mPopupSys->isVisible());
        QVERIFY(!w.isVisible());
        run("xdotool", {"key", "r"});
        QTRY_VERIFY(viewable(w.winId()));
        QCOMPARE(w.timerInterval(), 0);
    }

    // A watched friend joins: his sound is heard while the window goes on answering.
    void aFriendsVisitIsHeard()
    {
        const QString wav = dir.filePath("friend.wav");
        run("sox", {"-n", "-r", "22050", "-c", "1", "-b", "16", wav, "synth", "1", "sine", "880"});
        test::FakeGameServer server;
        server.setPlayers({{"Bob", "10.0.0.1"}, {"Ann", "10.0.0.2"}});
        t.registry().addEntry("Frd_Bob");
        platform::CurlHttpClient http;
        platform::PulseSoundPlayer sound;
        frmMain w(t.registry(), http, sound, notifier, dialogs);
        w.Form_Load();
        w.txtIPAddress->setText("127.0.0.1");
        w.txtPortNumber->setText(server.portText());
        w.txtFriendWav->setText(wav);
        const QString recording = dir.filePath("visit.wav");
        test::SinkRecorder recorder;
        QVERIFY(recorder.start(recording));
        w.Timer_Timer();
        QTRY_COMPARE(t.flagOf("Frd_Bob"), u"NO"_qs);
        QTest::qWait(1500); // the sound plays on its own thread meanwhile
        recorder.stop();
        const test::SoundStats heard = test::SinkRecorder::measure(recording);
        QVERIFY2(
            heard.rmsAmplitude > 0.05 && qAbs(heard.roughFrequency - 880) < 60,
            qPrintable(QString("RMS %1, %2 Hz").arg(heard.rmsAmplitude).arg(heard.roughFrequency)));
        QCOMPARE(notifier.shown, QStringList{"Friend on line/Bob"});
    }
};

QTEST_MAIN(DesktopWindowTest)
#include "tst_desktop_window.moc"
