// The window on a real X server with a real tray host: minimising hides it in the tray, the
// icon and its menu bring it back.
#include "RecordingSoundPlayer.h"
#include "TempStore.h"
#include "WindowDoubles.h"
#include "app/frmMain.h"

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

    test::TempStore t;
    test::ScriptedDialogs dialogs;
    test::RecordingNotifier notifier;

private slots:
    void initTestCase()
    {
        QVERIFY2(!qEnvironmentVariableIsEmpty("DISPLAY"), "no X server: run scripts/test.sh");
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
};

QTEST_MAIN(DesktopWindowTest)
#include "tst_desktop_window.moc"
