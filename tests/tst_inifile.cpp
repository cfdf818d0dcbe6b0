// The INI reader and writer on real files. Every write is checked byte for byte against the
// expected file, which the test builds from the original bytes with plain string operations.
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

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

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

// An INI file shaped like the ones the game server writes: CRLF, about 50 sections and 700
// lines, repeated and indexed keys, blanks at the end of values, AdminPassword in two sections,
// a web server section without ListenPort, and no line ending after the last line.
QByteArray serverIni()
{
    QList<QByteArray> lines;
    auto section = [&lines](const QByteArray &name) {
        if (!lines.isEmpty())
            lines << QByteArray();
        lines << '[' + name + ']';
    };
    section("URL");
    lines << "Protocol=unreal"
          << "ProtocolDescription=Unreal Protocol"
          << "Name=Player"
          << "Map=Index.unr"
          << "LocalMap=DM-Deck16][.unr"
          << "Host="
          << "Portal="
          << "MapExt=unr"
          << "SaveExt=usa"
          << "Port=7777"
          << "Class=Botpack.TMale1";
    section("FirstRun");
    lines << "FirstRun=436";
    section("PackageRemap");
    lines << "UnrealShare=UnrealI";
    section("Engine.Engine");
    lines << "GameRenderDevice=SoftDrv.SoftwareRenderDevice"
          << "AudioDevice=Audio.Generic"
          << "NetworkDevice=IpDrv.TcpNetDriver"
          << "DemoRecordingDevice=Engine.DemoRecDriver"
          << "Console=UTMenu.UTConsole"
          << "Language=int"
          << "GameEngine=Engine.GameEngine"
          << "EditorEngine=Editor.EditorEngine"
          << "DefaultGame=Botpack.DeathMatchPlus"
          << "DefaultServerGame=Botpack.DeathMatchPlus"
          << "ViewportManager=SDLDrv.SDLClient"
          << "Render=Render.Render"
          << "Input=Engine.Input"
          << "Canvas=Engine.Canvas";
    section("Core.System");
    lines << "PurgeCacheDays=30"
          << "SavePath=../Save"
          << "CachePath=../Cache"
          << "CacheExt=.uxx"
          << "Paths=../System/*.u"
          << "Paths=../Maps/*.unr"
          << "Paths=../Textures/*.utx"
          << "Paths=../Sounds/*.uax"
          << "Paths=../Music/*.umx";
    for (const char *s : {"DevLoad", "DevSave", "DevNetTraffic", "DevGarbage", "DevKill",
                          "DevReplace", "DevSound", "DevCompile", "DevBind", "DevBsp"})
        lines << QByteArray("Suppress=") + s;
    section("Engine.GameEngine");
    lines << "CacheSizeMegs=4"
          << "UseSound=True";
    lines << "ServerActors=IpDrv.UdpBeacon"
          << "ServerActors=IpServer.UdpServerQuery"
          << "ServerActors=IpServer.UdpServerUplink MasterServerAddress=unreal.epicgames.com "
             "MasterServerPort=27900"
          << "ServerActors=UWeb.WebServer";
    for (const char *p : {"SoldierSkins", "CommandoSkins", "FCommandoSkins", "SGirlSkins",
                          "BossSkins", "Botpack", "MultiMesh", "EpicCustomModels", "TCowMeshSkins",
                          "TNaliMeshSkins", "TSkMSkins", "LadderSounds", "UTServerAdmin"})
        lines << QByteArray("ServerPackages=") + p;
    section("Engine.GameInfo");
    lines << "bLowGore=False"
          << "bVeryLowGore=False"
          << "bMuteSpectators=False"
          << "bNoCheating=True"
          << "bAllowFOV=False"
          << "AutoAim=0.930000"
          << "GameSpeed=1.000000"
          << "MaxSpectators=2"
          << "AdminPassword=GameInfoSecret"
          << "GamePassword="
          << "bLocalLog=True"
          << "bWorldLog=False";
    lines << "IPPolicies[0]=ACCEPT,*";
    for (int i = 1; i < 50; ++i)
        lines << "IPPolicies[" + QByteArray::number(i) + "]=DENY,10.0." + QByteArray::number(i) +
                     ".*";
    section("UTMenu.UTChatWindow");
    lines << "DefaultSendText=say "
          << "bShowTimeStamps=False  "
          << "Font=Tahoma 8";
    section("Editor.EditorEngine");
    lines << "UseSound=True"
          << "CacheSizeMegs=6"
          << "GridEnabled=True";
    for (const char *p :
         {"Core", "Engine", "Editor", "UWindow", "Fire", "IpDrv", "UWeb", "UBrowser", "UnrealShare",
          "UnrealI", "UMenu", "IpServer", "Botpack", "UTServerAdmin", "UTMenu", "UTBrowser"})
        lines << QByteArray("EditPackages=") + p;
    section("IpDrv.TcpNetDriver");
    lines << "AllowDownloads=True"
          << "ConnectionTimeout=15.0"
          << "InitialConnectTimeout=500.0"
          << "AckTimeout=1.0"
          << "KeepAliveTime=0.2"
          << "MaxClientRate=20000"
          << "SimLatency=0"
          << "RelevantTimeout=5.0"
          << "SpawnPrioritySeconds=1.0"
          << "ServerTravelPause=4.0"
          << "NetServerMaxTickRate=20"
          << "LanServerMaxTickRate=35";
    section("UWeb.WebServer");
    lines << "Applications[0]=UTServerAdmin.UTServerAdmin"
          << "ApplicationPaths[0]=/ServerAdmin"
          << "Applications[1]=UTServerAdmin.UTImageServer"
          << "ApplicationPaths[1]=/images"
          << "DefaultApplication=0"
          << "bEnabled=False";
    // The rest of a real file: driver, game type and menu sections with a dozen keys each.
    const char *more[] = {"Engine.Player",
                          "Engine.HUD",
                          "Engine.Pawn",
                          "Engine.PlayerPawn",
                          "SDLDrv.SDLClient",
                          "Audio.GenericAudioSubsystem",
                          "OpenGLDrv.OpenGLRenderDevice",
                          "SoftDrv.SoftwareRenderDevice",
                          "IpServer.UdpServerQuery",
                          "IpServer.UdpServerUplink",
                          "IpDrv.UdpBeacon",
                          "UBrowser.UBrowserMainClientWindow",
                          "UMenu.UnrealConsole",
                          "UTMenu.UTMenuBotmatchCW",
                          "Botpack.ChallengeBotInfo",
                          "Botpack.DeathMatchPlus",
                          "Botpack.CTFGame",
                          "Botpack.Domination",
                          "Botpack.Assault",
                          "Botpack.TeamGamePlus",
                          "Botpack.LastManStanding",
                          "Botpack.TrophyGame",
                          "Engine.DemoRecDriver",
                          "Engine.LevelInfo",
                          "Engine.GameReplicationInfo",
                          "UTServerAdmin.UTImageServer",
                          "Engine.Input",
                          "Engine.StatLog",
                          "Botpack.TournamentGameInfo",
                          "Engine.Console",
                          "UMenu.UMenuMenuBar",
                          "UTMenu.UTConsole",
                          "Botpack.TournamentPlayer",
                          "UBrowser.UBrowserServerList",
                          "Engine.Mutator",
                          "Engine.Actor",
                          "Botpack.UTIntro",
                          "UWindow.WindowConsole",
                          "UBrowser.UBrowserUpdateServerLink"};
    for (const char *name : more) {
        section(name);
        for (int k = 0; k < 14; ++k)
            lines << "Setting" + QByteArray::number(k) + "=" + QByteArray(name).toLower() + "_" +
                         QByteArray::number(k);
    }
    section("UTServerAdmin.UTServerAdmin");
    lines << "AdminUsername=admin"
          << "AdminPassword=OldSecret";
    return lines.join("\r\n");
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

private slots:
    void initTestCase();
    void init();

    void serverIniShape();
    void serverIniWrites_data();
    void serverIniWrites();
    void serverIniReads_data();
    void serverIniReads();

    void read_data();
    void read();
    void write_data();
    void write();

    void missingFileIsCreated();
    void missingFolder();
    void emptyPath();
    void readOnlyFile();
    void symbolicLink();
    void danglingLink();
    void permissionsKeptAndReplacedWhole();
    void unusableNamesAndValues_data();
    void unusableNamesAndValues();
    void specialFiles_data();
    void specialFiles();
    void oversizedFile();
    void bigBinaryFile();
    void millionsOfLines();

private:
    QString path(const QString &name) const { return m_dir->filePath(name); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestIniFile::initTestCase()
{
    ::umask(022);
}

void TestIniFile::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestIniFile::serverIniShape()
{
    // The generated file really has the features the other tests rely on.
    const QByteArray ini = serverIni();
    QVERIFY(ini.count("\r\n") >= 600);
    QCOMPARE(ini.count("\n"), ini.count("\r\n"));
    QVERIFY(ini.count("\r\n[") >= 49);
    QVERIFY(!ini.endsWith('\n'));
    QVERIFY(ini.count("\r\nServerPackages=") > 5 && ini.count("\r\nEditPackages=") > 5);
    QVERIFY(ini.count("AdminPassword=") == 2 && !ini.contains("ListenPort"));
}

void TestIniFile::serverIniWrites_data()
{
    QTest::addColumn<QList<Edit>>("edits");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray ini = serverIni();
    const QByteArray web = "\r\n[UWeb.WebServer]\r\n";
    const QByteArray admin = "\r\n[UTServerAdmin.UTServerAdmin]\r\n";
    const QByteArray enabled = replaceAfter(ini, web, "bEnabled=False", "bEnabled=TRUE");

    QTest::newRow("bEnabled switched on")
        << QList<Edit>{{"UWeb.WebServer", "bEnabled", "TRUE"}} << enabled;
    QTest::newRow("ListenPort added after the section's last line")
        << QList<Edit>{{"UWeb.WebServer", "ListenPort", "8080"}}
        << replaceAfter(ini, web, "bEnabled=False\r\n", "bEnabled=False\r\nListenPort=8080\r\n");
    QTest::newRow("AdminUsername replaced")
        << QList<Edit>{{"UTServerAdmin.UTServerAdmin", "AdminUsername", "Mr Admin"}}
        << replaceAfter(ini, admin, "AdminUsername=admin", "AdminUsername=Mr Admin");
    QTest::newRow("AdminPassword replaced in its section only, last line without newline")
        << QList<Edit>{{"UTServerAdmin.UTServerAdmin", "AdminPassword", "n3w p@ss;#=x"}}
        << replaceAfter(ini, admin, "AdminPassword=OldSecret", "AdminPassword=n3w p@ss;#=x");
    QTest::newRow("names in other case")
        << QList<Edit>{{"uweb.webserver", "BENABLED", "TRUE"}} << enabled;
    QTest::newRow("key added to the last section, still no final newline")
        << QList<Edit>{{"UTServerAdmin.UTServerAdmin", "AdminRealm", "UT"}}
        << ini + "\r\nAdminRealm=UT";
    QTest::newRow("new section appended with CRLF")
        << QList<Edit>{{"Kelvoran.Test", "Answer", "42"}}
        << ini + "\r\n\r\n[Kelvoran.Test]\r\nAnswer=42\r\n";
    QTest::newRow("same value again: file unchanged")
        << QList<Edit>{{"Engine.GameInfo", "AdminPassword", "GameInfoSecret"}} << ini;

    // Save Settings after the start-up read: the four keys one after another.
    QByteArray all = enabled;
    all = replaceAfter(all, web, "bEnabled=TRUE\r\n", "bEnabled=TRUE\r\nListenPort=5080\r\n");
    all = replaceAfter(all, admin, "AdminUsername=admin", "AdminUsername=boss");
    all = replaceAfter(all, admin, "AdminPassword=OldSecret", "AdminPassword=s3cret!");
    QTest::newRow("the program's four keys in a row")
        << QList<Edit>{{"UWeb.WebServer", "bEnabled", "TRUE"},
                       {"UWeb.WebServer", "ListenPort", "5080"},
                       {"UTServerAdmin.UTServerAdmin", "AdminUsername", "boss"},
                       {"UTServerAdmin.UTServerAdmin", "AdminPassword", "s3cret!"}}
        << all;
}

void TestIniFile::serverIniWrites()
{
    QFETCH(QList<Edit>, edits);
    QFETCH(QByteArray, expected);
    QVERIFY(!expected.startsWith("<anchor"));

    const QString file = path("UnrealTournament.ini");
    QVERIFY(writeBytes(file, serverIni()));
    for (const Edit &e : edits) {
        QVERIFY(writeProfileString(e.section, e.key, e.value, file));
        QCOMPARE(readProfileString(e.section, e.key, file), e.value);
    }
    const QByteArray actual = readAll(file);
    if (actual != expected) {
        // Show where the files part, which a comparison of 20 kB does not.
        qsizetype i = 0;
        while (i < actual.size() && i < expected.size() && actual[i] == expected[i])
            ++i;
        QFAIL(qPrintable(
            QStringLiteral("files differ at byte %1: got \"%2\", expected \"%3\"")
                .arg(i)
                .arg(QString::fromLatin1(actual.mid(i - 20, 60).toPercentEncoding()),
                     QString::fromLatin1(expected.mid(i - 20, 60).toPercentEncoding()))));
    }
    QCOMPARE(entries(m_dir->path()), QStringList{"UnrealTournament.ini"});
}

void TestIniFile::serverIniReads_data()
{
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");

    QTest::newRow("bEnabled") << "UWeb.WebServer"
                              << "bEnabled"
                              << "False";
    QTest::newRow("no ListenPort") << "UWeb.WebServer"
                                   << "ListenPort"
                                   << "";
    QTest::newRow("admin user") << "UTServerAdmin.UTServerAdmin"
                                << "AdminUsername"
                                << "admin";
    QTest::newRow("admin password of the web admin") << "UTServerAdmin.UTServerAdmin"
                                                     << "AdminPassword"
                                                     << "OldSecret";
    QTest::newRow("admin password of the game") << "Engine.GameInfo"
                                                << "AdminPassword"
                                                << "GameInfoSecret";
    QTest::newRow("first of the repeated keys") << "Engine.GameEngine"
                                                << "ServerPackages"
                                                << "SoldierSkins";
    QTest::newRow("indexed key") << "Engine.GameInfo"
                                 << "IPPolicies[0]"
                                 << "ACCEPT,*";
    QTest::newRow("indexed key 49") << "Engine.GameInfo"
                                    << "IPPolicies[49]"
                                    << "DENY,10.0.49.*";
    QTest::newRow("trailing blank trimmed") << "UTMenu.UTChatWindow"
                                            << "DefaultSendText"
                                            << "say";
    QTest::newRow("value with ][ in it") << "URL"
                                         << "LocalMap"
                                         << "DM-Deck16][.unr";
    QTest::newRow("empty value") << "Engine.GameInfo"
                                 << "GamePassword"
                                 << "";
    QTest::newRow("key of another section") << "UWeb.WebServer"
                                            << "AdminPassword"
                                            << "";
}

void TestIniFile::serverIniReads()
{
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, expected);
    const QString file = path("UnrealTournament.ini");
    QVERIFY(writeBytes(file, serverIni()));
    QCOMPARE(readProfileString(section, key, file), expected);
}

void TestIniFile::read_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");

    QTest::newRow("plain") << QByteArray("[A]\r\nK=v\r\n") << "A"
                           << "K"
                           << "v";
    QTest::newRow("names without regard to case")
        << QByteArray("[Uweb.WEBserver]\r\nBenabled=x\r\n") << "UWeb.WebServer"
        << "bEnabled"
        << "x";
    QTest::newRow("non-ASCII names in other case") << QByteArray("[Über]\nSchlüssel=1\n") << "üBER"
                                                   << "SCHLÜSSEL"
                                                   << "1";
    QTest::newRow("blanks around names and value")
        << QByteArray("[ A ]\r\n \t K \t=  some value \t \r\n") << "A"
        << "K"
        << "some value";
    QTest::newRow("blanks in the asked names") << QByteArray("[A]\nK=v\n") << " A "
                                               << " K "
                                               << "v";
    QTest::newRow("double quotes removed") << QByteArray("[A]\nK=\" spaced \"\n") << "A"
                                           << "K"
                                           << " spaced ";
    QTest::newRow("single quotes removed") << QByteArray("[A]\nK='v'\n") << "A"
                                           << "K"
                                           << "v";
    QTest::newRow("quotes outside blanks removed") << QByteArray("[A]\nK=  \"v\"  \n") << "A"
                                                   << "K"
                                                   << "v";
    QTest::newRow("only one pair removed") << QByteArray("[A]\nK=\"\"v\"\"\n") << "A"
                                           << "K"
                                           << "\"v\"";
    QTest::newRow("mismatched quotes kept") << QByteArray("[A]\nK=\"v'\n") << "A"
                                            << "K"
                                            << "\"v'";
    QTest::newRow("a lone quote kept") << QByteArray("[A]\nK=\"\n") << "A"
                                       << "K"
                                       << "\"";
    QTest::newRow("inner quotes kept") << QByteArray("[A]\nK=a \"b\" c\n") << "A"
                                       << "K"
                                       << "a \"b\" c";
    QTest::newRow("equals sign in the value") << QByteArray("[A]\nK=a=b\n") << "A"
                                              << "K"
                                              << "a=b";
    QTest::newRow("comment line skipped")
        << QByteArray("[A]\n;K=commented\n  ; K=also\nK=real\n") << "A"
        << "K"
        << "real";
    QTest::newRow("only a comment") << QByteArray("[A]\n;K=commented\n") << "A"
                                    << "K"
                                    << "";
    QTest::newRow("commented section header") << QByteArray(";[A]\nK=no\n[A]\nK=yes\n") << "A"
                                              << "K"
                                              << "yes";
    QTest::newRow("first key wins") << QByteArray("[A]\nK=1\nK=2\n") << "A"
                                    << "K"
                                    << "1";
    QTest::newRow("first section wins") << QByteArray("[A]\nK=1\n[B]\nK=2\n[A]\nK=3\n") << "A"
                                        << "K"
                                        << "1";
    QTest::newRow("key only in the repeated section") << QByteArray("[A]\nX=1\n[A]\nK=3\n") << "A"
                                                      << "K"
                                                      << "";
    QTest::newRow("key of another section") << QByteArray("[A]\nK=1\n[B]\nX=2\n") << "B"
                                            << "K"
                                            << "";
    QTest::newRow("key before any section") << QByteArray("K=0\n[A]\nX=1\n") << "A"
                                            << "K"
                                            << "";
    QTest::newRow("missing section") << QByteArray("[A]\nK=1\n") << "B"
                                     << "K"
                                     << "";
    QTest::newRow("missing key") << QByteArray("[A]\nK=1\n") << "A"
                                 << "X"
                                 << "";
    QTest::newRow("key without =") << QByteArray("[A]\nK\nK=2\n") << "A"
                                   << "K"
                                   << "2";
    QTest::newRow("header without ] ignored") << QByteArray("[A]\nX=1\n[B\nK=2\n") << "A"
                                              << "K"
                                              << "2";
    QTest::newRow("section name is not a key prefix") << QByteArray("[AB]\nK=1\n[A]\nK=2\n") << "A"
                                                      << "K"
                                                      << "2";
    QTest::newRow("key name is not a prefix") << QByteArray("[A]\nKey=1\nK=2\n") << "A"
                                              << "K"
                                              << "2";
    QTest::newRow("LF file") << QByteArray("[A]\nK=v\n") << "A"
                             << "K"
                             << "v";
    QTest::newRow("no final newline") << QByteArray("[A]\r\nK=v") << "A"
                                      << "K"
                                      << "v";
    QTest::newRow("half-written line") << QByteArray("[A]\r\nK=v\r\nX=") << "A"
                                       << "X"
                                       << "";
    QTest::newRow("half-written header") << QByteArray("[A]\r\nK=v\r\n[B") << "A"
                                         << "K"
                                         << "v";
    QTest::newRow("UTF-8 byte-order mark") << QByteArray("\xEF\xBB\xBF[A]\r\nK=v\r\n") << "A"
                                           << "K"
                                           << "v";
    QTest::newRow("UTF-8 value") << QByteArray("[A]\nK=caf\xC3\xA9 \xE2\x82\xAC\n") << "A"
                                 << "K" << QString::fromUtf8("café €");
    QTest::newRow("Windows-1252 value") << QByteArray("[A]\nK=caf\xE9 \x80\n") << "A"
                                        << "K" << QString::fromUtf8("café €");
    QTest::newRow("Windows-1252 undefined byte kept as C1")
        << QByteArray("[A]\nK=\x81\x8D\n") << "A"
        << "K" << QString::fromUtf16(u"\u0081\u008D");
    QTest::newRow("NUL bytes are ordinary") << QByteArray("[A]\nX=\0\0\nK=a\0b\n", 15) << "A"
                                            << "K" << QString::fromUtf16(u"a\0b", 3);
    QTest::newRow("value of 3000 characters cut to 2047")
        << "[A]\r\nK=" + QByteArray(1000, 'x') + QByteArray(2000, 'y') + "\r\n"
        << "A"
        << "K" << QString(1000, 'x') + QString(1047, 'y');
    QTest::newRow("cut never splits a character")
        << "[A]\nK=" + QByteArray(2046, 'x') + "\xF0\x9F\x98\x80"
        << "A"
        << "K" << QString(2046, 'x');
    QTest::newRow("value of 2047 characters whole") << "[A]\r\nK=" + QByteArray(2047, 'z') << "A"
                                                    << "K" << QString(2047, 'z');
    QTest::newRow("binary junk") << QByteArray("\x00\xff\xfe[\x01]=\x80\n\r\r\n=", 13) << "A"
                                 << "K"
                                 << "";
    QTest::newRow("empty file") << QByteArray("") << "A"
                                << "K"
                                << "";
    QTest::newRow("empty section asked") << QByteArray("[]\nK=1\n") << ""
                                         << "K"
                                         << "";
}

