#include "platform/SoundPlayer.h"
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

class TestSound : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
private slots:
    void unplayableGivesSilenceAtOnceAndSaysWhy_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("log");
        const QString dir = m_dir.path(), fifo = dir + "/fifo.wav", none = dir + "/none.wav";
        QVERIFY(::mkfifo(QFile::encodeName(fifo), 0600) == 0);
        QTest::newRow("empty path") << QString() << "^No sound file named";
        QTest::newRow("missing file") << none << "none.wav - not a regular file$";
        QTest::newRow("folder") << dir << dir + " - not a regular file$";
        QTest::newRow("FIFO") << fifo << "fifo.wav - not a regular file$";
        QTest::newRow("not a WAV") << QCoreApplication::applicationFilePath() << "tst_sound - ";
    }
    void unplayableGivesSilenceAtOnceAndSaysWhy()
    {
        QFETCH(QString, path);
        QFETCH(QString, log);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(log));
        ::alarm(1); // a player that waits (on the FIFO, say) ends the test here
        kelvoran::platform::PulseSoundPlayer::playToEnd(path, false);
        ::alarm(0);
    }
};
QTEST_GUILESS_MAIN(TestSound)
#include "tst_sound.moc"
