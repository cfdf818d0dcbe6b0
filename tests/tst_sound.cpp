#include "TestBytes.h"
#include "platform/SoundPlayer.h"
#include <QTemporaryDir>
#include <QTest>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
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
        QTest::addColumn<QString>("log"); // "": stopped (Exit) while the sound server hangs
        const QString dir = m_dir.path(), fifo = dir + "/fifo.wav", none = dir + "/none.wav",
                      quiet = dir + "/quiet.wav";
        sockaddr_un hung{AF_UNIX, {}};
        qstrncpy(hung.sun_path, QFile::encodeName(dir + "/hung"), sizeof hung.sun_path);
        const QByteArray wav = "524946466406000057415645666d74201000000001000100" // 0.1 s of
                               "401f0000803e0000020010006461746140060000";        // 8 kHz silence
        QVERIFY(::mkfifo(QFile::encodeName(fifo), 0600) == 0 &&
                ::bind(m_hung, reinterpret_cast<sockaddr *>(&hung), sizeof hung) == 0 &&
                ::listen(m_hung, 1) == 0 &&
                kelvoran::test::writeFile(quiet, QByteArray::fromHex(wav) + QByteArray(1600, 0)));
        QTest::newRow("empty path") << QString() << "^No sound file named";
        QTest::newRow("missing file") << none << "none.wav - not a regular file$";
        QTest::newRow("folder") << dir << dir + " - not a regular file$";
        QTest::newRow("FIFO") << fifo << "fifo.wav - not a regular file$";
        QTest::newRow("not a WAV") << QCoreApplication::applicationFilePath() << "tst_sound - ";
        QTest::newRow("no sound server") << quiet << "no sound server: ";
        QTest::newRow("stopped while the server hangs") << quiet << "";
    }
    void endsAtOnceAndSaysWhy()
    {
        QFETCH(QString, path);
        QFETCH(QString, log);
        const std::atomic<bool> stop = log.isEmpty();
        qputenv("PULSE_SERVER", QFile::encodeName("unix:" + m_dir.filePath(stop ? "hung" : "-")));
        if (!stop)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(log));
        ::alarm(2); // a player that waits (on the FIFO or the server, say) ends the test here
        kelvoran::platform::PulseSoundPlayer::playToEnd(path, stop);
        ::alarm(0);
    }
};
QTEST_GUILESS_MAIN(TestSound)
#include "tst_sound.moc"
