// Libraries opened at their first use: opening by versioned name, finding every function or
// saying which one is missing, and that libcurl and libpulse stay out of the process until the
// first fetch or the first sound.
#include "FakeGameServer.h"
#include "WavWriter.h"
#include "platform/HttpClient.h"
#include "platform/RuntimeLibrary.h"
#include "platform/SoundPlayer.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sndfile.h>

using kelvoran::platform::RuntimeLibrary;

namespace {

// Whether a shared object of that soname (libfoo.so.4, mapped as libfoo.so.4.8.0) is mapped into
// this process.
bool isMapped(const QByteArray &soname)
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &line : maps.readAll().split('\n')) {
        const QByteArray file = line.mid(line.lastIndexOf('/') + 1);
        if (file == soname || file.startsWith(soname + '.'))
            return true;
    }
    return false;
}

} // namespace

class TestRuntimeLibrary : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void opensAndResolves_data();
    void opensAndResolves();
    void resolvesTheLibrarysOwnFunction();
    void loadedAtFirstUseOnly_data();
    void loadedAtFirstUseOnly();

private:
    QTemporaryDir m_dir;
};

void TestRuntimeLibrary::initTestCase()
{
    // The sound below must not reach any sound server: a socket that does not exist.
    qputenv("PULSE_SERVER", "unix:/nonexistent/kelvoran-test.sock");
    QVERIFY(m_dir.isValid());
}

void TestRuntimeLibrary::opensAndResolves_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("version");
    QTest::addColumn<QByteArrayList>("symbols");
    QTest::addColumn<QString>("errorNames"); // what the error must name; empty: usable

    const QByteArrayList sndfileSymbols{"sf_open", "sf_readf_short", "sf_close"};
    QTest::newRow("present, every function found") << "sndfile" << 1 << sndfileSymbols << QString();
    QTest::newRow("no such library") << "kelvoran-no-such-library" << 1 << sndfileSymbols
                                     << QStringLiteral("libkelvoran-no-such-library.so.1");
    // libsqlite3.so.0 is in this process and libsqlite3.so lies beside it: neither may stand in.
    QTest::newRow("other major version") << "sqlite3" << 99 << QByteArrayList{"sqlite3_libversion"}
                                         << QStringLiteral("libsqlite3.so.99");
    QTest::newRow("one function missing")
        << "sndfile" << 1 << QByteArrayList{"sf_open", "kelvoran_no_such_function", "sf_close"}
        << QStringLiteral("kelvoran_no_such_function");
    QTest::newRow("first of two missing functions named")
        << "sndfile" << 1
        << QByteArrayList{"kelvoran_missing_first", "sf_open", "kelvoran_missing_second"}
        << QStringLiteral("kelvoran_missing_first");
}

void TestRuntimeLibrary::opensAndResolves()
{
    QFETCH(QString, name);
    QFETCH(int, version);
    QFETCH(QByteArrayList, symbols);
    QFETCH(QString, errorNames);

    RuntimeLibrary library(name, version);
    int found = 0;
    for (const QByteArray &symbol : symbols) {
        void (*slot)() = nullptr;
        library.resolve(symbol.constData(), slot);
        if (slot)
            ++found;
    }
    if (errorNames.isEmpty()) {
        QVERIFY2(library.isUsable(), qPrintable(library.error()));
        QCOMPARE(library.error(), QString());
        QCOMPARE(found, symbols.size());
    } else {
        QVERIFY(!library.isUsable());
        QVERIFY2(library.error().contains(errorNames), qPrintable(library.error()));
        QVERIFY(found < symbols.size());
    }
}

void TestRuntimeLibrary::resolvesTheLibrarysOwnFunction()
{
    RuntimeLibrary library(QStringLiteral("sndfile"), 1);
    decltype(&sf_version_string) versionString = nullptr;
    library.resolve("sf_version_string", versionString);
    QVERIFY2(versionString, qPrintable(library.error()));
    QCOMPARE(QByteArray(versionString()), QByteArray(sf_version_string()));
}

void TestRuntimeLibrary::loadedAtFirstUseOnly_data()
{
    QTest::addColumn<QByteArray>("fileName");
    QTest::newRow("libcurl, by the first fetch") << QByteArray("libcurl.so.4");
    QTest::newRow("libpulse-simple, by the first sound") << QByteArray("libpulse-simple.so.0");
}

void TestRuntimeLibrary::loadedAtFirstUseOnly()
{
    QFETCH(QByteArray, fileName);

    kelvoran::platform::CurlHttpClient http;
    kelvoran::platform::PulseSoundPlayer sound;
    QVERIFY2(!isMapped(fileName), "mapped before its first use");

    if (fileName.startsWith("libcurl")) {
        kelvoran::test::FakeGameServer server;
        QByteArray body;
        const QString url =
            QStringLiteral("http://127.0.0.1:%1/ServerAdmin/current_players").arg(server.port());
        QVERIFY(
            http.get(url, QString(), QString(), [&](QByteArrayView chunk) { body.append(chunk); }));
        QVERIFY(body.contains("No Players Connected"));
    } else {
        const QString path = m_dir.filePath(QStringLiteral("tone.wav"));
        QVERIFY(kelvoran::test::writeFile(path, kelvoran::test::makeSineWav(0.05)));
        QTest::ignoreMessage(
            QtWarningMsg, QRegularExpression(QStringLiteral("^Cannot play .* - no sound server")));
        sound.playSync(path);
    }
    QVERIFY2(isMapped(fileName), "not mapped after its first use");
}

QTEST_GUILESS_MAIN(TestRuntimeLibrary)
#include "tst_runtimelibrary.moc"
