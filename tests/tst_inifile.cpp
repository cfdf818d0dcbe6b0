// The INI reader and writer on real files. Every write is checked byte for byte against the
// expected file, which the test builds from the original bytes with plain string operations.
#include "TestBytes.h"
#include "WavWriter.h"
#include "platform/IniFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using kelvoran::platform::readProfileString;
using kelvoran::platform::writeProfileString;
using kelvoran::test::readFile;
using kelvoran::test::writeFile;

namespace {

struct stat statOf(const QString &path)
{
    struct stat st = {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        st.st_ino = 0;
    return st;
}

QStringList entries(const QString &dir)
{
    return QDir(dir).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// Replaces the first `from` that comes after `anchor` (a section header) with `to`; the result
// is what a correct write must leave in the file.
QByteArray replaceAfter(QByteArray bytes, const QByteArray &anchor, const QByteArray &from,
                        const QByteArray &to)
{
    const qsizetype a = bytes.indexOf(anchor);
    const qsizetype at = a < 0 ? -1 : bytes.indexOf(from, a);
    if (at < 0)
        return QByteArray("<anchor or text not found: ") + from + '>';
    return bytes.replace(at, from.size(), to);
}

// An INI file shaped like the ones the game server writes: CRLF, 50 sections and over 700 lines,
// repeated and indexed keys, blanks at the end of values, AdminPassword in two sections, a web
// server section without ListenPort, and no line ending after the last line. Each piece below is
// a section name and its lines, parted by "|".
QByteArray serverIni()
{
    QByteArrayList pieces = {
        "URL|Protocol=unreal|Name=Player|Map=Index.unr|LocalMap=DM-Deck16][.unr|Host=|Port=7777",
        "Engine.GameEngine|CacheSizeMegs=4|ServerActors=IpDrv.UdpBeacon|ServerActors=IpServer."
        "UdpServerUplink MasterServerAddress=unreal.epicgames.com MasterServerPort=27900|"
        "ServerPackages=SoldierSkins|ServerPackages=Botpack|ServerPackages=UTServerAdmin",
        "Engine.GameInfo|bLowGore=False|MaxSpectators=2|AdminPassword=GameInfoSecret|"
        "GamePassword=|bLocalLog=True",
        "UTMenu.UTChatWindow|DefaultSendText=say |bShowTimeStamps=False  |Font=Tahoma 8",
        "UWeb.WebServer|Applications[0]=UTServerAdmin.UTServerAdmin|ApplicationPaths[0]="
        "/ServerAdmin|Applications[1]=UTServerAdmin.UTImageServer|DefaultApplication=0|"
        "bEnabled=False"};
    for (int i = 0; i < 50; ++i)
        pieces[2] +=
            "|IPPolicies[" + QByteArray::number(i) + "]=DENY,10.0." + QByteArray::number(i) + ".*";
    // The rest of a real file: driver, game type and menu sections with a dozen keys each.
    for (int s = 0; s < 44; ++s) {
        QByteArray piece = "Botpack.Section" + QByteArray::number(s);
        for (int k = 0; k < 15; ++k)
            piece += "|Setting" + QByteArray::number(k) + "=value_" + QByteArray::number(k);
        pieces << piece;
    }
    pieces << "UTServerAdmin.UTServerAdmin|AdminUsername=admin|AdminPassword=OldSecret";
    QByteArrayList sections;
    for (const QByteArray &piece : std::as_const(pieces)) {
        QByteArrayList lines = piece.split('|');
        lines.first() = '[' + lines.first() + ']';
        sections << lines.join("\r\n");
    }
    return sections.join("\r\n\r\n");
}

struct Edit
{
    QString section, key, value;
};

} // namespace

Q_DECLARE_METATYPE(QList<Edit>)

class TestIniFile : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QString path(const QString &name) const { return m_dir->filePath(name); }

private slots:
    void initTestCase() { ::umask(022); }
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    void serverIniWrites_data()
    {
        QTest::addColumn<QList<Edit>>("edits");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray ini = serverIni();
        const QString web = "UWeb.WebServer", admin = "UTServerAdmin.UTServerAdmin";
        const QByteArray webHead = "\r\n[UWeb.WebServer]\r\n";
        const QByteArray adminHead = "\r\n[UTServerAdmin.UTServerAdmin]\r\n";
        const QByteArray enabled = replaceAfter(ini, webHead, "bEnabled=False", "bEnabled=TRUE");

        QTest::newRow("bEnabled switched on") << QList<Edit>{{web, "bEnabled", "TRUE"}} << enabled;
        QTest::newRow("names in other case")
            << QList<Edit>{{"uweb.webserver", "BENABLED", "TRUE"}} << enabled;
        QTest::newRow("AdminPassword replaced in its section only, last line without newline")
            << QList<Edit>{{admin, "AdminPassword", "n3w p@ss;#=x"}}
            << replaceAfter(ini, adminHead, "AdminPassword=OldSecret",
                            "AdminPassword=n3w p@ss;#=x");
        QTest::newRow("key added to the last section, still no final newline")
            << QList<Edit>{{admin, "AdminRealm", "UT"}} << ini + "\r\nAdminRealm=UT";
        QTest::newRow("new section appended with CRLF")
            << QList<Edit>{{"Kelvoran.Test", "Answer", "42"}}
            << ini + "\r\n\r\n[Kelvoran.Test]\r\nAnswer=42\r\n";
        QTest::newRow("same value again: file unchanged")
            << QList<Edit>{{"Engine.GameInfo", "AdminPassword", "GameInfoSecret"}} << ini;

        // Save Settings after the start-up read: the four keys one after another, ListenPort
        // added after the web server section's last line.
        QByteArray all = enabled;
        all =
            replaceAfter(all, webHead, "bEnabled=TRUE\r\n", "bEnabled=TRUE\r\nListenPort=5080\r\n");
        all = replaceAfter(all, adminHead, "AdminUsername=admin", "AdminUsername=boss");
        all = replaceAfter(all, adminHead, "AdminPassword=OldSecret", "AdminPassword=s3cret!");
        QTest::newRow("the program's four keys in a row")
            << QList<Edit>{{web, "bEnabled", "TRUE"},
                           {web, "ListenPort", "5080"},
                           {admin, "AdminUsername", "boss"},
                           {admin, "AdminPassword", "s3cret!"}}
            << all;
    }

