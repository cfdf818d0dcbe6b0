#include "TestBytes.h"
#include "platform/SoundPlayer.h"
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <optional>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
using kelvoran::platform::PulseSoundPlayer;
static QByteArray threadStatus()
{
    QByteArray all;
    for (const QString &tid : QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        all += kelvoran::test::readFile("/proc/self/task/" + tid + "/status");
    return all;
}
class TestSound : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    const int m_hung =
        ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0); // takes calls, says nothing
private slots:
    void endsAtOnceAndSaysWhy_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("log"); // "": the player goes (Exit) while the server hangs
        const QString dir = m_dir.path(), fifo = dir + "/fifo.wav", none = dir + "/none.wav",
                      quiet = dir + "/quiet.wav";
        sockaddr_un hung{AF_UNIX, {}};
        qstrncpy(hung.sun_path, QFile::encodeName(dir + "/hung"), sizeof hung.sun_path);
        const QByteArray wav = "524946466406000057415645666d74201000000001000100" // 0.1 s of
                               "401f0000803e0000020010006461746140060000";        // 8 kHz silence
        QVERIFY(::mkfifo(QFile::encodeName(fifo), 0600) == 0 &&
                ::bind(m_hung, reinterpret_cast<sockaddr *>(&hung), sizeof hung) == 0 &&
                ::listen(m_hung, 8) == 0 &&
                kelvoran::test::writeFile(quiet, QByteArray::fromHex(wav) + QByteArray(1600, 0)));
        QTest::newRow("empty path") << QString() << "^No sound file named";
        QTest::newRow("missing file") << none << "none.wav - not a regular file$";
        QTest::newRow("folder") << dir << dir + " - not a regular file$";
        QTest::newRow("FIFO") << fifo << "fifo.wav - not a regular file$";
        QTest::newRow("not a WAV") << QCoreApplication::applicationFilePath() << "tst_sound - ";
        QTest::newRow("no sound server") << quiet << "no sound server: ";
        QTest::newRow("stopped while the server hangs") << quiet << "";
        QTest::newRow("server hangs") << quiet << "quiet.wav dropped - took longer than 1 s$";
    }
    // A sound whose server hangs ends after its 0.1 s and a margin of 0.9 s; waiting on such a
    // server costs a few sleeps of the process, not one every few milliseconds.
    void endsAtOnceAndSaysWhy()
    {
        QFETCH(QString, path);
        QFETCH(QString, log);
        const bool none = log.contains("no sound server");
        qputenv("PULSE_SERVER", QFile::encodeName("unix:" + m_dir.filePath(none ? "-" : "hung")));
        std::optional<PulseSoundPlayer> player;
        if (log.isEmpty()) { // once its sound has called the server and sleeps in the poll
            player.emplace().play(path);
            pollfd call{m_hung, POLLIN, 0};
            QCOMPARE(::poll(&call, 1, 2000), 1);
            QTRY_COMPARE(threadStatus().count("State:\tS") + 1, threadStatus().count("State:"));
        } else
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(log));
        rusage before{}, after{};
        ::getrusage(RUSAGE_SELF, &before);
        ::alarm(2); // a player that waits (on the FIFO or the server, say) ends the test here
        player ? player.reset()
               : PulseSoundPlayer::playToEnd(path, {}, std::chrono::milliseconds(900));
        ::alarm(0);
        ::getrusage(RUSAGE_SELF, &after);
        QCOMPARE_LT(after.ru_nvcsw - before.ru_nvcsw, 30);
    }
};
QTEST_GUILESS_MAIN(TestSound)
#include "tst_sound.moc"
