// The window on a real X server with a real tray host and sound server: minimising hides it in
// the tray, a click on the icon brings it back, the icon's menu exits the real program, and a
// watched friend's visit is heard in the sound server's recording.
#include "FakeGameServer.h"
#include "SinkRecorder.h"
#include "TempStore.h"
#include "app/frmMain.h"
#include "platform/HttpClient.h"
#include "platform/RegistryStore.h"
#include "platform/SoundPlayer.h"
#include "watchlist/Module1.h"
#include "watchlist/WatchList.h"

#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using namespace kelvoran;
using namespace kelvoran::Module1;
using kelvoran::app::frmMain;
using kelvoran::test::FakeGameServer;
using kelvoran::test::SinkRecorder;

namespace {

bool run(const QString &program, const QStringList &args, QByteArray *out = nullptr)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(30000))
        return false;
    if (out)
        *out = p.readAllStandardOutput();
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

bool makeTone(const QString &path, int hz, double seconds)
{
    return run(QStringLiteral("sox"),
               {QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("22050"),
                QStringLiteral("-c"), QStringLiteral("1"), QStringLiteral("-b"),
                QStringLiteral("16"), path, QStringLiteral("synth"), QString::number(seconds),
                QStringLiteral("sine"), QString::number(hz), QStringLiteral("vol"),
                QStringLiteral("0.5")});
}

void clickAt(const QPoint &p, int button)
{
    QVERIFY(run(QStringLiteral("xdotool"),
                {QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(p.x()),
                 QString::number(p.y()), QStringLiteral("click"), QString::number(button)}));
}

// Whether X maps the window (what the user sees), not only what Qt believes.
bool viewable(QWidget *w)
{
    QByteArray out;
    if (!run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), QString::number(w->winId())},
             &out))
        return false;
    return out.contains("Map State: IsViewable");
}

// Where a window stands on the screen, as X has it; invalid when there is no such window.
QRect windowGeometry(const QString &id)
{
    QByteArray out;
    if (id.isEmpty() ||
        !run(QStringLiteral("xdotool"), {QStringLiteral("getwindowgeometry"), id}, &out))
        return {};
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("Position: (-?\\d+),(-?\\d+).*Geometry: (\\d+)x(\\d+)"),
                           QRegularExpression::DotMatchesEverythingOption)
            .match(QString::fromLatin1(out));
    if (!m.hasMatch())
        return {};
    return QRect(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt(),
                 m.captured(4).toInt());
}

} // namespace

class DesktopWindowTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<test::TempStore> m_store;