    void serverIniWrites()
    {
        QFETCH(QList<Edit>, edits);
        QFETCH(QByteArray, expected);
        QVERIFY(!expected.startsWith("<anchor"));
        QVERIFY(serverIni().count("\r\n") > 700);

        const QString file = path("UnrealTournament.ini");
        QVERIFY(writeFile(file, serverIni()));
        for (const Edit &e : edits) {
            QVERIFY(writeProfileString(e.section, e.key, e.value, file));
            QCOMPARE(readProfileString(e.section, e.key, file), e.value);
        }
        QCOMPARE(readFile(file), expected);
        QCOMPARE(entries(m_dir->path()), QStringList{"UnrealTournament.ini"});
    }

    void read_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *name, const QByteArray &content, const QString &expected,
                            const QString &section = "A", const QString &key = "K") {
            QTest::newRow(name) << content << section << key << expected;
        };
        const QByteArray ini = serverIni();
        const QString web = "UWeb.WebServer", admin = "UTServerAdmin.UTServerAdmin";
        row("server: bEnabled", ini, "False", web, "bEnabled");
        row("server: web admin password", ini, "OldSecret", admin, "AdminPassword");
        row("server: first of repeated keys", ini, "SoldierSkins", "Engine.GameEngine",
            "ServerPackages");
        row("server: value with ][", ini, "DM-Deck16][.unr", "URL", "LocalMap");
        row("server: key of another section", ini, "", web, "AdminPassword");

