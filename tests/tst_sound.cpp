#include "TestBytes.h"
#include "platform/SoundPlayer.h"
#include <QTemporaryDir>
#include <QTest>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

class TestSound : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    const int m_silent = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0); // a server that hangs
private slots:
    void initTestCase()
    {
        sockaddr_un address{AF_UNIX, {}};
        qstrncpy(address.sun_path, QFile::encodeName(m_dir.filePath("silent")), 100);
        QVERIFY(::bind(m_silent, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
                ::listen(m_silent, 1) == 0);
        const QByteArray header = "524946466406000057415645666d74201000000001000100" // 0.1 s of
                                  "401f0000803e0000020010006461746140060000"; // 8 kHz silence
        QVERIFY(kelvoran::test::writeFile(m_dir.filePath("quiet.wav"),
                                          QByteArray::fromHex(header) + QByteArray(1600, 0)));
    }
    void endsAtOnceAndSaysWhy_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("log");    // "": nothing said
        QTest::addColumn<QString>("server"); // the sound server's socket, in the folder
        const QString dir = m_dir.path(), fifo = dir + "/fifo.wav", none = dir + "/none.wav";
        QVERIFY(::mkfifo(QFile::encodeName(fifo), 0600) == 0);
        QTest::newRow("empty path") << QString() << "^No sound file named"
                                    << "none";
        QTest::newRow("missing file") << none << "none.wav - not a regular file$"
                                      << "none";
        QTest::newRow("folder") << dir << dir + " - not a regular file$"
                                << "none";
        QTest::newRow("FIFO") << fifo << "fifo.wav - not a regular file$"
                              << "none";
        QTest::newRow("not a WAV") << QCoreApplication::applicationFilePath() << "tst_sound - "
                                   << "none";
        QTest::newRow("no sound server") << dir + "/quiet.wav"
                                         << "no sound server: "
                                         << "none";
        QTest::newRow("stopped while the server hangs") << dir + "/quiet.wav"
                                                        << ""
                                                        << "silent";
    }
    void endsAtOnceAndSaysWhy()
    {
        QFETCH(QString, path);
        QFETCH(QString, log);
        QFETCH(QString, server);
        qputenv("PULSE_SERVER", QFile::encodeName("unix:" + m_dir.filePath(server)));
        if (!log.isEmpty())
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(log));
        std::atomic<bool> stop = false;
        int call = -1;
        std::thread exit([&] {
            if (server == "silent") // it takes the player's call, and then comes Exit
                call = ::accept(m_silent, nullptr, nullptr), stop = true;
        });
        ::alarm(2); // a player that waits (on the FIFO or the server, say) ends the test here
        kelvoran::platform::PulseSoundPlayer::playToEnd(path, stop);
        exit.join();
        ::alarm(0);
        ::close(call);
    }
};
QTEST_GUILESS_MAIN(TestSound)
#include "tst_sound.moc"