void TestIniFile::read()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, expected);
    const QString file = path("test.ini");
    QVERIFY(writeBytes(file, content));
    QCOMPARE(readProfileString(section, key, file), expected);
    QCOMPARE(readAll(file), content); // reading never changes the file
}

void TestIniFile::write_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("LF file keeps LF") << QByteArray("[A]\nK=old\nX=1\n") << "A"
                                      << "K"
                                      << "new" << QByteArray("[A]\nK=new\nX=1\n");
    QTest::newRow("text before = kept") << QByteArray("[A]\r\n  K = old  \r\n") << "A"
                                        << "K"
                                        << "new" << QByteArray("[A]\r\n  K =new\r\n");
    QTest::newRow("empty value") << QByteArray("[A]\r\nK=old\r\n") << "A"
                                 << "K"
                                 << "" << QByteArray("[A]\r\nK=\r\n");
    QTest::newRow("first of repeated keys only") << QByteArray("[A]\r\nK=1\r\nK=2\r\n") << "A"
                                                 << "K"
                                                 << "9" << QByteArray("[A]\r\nK=9\r\nK=2\r\n");
    QTest::newRow("same key in an earlier section untouched")
        << QByteArray("[B]\r\nK=b\r\n[A]\r\nK=a\r\n") << "A"
        << "K"
        << "n" << QByteArray("[B]\r\nK=b\r\n[A]\r\nK=n\r\n");
    QTest::newRow("commented key untouched") << QByteArray("[A]\r\n;K=c\r\nK=y\r\n") << "A"
                                             << "K"
                                             << "z" << QByteArray("[A]\r\n;K=c\r\nK=z\r\n");
    QTest::newRow("first section wins") << QByteArray("[A]\nK=1\n[B]\n[A]\nK=3\n") << "A"
                                        << "K"
                                        << "x" << QByteArray("[A]\nK=x\n[B]\n[A]\nK=3\n");
    QTest::newRow("key missing in first of repeated sections")
        << QByteArray("[A]\nX=1\n[A]\nK=3\n") << "A"
        << "K"
        << "x" << QByteArray("[A]\nX=1\nK=x\n[A]\nK=3\n");
    QTest::newRow("names in other case, file's spelling kept")
        << QByteArray("[uweb.WEBSERVER]\r\nBENABLED=False\r\n") << "UWeb.WebServer"
        << "bEnabled"
        << "TRUE" << QByteArray("[uweb.WEBSERVER]\r\nBENABLED=TRUE\r\n");
    QTest::newRow("missing key after last non-blank line")
        << QByteArray("[A]\r\nX=1\r\n\r\n\r\n[B]\r\nY=2\r\n") << "A"
        << "K"
        << "v" << QByteArray("[A]\r\nX=1\r\nK=v\r\n\r\n\r\n[B]\r\nY=2\r\n");
    QTest::newRow("missing key after a trailing comment")
        << QByteArray("[A]\nX=1\n;note\n\n[B]\n") << "A"
        << "K"
        << "v" << QByteArray("[A]\nX=1\n;note\nK=v\n\n[B]\n");
    QTest::newRow("missing key in an empty section") << QByteArray("[A]\r\n[B]") << "A"
                                                     << "K"
                                                     << "v" << QByteArray("[A]\r\nK=v\r\n[B]");
    QTest::newRow("missing key, section last, no final newline")
        << QByteArray("[A]\r\nX=1") << "A"
        << "K"
        << "v" << QByteArray("[A]\r\nX=1\r\nK=v");
    QTest::newRow("missing key, header is the last line") << QByteArray("[A]") << "A"
                                                          << "K"
                                                          << "v" << QByteArray("[A]\nK=v");
    QTest::newRow("missing section, final newline") << QByteArray("[A]\nX=1\n") << "S"
                                                    << "K"
                                                    << "v" << QByteArray("[A]\nX=1\n\n[S]\nK=v\n");
    QTest::newRow("missing section, no final newline")
        << QByteArray("[A]\r\nX=1") << "S"
        << "K"
        << "v" << QByteArray("[A]\r\nX=1\r\n\r\n[S]\r\nK=v\r\n");
    QTest::newRow("missing section, file ends with a blank line")
        << QByteArray("[A]\nX=1\n\n") << "S"
        << "K"
        << "v" << QByteArray("[A]\nX=1\n\n[S]\nK=v\n");
    QTest::newRow("empty file") << QByteArray("") << "S"
                                << "K"
                                << "v" << QByteArray("[S]\nK=v\n");
    QTest::newRow("line ending from the first line")
        << QByteArray("[A]\r\nX=1\nY=2\n") << "A"
        << "K"
        << "v" << QByteArray("[A]\r\nX=1\nY=2\nK=v\r\n");
    QTest::newRow("trailing blanks elsewhere kept")
        << QByteArray("[C]\r\nDefaultSendText=say \r\n[A]\r\nK=1  \r\n") << "A"
        << "K"
        << "2" << QByteArray("[C]\r\nDefaultSendText=say \r\n[A]\r\nK=2\r\n");
    QTest::newRow("value with ; and quotes written as given")
        << QByteArray("[A]\nK=1\n") << "A"
        << "K"
        << "a;\"b\"=c" << QByteArray("[A]\nK=a;\"b\"=c\n");
    QTest::newRow("NUL bytes elsewhere kept") << QByteArray("[A]\nX=\0\nK=1\n", 12) << "A"
                                              << "K"
                                              << "2" << QByteArray("[A]\nX=\0\nK=2\n", 12);
    QTest::newRow("byte-order mark kept") << QByteArray("\xEF\xBB\xBF[A]\r\nK=1\r\n") << "A"
                                          << "K"
                                          << "2" << QByteArray("\xEF\xBB\xBF[A]\r\nK=2\r\n");
    QTest::newRow("UTF-8 file stays UTF-8")
        << QByteArray("[A]\r\nName=J\xC3\xBCrgen\r\nK=1\r\n") << "A"
        << "K" << QString::fromUtf8("é")
        << QByteArray("[A]\r\nName=J\xC3\xBCrgen\r\nK=\xC3\xA9\r\n");
    QTest::newRow("Windows-1252 file stays Windows-1252")
        << QByteArray("[A]\r\nName=J\xFCrgen\r\nK=1\r\n") << "A"
        << "K" << QString::fromUtf8("é €")
        << QByteArray("[A]\r\nName=J\xFCrgen\r\nK=\xE9 \x80\r\n");
    QTest::newRow("Windows-1252 lacks the character")
        << QByteArray("[A]\nN=\xFC\nK=1\n") << "A"
        << "K" << QString::fromUtf8("ł") << QByteArray("[A]\nN=\xFC\nK=?\n");
    QTest::newRow("Windows-1252 names matched")
        << QByteArray("[\xDC]\nSchl\xFC\x73sel=1\n") << QString::fromUtf8("ü")
        << QString::fromUtf8("SCHLÜSSEL") << "2" << QByteArray("[\xDC]\nSchl\xFC\x73sel=2\n");
    QTest::newRow("ASCII file takes UTF-8")
        << QByteArray("[A]\nK=1\n") << "A"
        << "K" << QString::fromUtf8("é") << QByteArray("[A]\nK=\xC3\xA9\n");
}