private slots:
    void initTestCase()
    {
        QVERIFY2(!qEnvironmentVariableIsEmpty("DISPLAY"), "no X server: run scripts/test.sh");
        QVERIFY2(!SinkRecorder::sinkName().isEmpty(), "no test sound sink: run scripts/test.sh");
        QVERIFY(m_dir.isValid());
        QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 10000);
    }

    void init()
    {
        m_store = std::make_unique<test::TempStore>();
        QVERIFY(m_store->isValid());
    }

    void cleanup() { m_store.reset(); }

    void minimiseHidesAndTheTrayIconBringsItBack()
    {
        platform::CurlHttpClient http;
        platform::PulseSoundPlayer sound;
        frmMain w(http, sound);
        w.Form_Load();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTRY_VERIFY(w.trayRecord->geometry().width() > 0);
        QTRY_VERIFY(viewable(&w));

        w.showMinimized();
        QTRY_VERIFY(!w.isVisible());
        QTRY_VERIFY(!viewable(&w));
        QCOMPARE(w.timerInterval(), 32768);

        clickAt(w.trayRecord->geometry().center(), 1);
        QTRY_VERIFY(w.isVisible());
        QTRY_VERIFY(viewable(&w));
        QVERIFY(!(w.windowState() & Qt::WindowMinimized));
        QCOMPARE(w.timerInterval(), 32768); // a click leaves the polling on

        // Minimised and brought back a second time, now through the menu's Restore.
        w.showMinimized();
        QTRY_VERIFY(!viewable(&w));
        clickAt(w.trayRecord->geometry().center(), 3);
        QTRY_VERIFY(w.mPopupSys->isVisible());
        QVERIFY(!w.isVisible()); // opening the menu leaves the window hidden
        QVERIFY(run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("r")}));
        QTRY_VERIFY(viewable(&w));
        QCOMPARE(w.timerInterval(), 0);
        w.Form_Unload();
    }

    void trayMenuExitEndsTheProgram()
    {
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(KELVORAN_BIN_DIR "/kelvoran"), {});
        QVERIFY(program.waitForStarted(10000));
        const QString pid = QString::number(program.processId());

        // The program's windows: its main window and the small square one in the tray.
        QRect icon;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                QByteArray out;
                run(QStringLiteral("xdotool"),
                    {QStringLiteral("search"), QStringLiteral("--pid"), pid}, &out);
                for (const QByteArray &id : out.split('\n')) {
                    const QRect r = windowGeometry(QString::fromLatin1(id.trimmed()));
                    if (r.isValid() && r.width() == r.height() && r.width() <= 64) {
                        icon = r;
                        return true;
                    }
                }
                return false;
            }(),
            20000);
        const QPoint centre = icon.center();
        clickAt(centre, 3);
        QTest::qWait(500);
        // The menu has the keyboard: the last item is Exit.
        QVERIFY(run(QStringLiteral("xdotool"),
                    {QStringLiteral("key"), QStringLiteral("Up"), QStringLiteral("Return")}));
        QVERIFY2(program.waitForFinished(10000), "the program did not end");
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
    }

    // A watched friend joins: the next tick plays the friend's sound; he leaves, the next tick
    // arms his entry again; he comes back and is heard again.
    void aFriendsVisitIsHeard()
    {
        const QString friendWav = m_dir.filePath(QStringLiteral("friend.wav"));
        const QString foeWav = m_dir.filePath(QStringLiteral("foe.wav"));
        QVERIFY(makeTone(friendWav, 880, 1.0));
        QVERIFY(makeTone(foeWav, 220, 1.0));

        FakeGameServer server;
        server.setCredentials(QStringLiteral("admin"), QStringLiteral("pw"));
        const QString entry = QStringLiteral("Frd_Bob");
        createRegKey(subPath(kChecklistKey, entry), HKEY_LOCAL_MACHINE());
        setRegKeyValue(subPath(kChecklistKey, entry), kAnnounceValue, kArmed, REG_SZ);
        createRegKey(subPath(kChecklistKey, QStringLiteral("Foe_Zed")), HKEY_LOCAL_MACHINE());
        setRegKeyValue(subPath(kChecklistKey, QStringLiteral("Foe_Zed")), kAnnounceValue, kArmed,
                       REG_SZ);

        platform::CurlHttpClient http;
        platform::PulseSoundPlayer sound;
        frmMain w(http, sound);
        w.Form_Load();
        w.txtIPAddress->setText(QStringLiteral("127.0.0.1"));
        w.txtPortNumber->setText(server.portText());
        w.txtAdminName->setText(QStringLiteral("admin"));
        w.txtPassword->setText(QStringLiteral("pw"));
        w.txtFriendWav->setText(friendWav);
        w.txtEnemyWav->setText(foeWav);
        QSignalSpy ticks(w.Timer, &QTimer::timeout);
        const auto flag = [&] {
            return queryRegText(subPath(kChecklistKey, entry), kAnnounceValue);
        };

        server.setPlayers({{QStringLiteral("Bob"), QStringLiteral("10.0.0.1")},
                           {QStringLiteral("Ann"), QStringLiteral("10.0.0.2")}});
        w.showMinimized();
        QTRY_VERIFY(!w.isVisible());

        for (int visit = 1; visit <= 2; ++visit) {
            const QString rec = m_dir.filePath(QStringLiteral("visit%1.wav").arg(visit));
            SinkRecorder recorder;
            QVERIFY(recorder.start(rec));
            const int before = ticks.count();
            QTRY_VERIFY_WITH_TIMEOUT(ticks.count() > before, 40000);
            QTest::qWait(300);
            recorder.stop();
            QCOMPARE(flag(), kAnnounced);
            const test::SoundStats heard = SinkRecorder::measure(rec);
            QVERIFY(heard.ok);
            QVERIFY2(heard.rmsAmplitude > 0.05,
                     qPrintable(QStringLiteral("RMS %1").arg(heard.rmsAmplitude)));
            QVERIFY2(qAbs(heard.roughFrequency - 880) < 60,
                     qPrintable(QStringLiteral("frequency %1").arg(heard.roughFrequency)));

            // He leaves: the next tick arms his entry again, and nothing is played.
            server.setPlayers({{QStringLiteral("Ann"), QStringLiteral("10.0.0.2")}});
            const QString quiet = m_dir.filePath(QStringLiteral("gone%1.wav").arg(visit));
            SinkRecorder silence;
            QVERIFY(silence.start(quiet));
            const int beforeLeave = ticks.count();
            QTRY_VERIFY_WITH_TIMEOUT(ticks.count() > beforeLeave, 40000);
            QTest::qWait(300);
            silence.stop();
            QCOMPARE(flag(), kArmed);
            const test::SoundStats nothing = SinkRecorder::measure(quiet);
            QVERIFY(nothing.ok);
            QVERIFY2(nothing.rmsAmplitude < 0.01,
                     qPrintable(QStringLiteral("RMS %1").arg(nothing.rmsAmplitude)));
            server.setPlayers({{QStringLiteral("Bob"), QStringLiteral("10.0.0.1")},
                               {QStringLiteral("Ann"), QStringLiteral("10.0.0.2")}});
        }
        QCOMPARE(w.timerInterval(), 32768);
        w.Form_Unload();
    }
};

QTEST_MAIN(DesktopWindowTest)
#include "tst_desktop_window.moc"
