// The INI reader and writer on real files. Every write is checked byte for byte; a refused write
// leaves the file as it was and says why, naming the file. Nothing may stay beside the file, not
// even when the writer is killed.
#include "TestBytes.h"
#include "platform/IniFile.h"
#include <QDir>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
using namespace kelvoran;
using namespace kelvoran::platform;
using namespace kelvoran::test;
namespace {
const QString web = "UWeb.WebServer", admin = "UTServerAdmin.UTServerAdmin";
// As the game server writes it: CRLF, 765 lines, repeated and indexed keys, blanks ending values,
// AdminPassword in two sections, Windows-1252 text, no line ending after the last line.
const QByteArray ini = readFile(KELVORAN_SOURCE_DIR "/tests/data/UnrealTournament.ini");

mode_t modeOf(const QString &path)
{
    struct stat st = {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

} // namespace

class TestIniFile : public QObject
{
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_dir;
    const QString m_cwd = QDir::currentPath();
    QString path(const QString &name) const { return m_dir->filePath(name); }
    QStringList entries(const QString &sub = ".") const
    {
        return QDir(path(sub)).entryList(
            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    }

private slots:
    void initTestCase() { ::umask(022); }
    // Inside the folder, where a write to a relative name would land, beside a file to keep.
    void init()
    {
        QVERIFY((m_dir = std::make_unique<QTemporaryDir>())->isValid());
        QVERIFY(QDir::setCurrent(m_dir->path()) && writeFile(path("keep"), "keep"));
    }
    void cleanup() { QVERIFY(QDir::setCurrent(m_cwd) && readFile(path("keep")) == "keep"); }
    void read_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");
        const auto r = [](const char *name, const QByteArray &content, const QString &expected,
                          const QString &section = "A", const QString &key = "K") {
            QTest::newRow(name) << content << section << key << expected;
        };
        r("server: Windows-1252", ini, "K\u00f6ln DM", "Engine.GameReplicationInfo", "ShortName");
        r("names in other case", "[\xC3\x9C\x62\x65r]\nSchl\xC3\xBCssel=1\n", "1", "\u00fcBER",
          "SCHL\u00dcSSEL");
        r("blanks around names, value", "[ A ]\r\n \t K \t=  v  w \t \r\n", "v  w", " A ", " K ");
        r("one pair of quotes removed", "[A]\nK=  \"\" v \"\"  \n", "\" v \"");
        r("single quotes removed, a lone one kept", "[A]\nK='\"v'\n", "\"v");
        r("comments skipped", ";[A]\nK=no\n[A]\n;K=c\n  ; K=d\nK=real\n", "real");
        r("first key and first section win", "[A]\nK=1\nK=2\n[A]\nK=3\n", "1");
        r("key only in a repeated section", "[A]\nX=1\n[A]\nK=3\n", "");
        r("lines without = or ] ignored", "K=0\n[A]\nK\n[B\nK=2\n", "2");
        r("names are not prefixes", "[AB]\nK=1\n[A]\nKey=1\nK=2\n", "2");
        r("Windows-1252", "[A]\nK=caf\xE9 \x80\n", "caf\u00e9 \u20ac");
        // Only well-formed UTF-8 makes a file UTF-8: each range's edges do; overlong forms,
        // surrogates, code points past U+10FFFF, bad or missing continuations, other bytes do not.
        const QByteArray e = "[A]\nK=\xC3\xA9\nX=";
        r("UTF-8 range edges",
          e + "\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", "\u00e9");
        for (const QByteArray bad :
             {"\xFF", "\xC1\xBF", "\xE0\x9F\xBF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
              "\xF0\x8F\xBF\xBF", "\xE2\x82\x41", "\xF0\x9F\x98\x41", "\xE2\x82"})
            r(("not UTF-8: " + bad.toHex(' ')).constData(), e + bad, "\u00c3\u00a9");
        r("value cut to 2047", "[A]\r\nK=" + QByteArray(3000, 'y') + "\r\n", QString(2047, 'y'));
        r("cut never splits a character", "[A]\nK=" + QByteArray(2046, 'x') + "\xF0\x9F\x98\x80",
          QString(2046, 'x'));
    }
    void read()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QVERIFY(writeFile(path("t.ini"), content));
        QTEST(readProfileString(section, key, path("t.ini")), "expected");
        QCOMPARE(readFile(path("t.ini")), content); // reading never changes the file
    }
    void write_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("expected"); // the file afterwards
        QTest::addColumn<QString>("refusal");     // the reason given; empty when written
        QTest::addColumn<QString>("setup");       // what is at or beside the file first
        const auto r = [](const char *name, const QByteArray &content, const QString &value,
                          const QByteArray &expected, const QString &section = "A",
                          const QString &key = "K", const QString &refusal = {},
                          const QString &setup = {}) {
            QTest::newRow(name) << content << section << key << value << expected << refusal
                                << setup;
        };
        const auto refused = [&](const char *name, const QByteArray &content, const QString &value,
                                 const QString &refusal, const QString &key = "K") {
            r(name, content, value, content, "A", key, refusal);
        };
        const auto target = [&](const char *name, const QString &setup, const QString &refusal) {
            r(name, "[A]\nK=1\n", "2", refusal.isEmpty() ? "[A]\nK=2\n" : "[A]\nK=1\n", "A", "K",
              refusal, setup);
        };
        const auto edited = [](const char *from, const char *to) {
            return QByteArray(ini).replace(from, to); // each is there once
        };
        r("server: bEnabled on, names in other case", ini, "TRUE",
          edited("bEnabled=False", "bEnabled=TRUE"), "uweb.webserver", "BENABLED");
        r("server: ListenPort added to its section", ini, "5080",
          edited("False\r\n\r\n[UTS", "False\r\nListenPort=5080\r\n\r\n[UTS"), web, "ListenPort");
        r("server: password in its section, no final newline", ini, "n3w p@ss;#=x",
          edited("=OldSecret", "=n3w p@ss;#=x"), admin, "AdminPassword");
        r("server: section appended with CRLF", ini, "1", ini + "\r\n\r\n[New]\r\nK=1\r\n", "New");
        r("LF kept, text before = kept", "[A]\n  K = old  \nX=1\n", "", "[A]\n  K =\nX=1\n");
        r("first of repeated keys only", "[B]\nK=b\n[A]\n;K=c\nK=1\nK=2\n[A]\nK=3\n", "9",
          "[B]\nK=b\n[A]\n;K=c\nK=9\nK=2\n[A]\nK=3\n");
        r("key added after last non-blank line", "[A]\nX=1\n;n\n\n[B]\n", "v",
          "[A]\nX=1\n;n\nK=v\n\n[B]\n");
        r("missing key, header is the last line", "[A]", "v", "[A]\nK=v");
        r("missing section after a blank line", "[A]\n\n", "v", "[A]\n\n[S]\nK=v\n", "S");
        r("missing file made", "", "v", "[S]\nK=v\n", "S", "K", {}, "no file");
        r("line ending of the first line", "[A]\r\nX=1\nY=2\n", "v", "[A]\r\nX=1\nY=2\nK=v\r\n");
        r("UTF-8 file stays UTF-8", "[A]\nN=\xC3\xBC\nK=1\n", "\u00e9\u0142",
          "[A]\nN=\xC3\xBC\nK=\xC3\xA9\xC5\x82\n");
        r("Windows-1252 file and names", "[\xDC]\nN=J\xFCrgen\nSchl\xFC\x73sel=1\n", "\u00e9\u20ac",
          "[\xDC]\nN=J\xFCrgen\nSchl\xFC\x73sel=\xE9\x80\n", "\u00fc", "SCHL\u00dcSSEL");
        r("ASCII file takes Windows-1252", "[A]\nK=1\n", "\u00e9", "[A]\nK=\xE9\n");
        r("only multi-byte text made ASCII", "[A]\r\nK=\xC3\xA9\r\n", "e", "[A]\r\nK=e\r\n");
        r("BOM kept, its section found", "\xEF\xBB\xBF[A]\nX=\xFF\nK=1\n", "2",
          "\xEF\xBB\xBF[A]\nX=\xFF\nK=2\n");
        r("U+FEFF leading a value", "[A]\nN=\xC3\xA9\nK=1\n", QStringLiteral("\ufeffv"),
          "[A]\nN=\xC3\xA9\nK=\xEF\xBB\xBFv\n");
        refused("character Windows-1252 lacks", "[A]\nN=\xFC\nK=1\n", "\u0142", "cannot hold");
        refused("lone surrogate into a UTF-8 file", "[A]\nN=\xC3\xA9\n", QChar(0xD800), "as UTF-8");
        refused("removing the only non-UTF-8 byte", "[A]\nK=\xFF\nk=\xC3\xA9\n", "new", "encoding");
        refused("bytes that would read as UTF-8", "[A]\nK=1\n", "\u00c3\u00a9", "encoding");
        refused("line break in the value", "[A]\nK=1\n", "x\r\n[Evil]\r\nK=y", "unusable");
        refused("= in the key", "[A]\nK=1\n", "v", "unusable", "K=X");
        r("line break in the section", "[A]\n", "v", "[A]\n", "A]\n[B", "K", "unusable");
        target("read-only file", "read-only", "may not be written");
        target("FIFO nobody writes to", "fifo", "not a regular file");
        target("sparse file over 64 MiB", "huge", "larger than 64 MiB");
        target("missing folder", "no folder", "cannot create its temporary");
        target("empty path", "no path", "No INI file named");
        target("stale temporary copy taken over", "stale copy", "");
        target("stale temporary symbolic link removed", "stale symlink", "");
        target("stale temporary hard link removed", "stale hard link", "");
    }
    void write()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QString, refusal);
        QFETCH(QString, setup);
        const QString file = setup == "no path" ? "" : setup == "no folder" ? "no/u.ini" : "u.ini";
        const QString temp = ".u.ini.kelvoran-tmp";
        if (setup == "fifo")
            QVERIFY(::mkfifo("u.ini", 0644) == 0);
        else if (!setup.startsWith("no "))
            QVERIFY(writeFile(file, content));
        if (setup == "read-only")
            QVERIFY(QFile::setPermissions(file, QFile::ReadUser));
        else if (setup == "huge") // sparse: costs no disk space
            QVERIFY(QFile::resize(file, (1 << 26) + 1));
        else if (setup == "stale copy")
            QVERIFY(writeFile(temp, "[A]\nK=1\n[half") && QFile::setPermissions(temp, {}));
        else if (setup == "stale symlink")
            QVERIFY(QFile::link("keep", temp));
        else if (setup == "stale hard link")
            QVERIFY(::link("keep", temp.toLatin1().constData()) == 0);
        const QStringList before = entries();
        QString why;
        if (!refusal.isEmpty())
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(refusal));
        QCOMPARE(writeProfileString(section, key, value, file, &why), refusal.isEmpty());
        QVERIFY2(refusal.isEmpty() ? why.isEmpty() : why.contains(refusal) && why.contains(file),
                 qPrintable(why));
        QCOMPARE(entries(), refusal.isEmpty() ? QStringList({"keep", "u.ini"}) : before);
        if (setup == "huge" || !QFileInfo(file).isFile())
            return; // not read whole
        QTEST(readFile(file), "expected");
        if (refusal.isEmpty()) {
            QCOMPARE(readProfileString(section, key, file), value);
            QCOMPARE(modeOf(file), mode_t(0644)); // kept; for a new file 0666 less the umask
        }
    }
    void replacement()
    {
        // The file is replaced, not rewritten: a reader keeps the old content. The mode stays.
        QVERIFY(writeFile("u.ini", "[A]\nK=1\n") &&
                QFile::setPermissions("u.ini", QFile::ReadOwner | QFile::WriteOwner));
        QFile reader("u.ini");
        QVERIFY(reader.open(QIODevice::ReadOnly) && writeProfileString("A", "K", "2", "u.ini"));
        QCOMPARE(reader.readAll() + readFile("u.ini"), QByteArray("[A]\nK=1\n[A]\nK=2\n"));
        QCOMPARE(modeOf("u.ini"), mode_t(0600));
        // Through a relative link the file it points to is replaced; the link stays a link.
        QVERIFY(QDir().mkdir("real") && writeFile("real/u.ini", "[A]\r\n"));
        QVERIFY(QFile::link("real/u.ini", "link.ini"));
        QVERIFY(writeProfileString("A", "K", "2", "link.ini"));
        QVERIFY(QFileInfo("link.ini").isSymLink());
        QCOMPARE(readFile("real/u.ini"), QByteArray("[A]\r\nK=2\r\n"));
        // A link to a file not there yet makes that file.
        QVERIFY(QFile::link("later.ini", "dangling.ini"));
        QVERIFY(writeProfileString("A", "K", "v", "dangling.ini"));
        QCOMPARE(readFile("later.ini"), QByteArray("[A]\nK=v\n"));
    }
    void killedWriters()
    {
        // Writers killed with SIGKILL at random moments leave the old file or a new one, and
        // nothing beside it but the one temporary file that the next write takes over. On tmpfs
        // a write takes about a millisecond, so the kills land at every step of many writes (what
        // fsync adds matters for power cuts, not for kills). scripts/killtest.sh runs long series.
        QTemporaryDir dir(QDir("/dev/shm").exists() ? "/dev/shm/kelvoran-kill-XXXXXX" : "");
        const QString file = dir.filePath("u.ini");
        const auto beside = [&dir] {
            return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
        };
        QVERIFY(ini.count("=OldSecret") == 1 && writeFile(file, ini));
        const int rounds = qEnvironmentVariable("KELVORAN_KILL_ROUNDS", "300").toInt();
        int torn = 0, leftovers = 0, tempLeft = 0, failed = 0;
        for (int round = 0; round < rounds; ++round) {
            // A writer that sets the password over and over (a new value of a new length each
            // time), killed at a random moment once its first write is done, however busy the
            // machine is.
            int done[2];
            QVERIFY(::pipe(done) == 0);
            const pid_t writer = ::fork();
            for (int i = round * 1000; writer == 0; ++i) {
                if (!writeProfileString(admin, "AdminPassword",
                                        QString::number(i) + QString(i % 300, u'x'), file) ||
                    (i == round * 1000 && ::write(done[1], "w", 1) != 1))
                    ::_exit(1);
            }
            char first = 0;
            ::close(done[1]);
            failed += ::read(done[0], &first, 1) != 1;
            ::close(done[0]);
            QThread::usleep(QRandomGenerator::global()->bounded(5000));
            int status = 0;
            failed += !(::kill(writer, SIGKILL) == 0 && ::waitpid(writer, &status, 0) == writer &&
                        WIFSIGNALED(status));
            const QString now = readProfileString(admin, "AdminPassword", file);
            torn += readFile(file) != QByteArray(ini).replace("=OldSecret", "=" + now.toLatin1());
            const QStringList names = beside();
            const bool ownTemp = names == QStringList{".u.ini.kelvoran-tmp", "u.ini"};
            tempLeft += ownTemp; // the one temporary file of a killed write
            leftovers += !ownTemp && names != QStringList{"u.ini"};
        }
        qInfo("%d rounds: %d torn, %d with leftovers, %d failed writes; a killed write left its "
              "temporary file in %d",
              rounds, torn, leftovers, failed, tempLeft);
        QCOMPARE(torn + leftovers + failed, 0);
        QVERIFY(writeProfileString(admin, "AdminPassword", "x", file)); // takes over the last
        QCOMPARE(beside(), QStringList{"u.ini"});
        QVERIFY(tempLeft > rounds / 20); // kills that hit only finished writes would prove little
    }
};

QTEST_GUILESS_MAIN(TestIniFile)
#include "tst_inifile.moc"