void TestIniFile::write()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QByteArray, expected);
    const QString file = path("test.ini");
    QVERIFY(writeBytes(file, content));
    QVERIFY(writeProfileString(section, key, value, file));
    QCOMPARE(readAll(file), expected);
    const QString readBack = value.contains(u'ł') ? QStringLiteral("?") : value;
    QCOMPARE(readProfileString(section, key, file), readBack);
    QCOMPARE(entries(m_dir->path()), QStringList{"test.ini"}); // no temporary file left
}

void TestIniFile::missingFileIsCreated()
{
    const QString file = path("new.ini");
    QVERIFY(writeProfileString("UWeb.WebServer", "ListenPort", "8888", file));
    QCOMPARE(readAll(file), QByteArray("[UWeb.WebServer]\nListenPort=8888\n"));
    QCOMPARE(statOf(file).st_mode & 07777, mode_t(0644)); // 0666 less the umask 022
    QCOMPARE(readProfileString("UWeb.WebServer", "ListenPort", file), QStringLiteral("8888"));
    QCOMPARE(entries(m_dir->path()), QStringList{"new.ini"});
    // A missing file reads as nothing.
    QCOMPARE(readProfileString("UWeb.WebServer", "ListenPort", path("absent.ini")), QString());
}

void TestIniFile::missingFolder()
{
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Cannot write INI file"));
    QVERIFY(!writeProfileString("A", "K", "v", path("no/such/folder/x.ini")));
    QVERIFY(entries(m_dir->path()).isEmpty());
}