        row("plain", "[A]\r\nK=v\r\n", "v");
        row("names without regard to case", "[Uweb.WEBserver]\r\nBenabled=x\r\n", "x", web,
            "bEnabled");
        row("non-ASCII names in other case", "[Über]\nSchlüssel=1\n", "1", "üBER", "SCHLÜSSEL");
        row("blanks around names and value", "[ A ]\r\n \t K \t=  some value \t \r\n",
            "some value");
        row("blanks in the asked names", "[A]\nK=v\n", "v", " A ", " K ");
        row("double quotes removed", "[A]\nK=\" spaced \"\n", " spaced ");
        row("single quotes removed", "[A]\nK='v'\n", "v");
        row("quotes outside blanks removed", "[A]\nK=  \"v\"  \n", "v");
        row("only one pair removed", "[A]\nK=\"\"v\"\"\n", "\"v\"");
        row("mismatched quotes kept", "[A]\nK=\"v'\n", "\"v'");
        row("a lone quote kept", "[A]\nK=\"\n", "\"");
        row("inner quotes kept", "[A]\nK=a \"b\" c\n", "a \"b\" c");
        row("equals sign in the value", "[A]\nK=a=b\n", "a=b");
        row("comment line skipped", "[A]\n;K=commented\n  ; K=also\nK=real\n", "real");
        row("only a comment", "[A]\n;K=commented\n", "");
        row("commented section header", ";[A]\nK=no\n[A]\nK=yes\n", "yes");
        row("first key wins", "[A]\nK=1\nK=2\n", "1");
        row("first section wins", "[A]\nK=1\n[B]\nK=2\n[A]\nK=3\n", "1");
        row("key only in the repeated section", "[A]\nX=1\n[A]\nK=3\n", "");
        row("key before any section", "K=0\n[A]\nX=1\n", "");
        row("missing section", "[A]\nK=1\n", "", "B");
        row("missing key", "[A]\nK=1\n", "", "A", "X");
        row("key without =", "[A]\nK\nK=2\n", "2");
        row("header without ] ignored", "[A]\nX=1\n[B\nK=2\n", "2");
        row("section name is not a prefix", "[AB]\nK=1\n[A]\nK=2\n", "2");
        row("key name is not a prefix", "[A]\nKey=1\nK=2\n", "2");
        row("no final newline", "[A]\r\nK=v", "v");
        row("half-written line", "[A]\r\nK=v\r\nX=", "", "A", "X");
        row("half-written header", "[A]\r\nK=v\r\n[B", "v");
        row("UTF-8 byte-order mark", "\xEF\xBB\xBF[A]\r\nK=v\r\n", "v");
        row("UTF-8 value", "[A]\nK=caf\xC3\xA9 \xE2\x82\xAC\n", QString::fromUtf8("café €"));
        row("Windows-1252 value", "[A]\nK=caf\xE9 \x80\n", QString::fromUtf8("café €"));
        row("Windows-1252 undefined byte kept as C1", "[A]\nK=\x81\x8D\n",
            QString::fromUtf16(u"\u0081\u008D"));
        row("NUL bytes are ordinary", QByteArray("[A]\nX=\0\0\nK=a\0b\n", 15),
            QString::fromUtf16(u"a\0b", 3));
        row("value of 3000 characters cut to 2047",
            "[A]\r\nK=" + QByteArray(1000, 'x') + QByteArray(2000, 'y') + "\r\n",
            QString(1000, 'x') + QString(1047, 'y'));
        row("cut never splits a character", "[A]\nK=" + QByteArray(2046, 'x') + "\xF0\x9F\x98\x80",
            QString(2046, 'x'));
        row("value of 2047 characters whole", "[A]\r\nK=" + QByteArray(2047, 'z'),
            QString(2047, 'z'));
        row("binary junk", QByteArray("\x00\xff\xfe[\x01]=\x80\n\r\r\n=", 13), "");
        row("empty file", "", "");
        row("empty section asked", "[]\nK=1\n", "", "");
    }

    void read()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        const QString file = path("test.ini");
        QVERIFY(writeFile(file, content));
        QCOMPARE(readProfileString(section, key, file), expected);
        QCOMPARE(readFile(file), content); // reading never changes the file
    }

    void write_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("expected");
        const auto row = [](const char *name, const QByteArray &content, const QString &value,
                            const QByteArray &expected, const QString &section = "A",
                            const QString &key = "K") {
            QTest::newRow(name) << content << section << key << value << expected;
        };
        row("LF file keeps LF", "[A]\nK=old\nX=1\n", "new", "[A]\nK=new\nX=1\n");
        row("text before = kept", "[A]\r\n  K = old  \r\n", "new", "[A]\r\n  K =new\r\n");
        row("empty value", "[A]\r\nK=old\r\n", "", "[A]\r\nK=\r\n");
        row("first of repeated keys only", "[A]\r\nK=1\r\nK=2\r\n", "9", "[A]\r\nK=9\r\nK=2\r\n");
        row("same key in an earlier section untouched", "[B]\r\nK=b\r\n[A]\r\nK=a\r\n", "n",
            "[B]\r\nK=b\r\n[A]\r\nK=n\r\n");
        row("commented key untouched", "[A]\r\n;K=c\r\nK=y\r\n", "z", "[A]\r\n;K=c\r\nK=z\r\n");
        row("first section wins", "[A]\nK=1\n[B]\n[A]\nK=3\n", "x", "[A]\nK=x\n[B]\n[A]\nK=3\n");
        row("key missing in first of repeated sections", "[A]\nX=1\n[A]\nK=3\n", "x",
            "[A]\nX=1\nK=x\n[A]\nK=3\n");
        row("missing key after last non-blank line", "[A]\r\nX=1\r\n\r\n\r\n[B]\r\nY=2\r\n", "v",
            "[A]\r\nX=1\r\nK=v\r\n\r\n\r\n[B]\r\nY=2\r\n");
        row("missing key after a trailing comment", "[A]\nX=1\n;note\n\n[B]\n", "v",
            "[A]\nX=1\n;note\nK=v\n\n[B]\n");
        row("missing key in an empty section", "[A]\r\n[B]", "v", "[A]\r\nK=v\r\n[B]");
        row("missing key, header is the last line", "[A]", "v", "[A]\nK=v");
        row("missing section, final newline", "[A]\nX=1\n", "v", "[A]\nX=1\n\n[S]\nK=v\n", "S");
        row("missing section, file ends with a blank line", "[A]\nX=1\n\n", "v",
            "[A]\nX=1\n\n[S]\nK=v\n", "S");
        row("empty file", "", "v", "[S]\nK=v\n", "S");
        row("line ending from the first line", "[A]\r\nX=1\nY=2\n", "v",
            "[A]\r\nX=1\nY=2\nK=v\r\n");
        row("trailing blanks elsewhere kept", "[C]\r\nDefaultSendText=say \r\n[A]\r\nK=1  \r\n",
            "2", "[C]\r\nDefaultSendText=say \r\n[A]\r\nK=2\r\n");
        row("value with ; and quotes written as given", "[A]\nK=1\n", "a;\"b\"=c",
            "[A]\nK=a;\"b\"=c\n");
        row("NUL bytes elsewhere kept", QByteArray("[A]\nX=\0\nK=1\n", 12), "2",
            QByteArray("[A]\nX=\0\nK=2\n", 12));
        row("byte-order mark kept", "\xEF\xBB\xBF[A]\r\nK=1\r\n", "2",
            "\xEF\xBB\xBF[A]\r\nK=2\r\n");
        row("UTF-8 file stays UTF-8", "[A]\r\nName=J\xC3\xBCrgen\r\nK=1\r\n",
            QString::fromUtf8("é"), "[A]\r\nName=J\xC3\xBCrgen\r\nK=\xC3\xA9\r\n");
        row("Windows-1252 file stays Windows-1252", "[A]\r\nName=J\xFCrgen\r\nK=1\r\n",
            QString::fromUtf8("é €"), "[A]\r\nName=J\xFCrgen\r\nK=\xE9 \x80\r\n");
        row("Windows-1252 lacks the character", "[A]\nN=\xFC\nK=1\n", QString::fromUtf8("ł"),
            "[A]\nN=\xFC\nK=?\n");
        row("Windows-1252 names matched", "[\xDC]\nSchl\xFC\x73sel=1\n", "2",
            "[\xDC]\nSchl\xFC\x73sel=2\n", QString::fromUtf8("ü"), QString::fromUtf8("SCHLÜSSEL"));
        row("ASCII file takes UTF-8", "[A]\nK=1\n", QString::fromUtf8("é"), "[A]\nK=\xC3\xA9\n");
    }

    void write()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QByteArray, expected);
        const QString file = path("test.ini");
        QVERIFY(writeFile(file, content));
        QVERIFY(writeProfileString(section, key, value, file));
        QCOMPARE(readFile(file), expected);
        const QString readBack = value.contains(u'ł') ? QStringLiteral("?") : value;
        QCOMPARE(readProfileString(section, key, file), readBack);
        QCOMPARE(entries(m_dir->path()), QStringList{"test.ini"}); // no temporary file left
    }

    void missingFileOrFolder()
    {
        // A missing file reads as nothing and is made by a write.
        const QString file = path("new.ini");
        QCOMPARE(readProfileString("UWeb.WebServer", "ListenPort", file), QString());
        QVERIFY(writeProfileString("UWeb.WebServer", "ListenPort", "8888", file));
        QCOMPARE(readFile(file), QByteArray("[UWeb.WebServer]\nListenPort=8888\n"));
        QCOMPARE(statOf(file).st_mode & 07777, mode_t(0644)); // 0666 less the umask 022
        // A missing folder is not.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Cannot write INI file"));
        QVERIFY(!writeProfileString("A", "K", "v", path("no/such/folder/x.ini")));
        QCOMPARE(entries(m_dir->path()), QStringList{"new.ini"});
    }

    void emptyPath()
    {
        // Run from inside the folder, so that a write to a relative name would land in it.
        const QString oldCwd = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_dir->path()));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^No INI file named"));
        const bool written = writeProfileString("UWeb.WebServer", "bEnabled", "TRUE", QString());
        const QString read = readProfileString("UWeb.WebServer", "bEnabled", QString());
        QVERIFY(QDir::setCurrent(oldCwd));
        QVERIFY(!written);
        QCOMPARE(read, QString());
        QCOMPARE(entries(m_dir->path()), QStringList());
    }

    void readOnlyFile()
    {
        const QString file = path("ro.ini");
        QVERIFY(writeFile(file, serverIni()));
        QVERIFY(::chmod(QFile::encodeName(file).constData(), 0444) == 0);
        const struct stat before = statOf(file);

        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("may not be written"));
        QVERIFY(!writeProfileString("UWeb.WebServer", "bEnabled", "TRUE", file));
        QCOMPARE(readFile(file), serverIni());
        const struct stat after = statOf(file);
        QCOMPARE(after.st_mode, before.st_mode);
        QCOMPARE(after.st_ino, before.st_ino);
        QCOMPARE(entries(m_dir->path()), QStringList{"ro.ini"});
        QCOMPARE(readProfileString("UWeb.WebServer", "bEnabled", file), QStringLiteral("False"));
    }

    void symbolicLink()
    {
        // The link stays a link; the file it points to gets the new content.
        QVERIFY(QDir(m_dir->path()).mkdir("real"));
        const QString target = path("real/UnrealTournament.ini");
        const QString link = path("link.ini");
        QVERIFY(writeFile(target, "[UWeb.WebServer]\r\nbEnabled=False\r\n"));
        QVERIFY(QFile::link("real/UnrealTournament.ini", link)); // a relative link
        QVERIFY(writeProfileString("UWeb.WebServer", "bEnabled", "TRUE", link));
        QCOMPARE(QFileInfo(link).symLinkTarget(), QFileInfo(target).absoluteFilePath());
        QCOMPARE(readFile(target), QByteArray("[UWeb.WebServer]\r\nbEnabled=TRUE\r\n"));
        QCOMPARE(entries(path("real")), QStringList{"UnrealTournament.ini"});

        // A link to a file not there yet makes that file.
        const QString dangling = path("dangling.ini");
        QVERIFY(QFile::link(path("later.ini"), dangling));
        QVERIFY(writeProfileString("A", "K", "v", dangling));
        QVERIFY(QFileInfo(dangling).isSymLink());
        QCOMPARE(readFile(path("later.ini")), QByteArray("[A]\nK=v\n"));
    }

    void permissionsKeptAndReplacedWhole()
    {
        const QString file = path("perm.ini");
        QVERIFY(writeFile(file, "[A]\nK=old\n"));
        QVERIFY(::chmod(QFile::encodeName(file).constData(), 0640) == 0);
        const struct stat before = statOf(file);

        // A reader that has the file open keeps seeing the old content: the file is replaced,
        // not rewritten in place, so no reader ever sees half a file.
        const int oldFd = ::open(QFile::encodeName(file).constData(), O_RDONLY);
        QVERIFY(oldFd >= 0);
        QVERIFY(writeProfileString("A", "K", "new", file));
        char buf[64] = {};
        const ssize_t got = ::pread(oldFd, buf, sizeof buf, 0);
        ::close(oldFd);
        QCOMPARE(QByteArray(buf, int(got)), QByteArray("[A]\nK=old\n"));

        const struct stat after = statOf(file);
        QCOMPARE(after.st_mode & 07777, mode_t(0640));
        QCOMPARE(after.st_uid, before.st_uid);
        QCOMPARE(after.st_gid, before.st_gid);
        QVERIFY(after.st_ino != before.st_ino);
        QCOMPARE(readFile(file), QByteArray("[A]\nK=new\n"));
    }

    void unusableNamesAndValues_data()
    {
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        const auto row = [](const char *name, const QString &section, const QString &key,
                            const QString &value) {
            QTest::newRow(name) << section << key << value;
        };
        row("line break in the value", "A", "K", "x\r\n[Evil]\r\nK=y");
        row("LF in the value", "A", "K", "x\nK2=y");
        row("CR in the value", "A", "K", "x\rK2=y");
        row("NUL in the value", "A", "K", QString::fromUtf16(u"a\0b", 3));
        row("line break in the key", "A", "K\nX", "v");
        row("= in the key", "A", "K=X", "v");
        row("empty key", "A", " ", "v");
        row("empty section", "", "K", "v");
        row("line break in the section", "A]\n[B", "K", "v");
    }

    void unusableNamesAndValues()
    {
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        const QString file = path("test.ini");
        QVERIFY(writeFile(file, "[A]\r\nK=1\r\n"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("unusable"));
        QVERIFY(!writeProfileString(section, key, value, file));
        QCOMPARE(readFile(file), QByteArray("[A]\r\nK=1\r\n"));
    }

    void refusedFiles_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("readWarning");
        QTest::addColumn<QString>("writeWarning"); // empty: no write is tried
        QTest::newRow("folder") << "folder"
                                << "^Cannot read INI file"
                                << "not a regular file";
        QTest::newRow("FIFO nobody writes to") << "fifo"
                                               << "^Cannot read INI file"
                                               << "not a regular file";
        // Never try to replace a device, even in a test.
        QTest::newRow("/dev/zero") << "device"
                                   << "^Cannot read INI file"
                                   << "";
        QTest::newRow("sparse file over 64 MiB") << "huge"
                                                 << "larger than 64 MiB"
                                                 << "larger than 64 MiB";
    }

    void refusedFiles()
    {
        QFETCH(QString, kind);
        QFETCH(QString, readWarning);
        QFETCH(QString, writeWarning);
        QString file = path("special.ini");
        if (kind == "folder") {
            QVERIFY(QDir(m_dir->path()).mkdir("special.ini"));
        } else if (kind == "fifo") {
            QVERIFY(::mkfifo(QFile::encodeName(file).constData(), 0644) == 0);
        } else if (kind == "device") {
            file = QStringLiteral("/dev/zero");
        } else {
            // Costs no disk space, but is too big to take in.
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write("[A]\nK=v\n") == 8);
            QVERIFY(f.resize(64 * 1024 * 1024 + 1));
        }
        // Neither may block or read without end.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(readWarning));
        QCOMPARE(readProfileString("A", "K", file), QString());
        if (!writeWarning.isEmpty()) {
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(writeWarning));
            QVERIFY(!writeProfileString("A", "K", "w", file));
            QCOMPARE(entries(m_dir->path()), QStringList{"special.ini"});
            if (kind == "huge")
                QCOMPARE(QFileInfo(file).size(), qint64(64 * 1024 * 1024 + 1));
        }
    }

    void largeContent_data()
    {
        QTest::addColumn<QByteArray>("before"); // then "[A]\nK=v\n"
        QTest::addColumn<QString>("key");       // written with "w"
        QTest::addColumn<QByteArray>("after");  // what follows `before` then
        // 8 MiB of NUL bytes and noise before the section: just bytes, read and rewritten exactly.
        QByteArray noise(8 * 1024 * 1024, '\0');
        for (qsizetype i = 0; i < noise.size(); i += 4099)
            noise[i] = char(i % 251);
        QTest::newRow("8 MiB of binary bytes") << noise + '\n' << "K" << QByteArray("[A]\nK=w\n");
        // Eight million empty lines before the section: no hang, no crash, nothing lost.
        QTest::newRow("8 million empty lines")
            << QByteArray(8 * 1024 * 1024, '\n') << "X" << QByteArray("[A]\nK=v\nX=w\n");
    }

    void largeContent()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, key);
        QFETCH(QByteArray, after);
        const QString file = path("big.ini");
        QVERIFY(writeFile(file, before + "[A]\nK=v\n"));
        QCOMPARE(readProfileString("A", "K", file), QStringLiteral("v"));
        QVERIFY(writeProfileString("A", key, "w", file));
        QVERIFY(readFile(file) == before + after);
    }
};

QTEST_GUILESS_MAIN(TestIniFile)
#include "tst_inifile.moc"
