// The registry store and the routines over it, on real SQLite files: names, values, writes that
// change nothing, a second running copy, unusable files, and a writer killed at random moments.
#include "TempStore.h"
#include <QtTest>
#include <atomic>
#include <csignal>
#include <sys/mman.h>
#include <sys/wait.h>
using namespace kelvoran;
using namespace kelvoran::platform;
// Freed memory is overwritten, so SQLite trips over a statement used after it was freed.
extern "C" const char *__asan_default_options()
{
    return "max_free_fill_size=65536";
}
// The store's file and its write-ahead log, byte for byte; one missing reads as empty.
static QByteArray storeBytes(const QString &path)
{
    QByteArray bytes;
    for (QFile f : {path, path + "-wal"})
        bytes += (QFileInfo(f).isFile() && f.open(QIODevice::ReadOnly) ? f.readAll() : "") + '|';
    return bytes;
}

class StoreTest : public QObject
{
    Q_OBJECT
    std::optional<test::TempStore> t;

private slots:
    void init() { QVERIFY(t.emplace().isValid()); }
    // One key per folded name, the first case kept, in folded order; a backslash is no separator.
    // A second running copy sees it all at once; its writes that change nothing, or go to a key
    // that is missing, leave the file alone; an added entry is one write, key and flag together.
    void namesAndWritesAcrossCopies()
    {
        for (const char *name : {"frd_bob", "Foe_Ann", "Frd_a\\b", "Frd_Élan", "Foe_Zed"})
            t->registry().addEntry(name);
        RegistryStore other(t->filePath());
        Module1 second(other);
        const QByteArray bytes = storeBytes(t->filePath());
        second.addEntry(u"FRD_BOB"_qs);
        second.addEntry(u"frd_éLAN"_qs);
        second.setRegKeyValue(subPath(kChecklistKey, "frd_BOB"), "ANNOUCE", "YES", Module1::REG_SZ);
        second.setRegKeyValue(kGameInstallKey, "Folder", "/ut", Module1::REG_SZ);
        second.createRegKey(kChecklistKey);
        QCOMPARE(storeBytes(t->filePath()), bytes);
        second.deleteEntry(u"FOE_zed"_qs);
        second.addEntry(u"Foe_Cy"_qs);
        second.setRegKeyValue(kSettingsKey, "Port", 7777, Module1::REG_DWORD);
        QCOMPARE(other.committedWrites(), quint64(3));
        t->setEntry(u"frd_A\\B"_qs, kAnnounced);
        QCOMPARE(t->registry().entryNames(kChecklistWalkKey),
                 (QStringList{"Foe_Ann", "Foe_Cy", "Frd_a\\b", "frd_bob", "Frd_Élan"}));
        QCOMPARE(t->flagOf(u"FRD_a\\b"_qs) + t->registry().queryRegText(kSettingsKey, "Port"),
                 u"NO7777"_qs);
        auto &s = t->store(); // a name may be neither empty nor hold a NUL
        QVERIFY(!s.createKey({"A", ""}) &&
                !s.setValue(s.createKey({"A"}), {QChar(0)}, {kRegSz, ""}));
    }
    void valuesReadAsTheRoutinesGiveThem_data()
    {
        QTest::addColumn<quint32>("type");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("text");
        for (const auto &[tag, type, data, text] :
             {std::tuple{"string", kRegSz, QByteArray("Jos\xc3\xa9\0", 6), "José"},
              {"no NUL", kRegSz, QByteArray("NO"), "NO"},
              {"DWORD", kRegDword, QByteArray("\xb8\x22\0\x80", 4), "-2147474760"},
              {"DWORD of 3 bytes", kRegDword, QByteArray("\1\2\3", 3), ""},
              {"other type", 2u, QByteArray("%HOME%\0", 7), ""}})
            QTest::newRow(tag) << type << data << QString(text);
    }
    void valuesReadAsTheRoutinesGiveThem()
    {
        QFETCH(quint32, type);
        QFETCH(QByteArray, data);
        QFETCH(QString, text);
        QVERIFY(t->store().setValue(t->store().createKey(kSettingsKey), "Friend", {type, data}));
        t->registry().regQueryResult = u"stale"_qs;
        QCOMPARE(t->registry().queryRegText(kSettingsKey, u"FRIEND"_qs), text);
    }
    void unusableFileIsLeftAlone_data()
    {
        QTest::addColumn<QString>("damage"); // a shell command on the store's file, $1
        QTest::addColumn<QString>("cause");
        QTest::addColumn<int>("entries"); // still read; -1: as the permissions of the user allow
        // Header: user_version at byte 60, application_id at 68; page 2's cell pointers at 4104.
        const QString patch = " | dd of=$1 bs=1 conv=notrunc status=none seek=";
        for (const auto &[tag, damage, cause, entries] :
             {std::tuple{"garbage", u"head -c 20000 /dev/zero | tr '\\0' Z >$1"_qs,
                         "damaged or not a database", 0},
              {"half", u"truncate -s $(($(stat -c %s $1) / 2)) $1"_qs, "damaged", 0},
              {"torn, read-only", "printf %99s" + patch + "4104; chmod 400 $1", "is damaged (", 0},
              {"foreign", "printf ABCD" + patch + "68", "not a Kelvoran registry store", 0},
              {"newer", "printf '\\0\\0\\0\\4'" + patch + "60", "newer version", 0},
              {"fifo", u"rm $1 && mkfifo $1"_qs, "not a regular file", 0},
              {"readonly", u"chmod 400 $1"_qs, "no write permission", 300},
              {"rofolder", u"chmod 500 ${1%/*}"_qs, "folder", -1},
              {"while running", // all pages but the first
               "head -c $(($(stat -c %s $1) - 4096)) /dev/zero | tr '\\0' Z" + patch + "4096",
               "is damaged (", 0}})
            QTest::newRow(tag) << QString(damage) << QString(cause) << entries;
    }
    void unusableFileIsLeftAlone()
    {
        QFETCH(QString, damage);
        QFETCH(QString, cause);
        QFETCH(int, entries);
        for (int i = 0; i < 300; ++i)
            t->registry().addEntry(u"Frd_p%1"_qs.arg(i));
        for (const QByteArray &x : {QByteArray(40000, 'x'), QByteArray("x")}) // pages set free
            QVERIFY(t->store().createKeyWithValue(kSettingsKey, "x", {kRegSz, x}));
        t->close(); // a clean close leaves everything in the main file
        const QString path = t->filePath(), folder = t->dirPath() + "/kelvoran";
        auto restore = qScopeGuard([&] { QProcess::execute("chmod", {"700", folder}); });
        const RegPath p1 = subPath(kChecklistKey, u"Frd_p1"_qs);
        std::optional<RegistryStore> store;
        // A running store keeps what it read in memory: it meets the damage in the write below.
        if (QTest::currentDataTag() == QLatin1String("while running"))
            QCOMPARE(Module1(store.emplace(path)).watchEntries().size(), 300);
        QCOMPARE(QProcess::execute("sh", {"-ec", damage, "sh", path}), 0);
        const QByteArray before = storeBytes(path);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("(?s)^registry store .* be saved$"));
        Module1 registry(store ? *store : store.emplace(path));
        QVERIFY(!store->setValue(store->openKey(p1), "v", {kRegSz, QByteArray(5000, 'v')}) &&
                !registry.addEntry(u"Foe_new"_qs) &&
                !registry.setRegKeyValue(p1, kAnnounceValue, kAnnounced, Module1::REG_SZ) &&
                !store->addVisit({.came = QDateTime::currentDateTime()}) && !store->clearVisits() &&
                !store->deleteValueOfSubKeys(store->openKey(kChecklistKey), kAnnounceValue));
        QVERIFY2(store->problem().contains(cause), qPrintable(store->problem()));
        QCOMPARE(store->committedWrites(), quint64(0));
        if (entries >= 0)
            QCOMPARE(registry.watchEntries().size(), entries);
        store.reset(); // the close too
        QCOMPARE(storeBytes(path), before);
    }
    // Adding entries in a writer killed at random moments: every entry it saw committed is there
    // with its flag, no entry is ever left without one, and the store opens cleanly afterwards.
    void killedWriterLosesNothingAndLeavesNoHalfEntry()
    {
        const int rounds = qEnvironmentVariableIntValue("KELVORAN_KILL_ROUNDS") ?: 200;
        const auto name = [](int round, int i) { return u"Frd_r%1_%2"_qs.arg(round).arg(i); };
        // How many entries the writer has added, in memory it shares with this process.
        void *mem = ::mmap(nullptr, 4, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        QVERIFY(mem != MAP_FAILED);
        auto &added = *new (mem) std::atomic_int;
        t->close();
        QStringList missing;
        for (int round = 0; round < rounds; ++round) {
            added = 0;
            const pid_t writer = ::fork();
            if (writer == 0) {
                RegistryStore store(t->filePath());
                for (int i = 0;; added = ++i)
                    Module1(store).addEntry(name(round, i));
            }
            while (added == 0) // writing: now kill it at a random moment
                QThread::yieldCurrentThread();
            QThread::usleep(QRandomGenerator::global()->bounded(5000));
            ::kill(writer, SIGKILL);
            ::waitpid(writer, nullptr, 0);
            for (int i = 0; i < added; ++i)
                missing << name(round, i);
        }
        RegistryStore store(t->filePath());
        QVERIFY(store.problem().isEmpty());
        for (const WatchEntryFlag &e : Module1(store).watchEntries()) {
            QCOMPARE(e.flag, kArmed);
            missing.removeOne(e.subkey);
        }
        QCOMPARE(missing, QStringList());
    }
    void defaultFilePathAndNewFileModes()
    {
        const QString home = QDir::homePath() + "/.config";
        for (const auto &[xdg, dir] :
             {std::pair{"/cfg", u"/cfg"_qs}, {"", home}, {"relative", home}}) {
            qputenv("XDG_CONFIG_HOME", xdg);
            QCOMPARE(RegistryStore::defaultFilePath(), dir + "/kelvoran/registry.sqlite3");
        }
        // rw------- and rwx------ for the user who made them
        QCOMPARE(QFile::permissions(t->filePath()), QFile::Permissions(0x6600));
        QCOMPARE(QFile::permissions(t->dirPath() + "/kelvoran"), QFile::Permissions(0x7700));
    }
};

QTEST_GUILESS_MAIN(StoreTest)
#include "tst_store.moc"