void TestIniFile::emptyPath()
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

void TestIniFile::readOnlyFile()
{
    const QString file = path("ro.ini");
    const QByteArray original = serverIni();
    QVERIFY(writeBytes(file, original));
    QVERIFY(::chmod(QFile::encodeName(file).constData(), 0444) == 0);
    const struct stat before = statOf(file);

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("may not be written"));
    QVERIFY(!writeProfileString("UWeb.WebServer", "bEnabled", "TRUE", file));
    QCOMPARE(readAll(file), original);
    const struct stat after = statOf(file);
    QCOMPARE(after.st_mode, before.st_mode);
    QCOMPARE(after.st_ino, before.st_ino);
    QCOMPARE(entries(m_dir->path()), QStringList{"ro.ini"});
    // It can still be read.
    QCOMPARE(readProfileString("UWeb.WebServer", "bEnabled", file), QStringLiteral("False"));
}

void TestIniFile::symbolicLink()
{
    QVERIFY(QDir(m_dir->path()).mkdir("real"));
    const QString target = path("real/UnrealTournament.ini");
    const QString link = path("link.ini");
    QVERIFY(writeBytes(target, "[UWeb.WebServer]\r\nbEnabled=False\r\n"));
    QVERIFY(QFile::link("real/UnrealTournament.ini", link)); // a relative link

    QVERIFY(writeProfileString("UWeb.WebServer", "bEnabled", "TRUE", link));
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(QFileInfo(link).symLinkTarget(), QFileInfo(target).absoluteFilePath());
    QCOMPARE(readAll(target), QByteArray("[UWeb.WebServer]\r\nbEnabled=TRUE\r\n"));
    QCOMPARE(readProfileString("UWeb.WebServer", "bEnabled", link), QStringLiteral("TRUE"));
    QCOMPARE(entries(m_dir->path()), QStringList({"link.ini", "real"}));
    QCOMPARE(entries(path("real")), QStringList{"UnrealTournament.ini"});
}

