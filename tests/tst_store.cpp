// The registry store and the program's routines over it, on real SQLite files: names and their
// order, values, writes that change nothing, a second copy of the program, unusable files, and a
// writer killed at random moments.
#include "TempStore.h"
#include "watchlist/WatchList.h"

#include <QDirIterator>
#include <QRandomGenerator>
#include <QtTest>

#include <csignal>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kelvoran;
using namespace kelvoran::platform;

namespace {

QMap<QString, QByteArray> filesIn(const QString &dir)
{
    QMap<QString, QByteArray> files;
    for (QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
         it.hasNext();) {
        QFile f(it.next());
        files[f.fileName()] = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("?");
    }
    return files;
}

} // namespace

class StoreTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<test::TempStore> t;

private slots:
    void init()
    {
        t = std::make_unique<test::TempStore>();
        QVERIFY(t->isValid());
    }

    void namesFoldCaseKeepFirstCaseAndSort()
    {
        for (const QString &name : {u"Frd_bob"_qs, u"Foe_Ann"_qs, u"FRD_BOB"_qs, u"Frd_a\\b"_qs,
                                    u"Frd_Élan"_qs, u"frd_éLAN"_qs})
            t->registry().addEntry(name);
        // One key per folded name, in folded order, first case kept; a backslash is no separator.
        QCOMPARE(t->registry().entryNames(kChecklistWalkKey),
                 (QStringList{"Foe_Ann", "Frd_a\\b", "Frd_bob", "Frd_Élan"}));
        QCOMPARE(t->flagOf(u"frd_A\\B"_qs), u"YES"_qs);
    }

    void valuesReadAsTheRoutinesGiveThem_data()
    {
        QTest::addColumn<quint32>("type");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("text");
        for (const auto &[tag, type, data, text] :
             {std::tuple{"string", kRegSz, QByteArray("Jos\xc3\xa9\0", 6), "José"},
              {"no NUL", kRegSz, QByteArray("NO"), "NO"},
              {"size 0", kRegSz, QByteArray(""), ""},
              {"DWORD", kRegDword, QByteArray("\xb8\x22\0\0", 4), "8888"},
              {"DWORD -1", kRegDword, QByteArray("\xff\xff\xff\xff", 4), "-1"},
              {"DWORD of 3 bytes", kRegDword, QByteArray("\1\2\3", 3), ""},
              {"other type", 2u, QByteArray("%HOME%\0", 7), ""}})
            QTest::newRow(tag) << type << data << QString(text);
    }

    void valuesReadAsTheRoutinesGiveThem()
    {
        QFETCH(quint32, type);
        QFETCH(QByteArray, data);
        QFETCH(QString, text);
        const KeyHandle key = t->store().createKey(kSettingsKey);
        QVERIFY(t->store().setValue(key, u"Friend"_qs, {type, data}));
        t->registry().regQueryResult = u"stale"_qs;
        QCOMPARE(t->registry().queryRegText(kSettingsKey, u"FRIEND"_qs), text);
    }

    void writesGoOnlyToExistingKeysAndOnlyWhenSomethingChanges()
    {
        Module1 &r = t->registry();
        r.setRegKeyValue(kSettingsKey, u"Friend"_qs, u"x"_qs, Module1::REG_SZ);
        QCOMPARE(t->store().openKey(kSettingsKey), kNoKey); // no key is created by a write
        r.createRegKey(kSettingsKey);
        r.setRegKeyValue(kSettingsKey, u"Friend"_qs, u"a.wav"_qs, Module1::REG_SZ);
        r.setRegKeyValue(kSettingsKey, u"Port"_qs, 7777, Module1::REG_DWORD);
        QCOMPARE(r.queryRegText(kSettingsKey, u"Port"_qs), u"7777"_qs);
        const quint64 writes = t->store().committedWrites();
        const QByteArray file = filesIn(t->dirPath()).value(u"registry.sqlite3"_qs);
        r.setRegKeyValue(kSettingsKey, u"friend"_qs, u"a.wav"_qs, Module1::REG_SZ);
        r.createRegKey(kSettingsKey);
        r.addEntry(u"Frd_x"_qs);
        const quint64 afterAdd = t->store().committedWrites();
        r.addEntry(u"FRD_X"_qs);
        QCOMPARE(afterAdd, writes + 1);
        QCOMPARE(t->store().committedWrites(), afterAdd);
        QVERIFY(filesIn(t->dirPath()).value(u"registry.sqlite3"_qs) == file);
    }

    void deletesAndSecondCopySeeEachOther()
    {
        t->setEntry(u"Frd_a"_qs, u"YES"_qs);
        t->setEntry(u"Frd_b"_qs, u"NO"_qs);
        RegistryStore other(t->filePath());
        Module1 second(other);
        second.deleteEntry(u"FRD_A"_qs);
        second.addEntry(u"Foe_c"_qs);
        const QList<WatchEntryFlag> seen = t->registry().watchEntries();
        QCOMPARE(seen.size(), 2);
        QCOMPARE(seen[0].subkey + seen[0].flag + seen[1].subkey + seen[1].flag,
                 u"Foe_cYESFrd_bNO"_qs);
    }

    void unusableFileIsLeftAlone_data()
    {
        QTest::addColumn<QString>("cause");
        QTest::addColumn<int>("readable"); // -1: as the permissions of the user running it allow
        for (const auto &[kind, cause, readable] :
             {std::tuple{"garbage", "damaged or not a database", 0},
              {"half", "damaged", 0},
              {"foreign", "not a Kelvoran registry store", 0},
              {"newer", "newer version", 0},
              {"fifo", "not a regular file", 0},
              {"readonly", "no write permission", 1},
              {"rofolder", "folder", -1}})
            QTest::newRow(kind) << QString(cause) << readable;
    }

    void unusableFileIsLeftAlone()
    {
        const QString kind = QTest::currentDataTag();
        QFETCH(QString, cause);
        QFETCH(int, readable);
        for (int i = 0; i < 300; ++i)
            t->registry().addEntry(u"Frd_p%1"_qs.arg(i));
        t->close(); // a clean close leaves everything in the main file
        const QString path = t->filePath();
        const QByteArray native = QFile::encodeName(path);
        const QByteArray folder = QFile::encodeName(t->dirPath() + "/kelvoran");
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        if (kind == "garbage" || kind == "half") {
            const QByteArray bytes = file.readAll();
            file.resize(0);
            file.write(kind == "half" ? bytes.left(bytes.size() / 2) : QByteArray(20000, '\x5a'));
        }
        file.close();
        if (kind == "foreign" || kind == "newer") {
            if (kind == "foreign")
                QFile::remove(path);
            sqlite3 *db = nullptr;
            QCOMPARE(sqlite3_open(native.constData(), &db), SQLITE_OK);
            sqlite3_exec(
                db, kind == "foreign" ? "CREATE TABLE notes(t TEXT)" : "PRAGMA user_version = 9",
                nullptr, nullptr, nullptr);
            sqlite3_close(db);
        } else if (kind == "fifo") {
            QVERIFY(QFile::remove(path) && ::mkfifo(native.constData(), 0600) == 0);
        } else if (kind == "readonly") {
            QVERIFY(::chmod(native.constData(), 0400) == 0);
        } else if (kind == "rofolder") {
            QVERIFY(::chmod(folder.constData(), 0500) == 0);
        }
        auto restore = qScopeGuard([&] { ::chmod(folder.constData(), 0700); });
        const auto before = filesIn(t->dirPath()).value(u"registry.sqlite3"_qs);

        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("^registry store .*nothing will be saved"));
        RegistryStore store(path);
        Module1 registry(store);
        QVERIFY2(store.problem().contains(cause), qPrintable(store.problem()));
        if (readable >= 0)
            QCOMPARE(registry.watchEntries().size(), readable ? 300 : 0);
        registry.addEntry(u"Foe_new"_qs);
        const RegPath p1 = subPath(kChecklistKey, u"Frd_p1"_qs);
        registry.setRegKeyValue(p1, kAnnounceValue, kAnnounced, Module1::REG_SZ);
        QCOMPARE(store.committedWrites(), quint64(0));
        QCOMPARE(filesIn(t->dirPath()).value(u"registry.sqlite3"_qs), before);
        if (readable >= 0)
            QCOMPARE(registry.queryRegText(p1, kAnnounceValue), readable ? kArmed : QString());
    }

    // Adding entries in a writer killed at random moments: every entry it reported is there with
    // its flag, no entry is ever left without one, and the store opens cleanly after each kill.
    void killedWriterLosesNothingAndLeavesNoHalfEntry()
    {
        const int rounds = qEnvironmentVariableIntValue("KELVORAN_KILL_ROUNDS") ?: 200;
        t->close();
        QStringList reported;
        for (int round = 0; round < rounds; ++round) {
            int out[2];
            QVERIFY(::pipe(out) == 0);
            const pid_t writer = ::fork();
            if (writer == 0) { // the writer: adds entries and reports each one once committed
                RegistryStore store(t->filePath());
                Module1 registry(store);
                for (int i = 0;; ++i) {
                    const QString name = u"Frd_r%1_%2"_qs.arg(round).arg(i);
                    registry.addEntry(name);
                    const QByteArray line = name.toUtf8() + '\n';
                    if (::write(out[1], line.constData(), size_t(line.size())) != line.size())
                        ::_exit(1);
                }
            }
            ::close(out[1]);
            char first;
            QVERIFY(::read(out[0], &first, 1) == 1); // writing: now kill it at a random moment
            QThread::usleep(QRandomGenerator::global()->bounded(5000));
            ::kill(writer, SIGKILL);
            ::waitpid(writer, nullptr, 0);
            QByteArray text(1, first);
            char buf[4096];
            for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;)
                text.append(buf, n);
            ::close(out[0]);
            text.truncate(text.lastIndexOf('\n') + 1); // only whole lines were reported
            for (const QByteArray &line : text.split('\n'))
                if (!line.isEmpty())
                    reported << QString::fromUtf8(line);
        }
        t->reopen();
        QVERIFY(t->isValid());
        QSet<QString> present;
        for (const WatchEntryFlag &e : t->registry().watchEntries()) {
            QCOMPARE(e.flag, kArmed);
            present << e.subkey;
        }
        for (const QString &name : std::as_const(reported))
            QVERIFY2(present.contains(name), qPrintable(name));
        qInfo("%d kills, %lld entries reported, %lld present", rounds, qlonglong(reported.size()),
              qlonglong(present.size()));
    }

    void defaultFilePath()
    {
        const QString home = QDir::homePath() + "/.config/kelvoran/registry.sqlite3";
        for (const auto &[xdg, expected] : {std::pair{"/cfg", u"/cfg/kelvoran/registry.sqlite3"_qs},
                                            {"", home},
                                            {"relative", home}}) {
            qputenv("XDG_CONFIG_HOME", xdg);
            QCOMPARE(RegistryStore::defaultFilePath(), expected);
        }
    }

    void newFileIsPrivate()
    {
        struct stat file, dir;
        QVERIFY(::stat(QFile::encodeName(t->filePath()).constData(), &file) == 0);
        QVERIFY(::stat(QFile::encodeName(t->dirPath() + "/kelvoran").constData(), &dir) == 0);
        QCOMPARE(file.st_mode & 0777, 0600u);
        QCOMPARE(dir.st_mode & 0777, 0700u);
    }
};

QTEST_GUILESS_MAIN(StoreTest)
#include "tst_store.moc"
