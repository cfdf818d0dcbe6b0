// The installed files, checked with the desktop's own validators; the command line answered
// with no display at all.
#include "TestBytes.h"
#include "app/Artwork.h"
#include <QImageReader>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
class InstallTest : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dest; // DESTDIR
    QProcess m_p;
    QString share(const QString &file) const { return m_dest.filePath("usr/share/" + file); }
    int run(const QString &program, const QStringList &args) // -1: did not end by itself
    {
        m_p.start(program, args);
        return m_p.waitForFinished(60000) && !m_p.exitStatus() ? m_p.exitCode() : -1;
    }
private slots:
    void initTestCase()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DESTDIR", m_dest.path());
        m_p.setProcessEnvironment(env);
        QCOMPARE(run("cmake", {"--install", KELVORAN_BIN_DIR, "--prefix", "/usr"}), 0);
        QVERIFY(QFile::exists(share("man/man1/kelvoran.1.gz")));
        QVERIFY(QFile::exists(share("icons/hicolor/scalable/apps/" KELVORAN_APP_ID ".svg")));
    }
    void validatorsAccept()
    {
        const QString desktop = share("applications/" KELVORAN_APP_ID ".desktop");
        QCOMPARE(run("desktop-file-validate", {desktop}), 0);
        QCOMPARE(m_p.readAll(), QByteArray()); // not even a hint
        const QString metainfo = share("metainfo/" KELVORAN_APP_ID ".metainfo.xml");
        QCOMPARE(run("appstreamcli", {"validate", "--no-net", metainfo}), 0);
    }
    // Each size in the theme is the very file compiled in for the window and the tray.
    void iconInEverySize()
    {
        for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
            const QString png = share("icons/hicolor/%1x%1/apps/" KELVORAN_APP_ID ".png").arg(size);
            QCOMPARE(QImageReader(png).size(), QSize(size, size)); // read from the file's header
            QCOMPARE(kelvoran::test::readFile(png),
                     kelvoran::test::readFile(QString(":/icons/%1.png").arg(size)));
            QVERIFY(kelvoran::app::kelvoranIcon().availableSizes().contains(QSize(size, size)));
        }
    }
    void answersWithoutDisplay_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("said"); // the start of the output, or part of the error
        QTest::newRow("version") << QStringList{"--version"} << 0
                                 << QByteArray("Kelvoran " KELVORAN_VERSION "\n");
        QTest::newRow("help") << QStringList{"-h"} << 0 << QByteArray("Usage: kelvoran [options]");
        QTest::newRow("typo") << QStringList{"--minimised"} << 1 << QByteArray("'minimised'");
    }
    void answersWithoutDisplay()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, said);
        m_p.setProcessEnvironment({}); // nothing at all: no display, no Qt platform
        QCOMPARE(run(m_dest.filePath("usr/bin/kelvoran"), args), exitCode); // as installed
        const QByteArray out = m_p.readAllStandardOutput(), err = m_p.readAllStandardError();
        QVERIFY2((exitCode ? err : out).contains(said) && (exitCode ? out : err).isEmpty(),
                 out + err);
    }
};

QTEST_MAIN(InstallTest)
#include "tst_install.moc"