void TestIniFile::danglingLink()
{
    const QString link = path("link.ini");
    QVERIFY(QFile::link(path("later.ini"), link));
    QVERIFY(writeProfileString("A", "K", "v", link));
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(readAll(path("later.ini")), QByteArray("[A]\nK=v\n"));
}

void TestIniFile::permissionsKeptAndReplacedWhole()
{
    const QString file = path("perm.ini");
    const QByteArray original = "[A]\nK=old\n";
    QVERIFY(writeBytes(file, original));
    QVERIFY(::chmod(QFile::encodeName(file).constData(), 0640) == 0);
    const struct stat before = statOf(file);

    // A reader that has the file open keeps seeing the old content: the file is replaced, not
    // rewritten in place, so no reader ever sees half a file.
    const int oldFd = ::open(QFile::encodeName(file).constData(), O_RDONLY);
    QVERIFY(oldFd >= 0);
    QVERIFY(writeProfileString("A", "K", "new", file));
    char buf[64] = {};
    const ssize_t got = ::pread(oldFd, buf, sizeof buf, 0);
    ::close(oldFd);
    QCOMPARE(QByteArray(buf, int(got)), original);

    const struct stat after = statOf(file);
    QCOMPARE(after.st_mode & 07777, mode_t(0640));
    QCOMPARE(after.st_uid, before.st_uid);
    QCOMPARE(after.st_gid, before.st_gid);
    QVERIFY(after.st_ino != before.st_ino);
    QCOMPARE(readAll(file), QByteArray("[A]\nK=new\n"));
}

void TestIniFile::unusableNamesAndValues_data()
{
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");

    QTest::newRow("line break in the value") << "A"
                                             << "K"
                                             << "x\r\n[Evil]\r\nK=y";
    QTest::newRow("LF in the value") << "A"
                                     << "K"
                                     << "x\nK2=y";
    QTest::newRow("NUL in the value") << "A"
                                      << "K" << QString::fromUtf16(u"a\0b", 3);
    QTest::newRow("line break in the key") << "A"
                                           << "K\nX"
                                           << "v";
    QTest::newRow("= in the key") << "A"
                                  << "K=X"
                                  << "v";
    QTest::newRow("empty key") << "A"
                               << " "
                               << "v";
    QTest::newRow("empty section") << ""
                                   << "K"
                                   << "v";
    QTest::newRow("line break in the section") << "A]\n[B"
                                               << "K"
                                               << "v";
}

void TestIniFile::unusableNamesAndValues()
{
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, value);
    const QString file = path("test.ini");
    const QByteArray original = "[A]\r\nK=1\r\n";
    QVERIFY(writeBytes(file, original));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("unusable"));
    QVERIFY(!writeProfileString(section, key, value, file));
    QCOMPARE(readAll(file), original);
}

void TestIniFile::specialFiles_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("folder") << "folder";
    QTest::newRow("FIFO nobody writes to") << "fifo";
    QTest::newRow("/dev/zero") << "device";
}

void TestIniFile::specialFiles()
{
    QFETCH(QString, kind);
    QString file = path("special.ini");
    if (kind == "folder")
        QVERIFY(QDir(m_dir->path()).mkdir("special.ini"));
    else if (kind == "fifo")
        QVERIFY(::mkfifo(QFile::encodeName(file).constData(), 0644) == 0);
    else
        file = QStringLiteral("/dev/zero");

    // Neither may block or read without end.
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Cannot read INI file"));
    QCOMPARE(readProfileString("A", "K", file), QString());
    if (kind != "device") { // never try to replace a device, even in a test
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("not a regular file"));
        QVERIFY(!writeProfileString("A", "K", "v", file));
        QCOMPARE(entries(m_dir->path()), QStringList{"special.ini"});
    }
}

void TestIniFile::oversizedFile()
{
    // A sparse file just over 64 MiB: costs no disk space, but is too big to take in.
    const QString file = path("huge.ini");
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.write("[A]\nK=v\n") == 8);
        QVERIFY(f.resize(64 * 1024 * 1024 + 1));
    }
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("larger than 64 MiB"));
    QCOMPARE(readProfileString("A", "K", file), QString());
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("larger than 64 MiB"));
    QVERIFY(!writeProfileString("A", "K", "w", file));
    QCOMPARE(QFileInfo(file).size(), qint64(64 * 1024 * 1024 + 1));
    QCOMPARE(entries(m_dir->path()), QStringList{"huge.ini"});
}

void TestIniFile::bigBinaryFile()
{
    // 8 MiB of NUL bytes and noise before the section: just bytes, read and rewritten exactly.
    QByteArray content(8 * 1024 * 1024, '\0');
    for (qsizetype i = 0; i < content.size(); i += 4099)
        content[i] = char(i % 251);
    content += "\n[A]\r\nK=v\r\n";
    const QString file = path("big.ini");
    QVERIFY(writeBytes(file, content));
    QCOMPARE(readProfileString("A", "K", file), QStringLiteral("v"));
    QVERIFY(writeProfileString("A", "K", "w", file));
    QByteArray expected = content;
    expected.replace(expected.size() - 3, 1, "w");
    QVERIFY(readAll(file) == expected);
}

void TestIniFile::millionsOfLines()
{
    // Eight million empty lines before the section: no hang, no crash, nothing lost.
    const QByteArray content = QByteArray(8 * 1024 * 1024, '\n') + "[A]\nK=v\n";
    const QString file = path("lines.ini");
    QVERIFY(writeBytes(file, content));
    QCOMPARE(readProfileString("A", "K", file), QStringLiteral("v"));
    QVERIFY(writeProfileString("A", "X", "w", file));
    QVERIFY(readAll(file) == content + "X=w\n");
}

QTEST_GUILESS_MAIN(TestIniFile)
#include "tst_inifile.moc"
