// The registry store on real SQLite files in temporary folders: the key tree and its names,
// values, enumeration order, writes that change nothing, a second connection or process working
// on the same file, damaged files, and a writer killed in the middle of its work.
#include "TempStore.h"
#include "TestBytes.h"
#include "WavWriter.h"
#include "platform/RegistryStore.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sqlite3.h>
#include <sys/stat.h>

using namespace kelvoran::platform;
using namespace kelvoran::test;
using namespace Qt::StringLiterals;

namespace {

const KeyPath kParent{u"Software"_s, u"Kelvoran"_s, u"checklist"_s};
const QString kFlag = u"Annouce"_s;
const QByteArray kYes("YES", 4);
const QByteArray kNo("NO", 3);

KeyPath under(const KeyPath &parent, const QString &name)
{
    return KeyPath(parent) << name;
}

// The watch entry of that name.
KeyPath entry(const QString &name)
{
    return KeyPath(kParent) << name;
}

QStringList walk(RegistryStore &store, const KeyPath &path)
{
    QStringList names;
    const KeyHandle key = store.openKey(path);
    QString name;
    for (quint32 i = 0; key != kNoKey && store.enumKey(key, i, &name); ++i)
        names.append(name);
    store.closeKey(key);
    return names;
}

bool addEntry(RegistryStore &store, const KeyPath &path, const QByteArray &flag = kYes,
              const QString &name = kFlag, quint32 type = kRegSz)
{
    const KeyHandle key = store.createKey(path);
    const bool ok = key != kNoKey && store.setValue(key, name, type, flag);
    store.closeKey(key);
    return ok;
}

// The value's bytes, or a null array when it cannot be read.
QByteArray readValue(RegistryStore &store, const KeyPath &path, const QString &name = kFlag)
{
    const KeyHandle key = store.openKey(path);
    QByteArray data;
    if (key == kNoKey || !store.queryValue(key, name, &data))
        data = QByteArray();
    store.closeKey(key);
    return data;
}

// Size and modification time in nanoseconds; -1 when the file is missing.
std::pair<qint64, qint64> stamp(const QString &path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {-1, -1};
    return {st.st_size, qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

int modeOf(const QString &path)
{
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

// Every file and folder below `root` with its contents, SQLite's own -wal and -shm left out.
QMap<QString, QByteArray> tree(const QString &root)
{
    QMap<QString, QByteArray> all;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!path.endsWith(QLatin1String("-wal")) && !path.endsWith(QLatin1String("-shm")))
            all.insert(path, it.fileInfo().isDir() ? QByteArray("<folder>") : readFile(path));
    }
    return all;
}

// Starts the helper that writes entries named prefix0, prefix1, ... and prints each committed one.
bool startWriter(QProcess &helper, const QString &file, const QString &prefix, int count)
{
    helper.start(QStringLiteral(KELVORAN_TESTS_BIN_DIR "/store_writer"),
                 {file, prefix, QString::number(count)});
    return helper.waitForStarted();
}

// Sets an environment variable (or unsets it for a null value) until the guard goes away.
auto setEnv(const char *name, const QByteArray &value)
{
    const bool had = qEnvironmentVariableIsSet(name);
    const QByteArray old = qgetenv(name);
    const auto apply = [name](bool set, const QByteArray &v) {
        if (set)
            qputenv(name, v);
        else
            qunsetenv(name);
    };
    apply(!value.isNull(), value);
    return qScopeGuard([=] { apply(had, old); });
}

} // namespace

class TestRegistryStore : public QObject
{
    Q_OBJECT

    std::unique_ptr<TempStore> t;
    RegistryStore &st() { return t->store(); }

private slots:
    void init()
    {
        t = std::make_unique<TempStore>();
        QVERIFY(t->isValid());
    }
    void cleanup() { t.reset(); }

    void namesFoldCaseAndSort_data()
    {
        QTest::addColumn<QStringList>("created"); // entry i gets the value "i"
        QTest::addColumn<QStringList>("walked");  // "name=value" in enumeration order
        const auto row = [](const char *tag, const QStringList &created,
                            const QStringList &walked) { QTest::newRow(tag) << created << walked; };
        // One key, under the name it was first created with, holding the second write.
        row("prefix and name", {"Frd_BOB", "frd_bob"}, {"Frd_BOB=1"});
        row("umlaut", {"Ärger", "äRGER"}, {"Ärger=1"});
        row("final sigma", {"ΟΔΥΣΣΕΥΣ", "οδυσσευς"}, {"ΟΔΥΣΣΕΥΣ=1"});
        row("cyrillic", {"Сергей", "сЕРГЕЙ"}, {"Сергей=1"});
        // Enumerated in name order without regard to case.
        row("mixed case", {"b", "A", "C", "a2"}, {"A=1", "a2=3", "b=0", "C=2"});
        row("entries", {"Frd_bob", "Foe_Zed", "frd_Al", "Foe_al"},
            {"Foe_al=3", "Foe_Zed=1", "frd_Al=2", "Frd_bob=0"});
        row("digits are text", {"10", "9", "1"}, {"1=2", "10=0", "9=1"});
        row("umlaut order", {"Zed", "Äbc", "äb"}, {"Zed=0", "äb=2", "Äbc=1"});
    }

    void namesFoldCaseAndSort()
    {
        QFETCH(QStringList, created);
        QFETCH(QStringList, walked);
        for (int i = 0; i < created.size(); ++i) // value names in either case
            QVERIFY(addEntry(st(), entry(created[i]), QByteArray::number(i),
                             i % 2 ? kFlag.toUpper() : kFlag));
        const auto listed = [](RegistryStore &store, const KeyPath &parent) {
            QStringList out;
            for (const QString &name : walk(store, parent))
                out << name + '=' + QString::fromLatin1(readValue(store, under(parent, name)));
            return out;
        };
        QCOMPARE(listed(st(), kParent), walked);
        // The parent path in another case reaches the same keys.
        KeyPath upper = kParent;
        upper.last() = upper.last().toUpper();
        QCOMPARE(listed(st(), upper), walked);
        // A second connection, with nothing cached, sees the same.
        RegistryStore other(t->filePath());
        QCOMPARE(listed(other, kParent), walked);
    }

    void unusableNamesAreRefused_data()
    {
        QTest::addColumn<KeyPath>("path");
        QTest::newRow("empty component") << KeyPath{"Software", "", "x"};
        QTest::newRow("NUL inside") << entry(u"Frd_a"_s + QChar(0) + "b");
    }

    void unusableNamesAreRefused()
    {
        QFETCH(KeyPath, path);
        QCOMPARE(st().createKey(path), kNoKey);
        QCOMPARE(st().openKey(path), kNoKey);
        QCOMPARE(st().committedWrites(), quint64(0));
    }

    void valuesAreStoredAsGiven_data()
    {
        QTest::addColumn<quint32>("type");
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("string") << kRegSz << QByteArray("YES", 4);
        QTest::newRow("utf-8 string") << kRegSz << QByteArray("Ärger\0", 7);
        QTest::newRow("empty string") << kRegSz << QByteArray();
        QTest::newRow("dword -1") << kRegDword << dword(-1);
        QTest::newRow("binary") << quint32(3) << QByteArray("\x00\x01\xff\x00", 4);
        QTest::newRow("highest type code") << quint32(0xffffffffu) << QByteArray("x");
        QTest::newRow("large") << quint32(3) << QByteArray(200000, 'z');
    }

    void valuesAreStoredAsGiven()
    {
        QFETCH(quint32, type);
        QFETCH(QByteArray, data);
        const KeyPath path = entry(u"Frd_Bob"_s);
        // The same bytes under another type first: the write below must still change the type.
        QVERIFY(addEntry(st(), path, data, kFlag, type + 1));
        QVERIFY(addEntry(st(), path, data, kFlag, type));
        t->reopen();
        const KeyHandle key = st().openKey(path);
        quint32 gotType = 0, gotSize = 12345;
        QVERIFY(st().queryValueInfo(key, kFlag, &gotType, &gotSize));
        QCOMPARE(gotType, type);
        QCOMPARE(gotSize, quint32(data.size()));
        QByteArray got("junk");
        QVERIFY(st().queryValue(key, kFlag, &got));
        QCOMPARE(got, data);
        QVERIFY(!st().queryValueInfo(key, u"Missing"_s, &gotType, &gotSize));
        st().closeKey(key);
    }

    void closedOrDeletedHandlesFail()
    {
        const KeyPath path = entry(u"Frd_Bob"_s);
        const KeyPath other = entry(u"Foe_Al"_s);
        QVERIFY(addEntry(st(), under(path, u"inner"_s)));
        QVERIFY(addEntry(st(), other));
        const KeyHandle closed = st().openKey(path);
        st().closeKey(closed);
        // Keys opened after the close must not be reachable through the closed handle.
        const KeyHandle live = st().openKey(other);
        const KeyHandle deleted = st().openKey(path);
        const KeyHandle parent = st().openKey(kParent);
        QVERIFY(st().deleteSubKey(parent, u"Frd_Bob"_s));
        const quint64 writes = st().committedWrites();
        QString name;
        QByteArray data;
        quint32 type, size;
        for (KeyHandle h : {closed, deleted, kNoKey, KeyHandle(987654)}) {
            QVERIFY(!st().setValue(h, kFlag, kRegSz, kNo));
            QVERIFY(!st().queryValueInfo(h, kFlag, &type, &size));
            QVERIFY(!st().queryValue(h, kFlag, &data));
            QVERIFY(!st().enumKey(h, 0, &name));
            QVERIFY(!st().deleteSubKey(h, u"inner"_s));
            st().closeKey(h); // closing again is harmless
        }
        QCOMPARE(st().committedWrites(), writes);
        QCOMPARE(readValue(st(), other), kYes);
        st().closeKey(live);
        st().closeKey(parent);
    }

    void unchangedWriteTouchesNothing_data()
    {
        QTest::addColumn<quint32>("type");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("name");
        QTest::newRow("same string, other case of name") << kRegSz << kYes << "annOUCE";
        QTest::newRow("same dword") << kRegDword << dword(8888) << "Number";
        QTest::newRow("same empty data") << quint32(3) << QByteArray() << "Empty";
    }

    void unchangedWriteTouchesNothing()
    {
        QFETCH(quint32, type);
        QFETCH(QByteArray, data);
        QFETCH(QString, name);
        const KeyPath path = entry(u"Frd_Bob"_s);
        QVERIFY(addEntry(st(), path));
        QVERIFY(addEntry(st(), path, data, name, type));

        // A second connection has the file open too, as a second copy of the program would.
        RegistryStore other(t->filePath());
        const QString wal = t->filePath() + u"-wal"_s;
        QVERIFY(QFile::exists(wal));
        const auto dbBefore = stamp(t->filePath());
        const auto walBefore = stamp(wal);
        const quint64 writes = st().committedWrites();
        QTest::qSleep(20); // a write now would show in the time stamps
        for (int i = 0; i < 50; ++i) {
            QVERIFY(addEntry(st(), path, data, name, type)); // the key exists: opened, not made
            QVERIFY(!st().deleteSubKey(st().openKey(kParent), u"Frd_Missing"_s));
        }
        QCOMPARE(st().committedWrites(), writes);
        QCOMPARE(stamp(t->filePath()), dbBefore);
        QCOMPARE(stamp(wal), walBefore);

        // The same call with a different value does write, once.
        QVERIFY(addEntry(st(), path, data + "x", name, type));
        QCOMPARE(st().committedWrites(), writes + 1);
        QVERIFY(stamp(wal) != walBefore);
        QCOMPARE(readValue(other, path, name), data + "x");
    }

    void deleteRemovesEverythingBelow()
    {
        const KeyPath bob = entry(u"Frd_Bob"_s);
        const KeyPath inner = under(bob, u"inner"_s);
        for (const KeyPath &path : {bob, inner, under(inner, u"deep"_s), entry(u"Foe_Al"_s)})
            QVERIFY(addEntry(st(), path));
        const KeyHandle parent = st().openKey(kParent);
        const quint64 writes = st().committedWrites();
        // The name is matched without regard to case.
        QVERIFY(st().deleteSubKey(parent, u"FRD_BOB"_s));
        QCOMPARE(st().committedWrites(), writes + 1);
        QCOMPARE(st().openKey(bob), kNoKey);
        QVERIFY(!st().deleteSubKey(parent, u"Frd_Bob"_s));
        QCOMPARE(walk(st(), kParent), QStringList{"Foe_Al"});
        st().closeKey(parent);

        // Made again, the key is empty: no value, no subkey came back.
        st().closeKey(st().createKey(bob));
        QVERIFY(readValue(st(), bob).isNull());
        QVERIFY(walk(st(), bob).isEmpty());
        t->reopen();
        QVERIFY(readValue(st(), bob).isNull());
        QVERIFY(walk(st(), bob).isEmpty());
        QCOMPARE(readValue(st(), entry(u"Foe_Al"_s)), kYes);
    }

    void changesOfAnotherConnectionAreSeen_data()
    {
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QByteArray>("e1Flag");
        QTest::newRow("key added") << QStringList{"e1", "e2", "e3", "e4"} << kYes;
        QTest::newRow("key deleted") << QStringList{"e1", "e3"} << kYes;
        QTest::newRow("value changed") << QStringList{"e1", "e2", "e3"} << kNo;
        QTest::newRow("made again in other case") << QStringList{"E1", "e2", "e3"} << QByteArray();
    }

    void changesOfAnotherConnectionAreSeen()
    {
        QFETCH(QStringList, expected);
        const QString change = QString::fromLatin1(QTest::currentDataTag());
        QFETCH(QByteArray, e1Flag);
        const KeyPath e1 = entry(u"e1"_s);
        for (const char *n : {"e1", "e2", "e3"})
            QVERIFY(addEntry(st(), entry(QLatin1String(n))));
        // Everything is read once, so that this connection has it all in memory.
        QCOMPARE(walk(st(), kParent), (QStringList{"e1", "e2", "e3"}));
        QCOMPARE(readValue(st(), e1), kYes);
        const KeyHandle held = st().openKey(entry(u"e2"_s));
        {
            RegistryStore other(t->filePath());
            const KeyHandle parent = other.openKey(kParent);
            if (change == "key added")
                QVERIFY(addEntry(other, entry(u"e4"_s)));
            else if (change == "value changed")
                QVERIFY(addEntry(other, e1, kNo));
            else
                QVERIFY(other.deleteSubKey(parent, change == "key deleted" ? u"e2"_s : u"e1"_s));
            if (change.startsWith("made again"))
                QVERIFY(other.createKey(entry(u"E1"_s)) != kNoKey);
            other.closeKey(parent);
        }
        QCOMPARE(walk(st(), kParent), expected);
        QCOMPARE(readValue(st(), e1), e1Flag);
        // The key held open before is gone only when it was deleted.
        QByteArray data;
        QCOMPARE(st().queryValue(held, kFlag, &data), change != "key deleted");
        st().closeKey(held);
        // Writing what the other connection wrote changes nothing; anything else is written.
        const quint64 writes = st().committedWrites();
        QVERIFY(addEntry(st(), e1, kNo));
        QCOMPARE(st().committedWrites(), writes + (e1Flag == kNo ? 0 : 1));
    }

    void secondProcessWritingAtTheSameTime()
    {
        constexpr int kEach = 300;
        QProcess helper;
        QVERIFY2(startWriter(helper, t->filePath(), "Helper_", kEach),
                 qPrintable(helper.errorString()));
        // Start writing once the helper has written its first entry, so the two really overlap.
        QVERIFY(helper.waitForReadyRead(30000));
        for (int i = 0; i < kEach; ++i)
            QVERIFY(addEntry(st(), entry(u"Mine_%1"_s.arg(i))));
        QVERIFY(helper.waitForFinished(60000));
        QCOMPARE(helper.exitStatus(), QProcess::NormalExit);
        QCOMPARE(helper.exitCode(), 0);

        QCOMPARE(walk(st(), kParent).size(), 2 * kEach);
        for (int i = 0; i < kEach; ++i) {
            for (const char *who : {"Mine_%1", "Helper_%1"})
                QCOMPARE(readValue(st(), entry(QString::fromLatin1(who).arg(i))), kYes);
        }
    }

    void killedWriterLosesNoCommittedEntry()
    {
        t->close(); // only the helper has the file open while it is killed
        QProcess helper;
        QVERIFY2(startWriter(helper, t->filePath(), "Killed_", 0),
                 qPrintable(helper.errorString()));
        QByteArray out;
        while (out.count('\n') < 150) {
            QVERIFY2(helper.waitForReadyRead(30000), "the writer stopped writing");
            out += helper.readAllStandardOutput();
        }
        QVERIFY(::kill(pid_t(helper.processId()), SIGKILL) == 0);
        QVERIFY(helper.waitForFinished(30000));
        QCOMPARE(helper.exitStatus(), QProcess::CrashExit);
        out += helper.readAllStandardOutput();
        // Only whole lines were reported as committed.
        QList<QByteArray> printed = out.split('\n');
        printed.removeLast();

        t->reopen();
        QVERIFY(t->isValid());
        for (const QByteArray &line : std::as_const(printed))
            QCOMPARE(readValue(st(), entry(QString::fromUtf8(line))), kYes);
        // The store goes on working after the crash.
        QVERIFY(addEntry(st(), entry(u"after"_s)));
    }

    void unusableFileIsLeftAlone_data()
    {
        QTest::addColumn<QString>("kind");
        for (const char *kind :
             {"garbage", "truncated to half", "truncated inside the header", "overwritten page",
              "another program's database", "path is a folder", "folder is a file", "empty path"})
            QTest::newRow(kind) << QString::fromLatin1(kind);
    }

    void unusableFileIsLeftAlone()
    {
        QFETCH(QString, kind);
        QTemporaryDir dir;
        QString path = dir.filePath(u"kelvoran/registry.sqlite3"_s);
        QByteArray bytes;
        if (kind != "folder is a file")
            QDir().mkpath(dir.filePath(u"kelvoran"_s));
        if (kind == "garbage") {
            for (int i = 0; i < 20000; ++i)
                bytes.append(char((i * 7919) % 251));
        } else if (kind.startsWith("another")) {
            sqlite3 *db = nullptr;
            QCOMPARE(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
            QCOMPARE(sqlite3_exec(db, "CREATE TABLE notes(t TEXT); INSERT INTO notes VALUES('x')",
                                  nullptr, nullptr, nullptr),
                     SQLITE_OK);
            sqlite3_close(db);
            bytes = readFile(path);
        } else if (kind == "path is a folder") {
            QVERIFY(QDir().mkpath(path));
        } else if (kind == "folder is a file") {
            QVERIFY(writeFile(dir.filePath(u"kelvoran"_s), "not a folder"));
        } else if (kind == "empty path") {
            path.clear();
        } else {
            // A real store of 400 entries, closed cleanly so that all is in the main file.
            {
                RegistryStore real(path);
                for (int i = 0; i < 400; ++i)
                    QVERIFY(addEntry(real, entry(u"Frd_p%1"_s.arg(i))));
            }
            bytes = readFile(path);
            QVERIFY(bytes.size() > 4 * 4096 && !QFile::exists(path + "-wal"));
            if (kind.endsWith("half"))
                bytes.truncate(bytes.size() / 2);
            else if (kind.endsWith("header"))
                bytes.truncate(60);
            else
                bytes.replace(2 * 4096, 4096, QByteArray(4096, char(0xA5)));
        }
        if (!bytes.isEmpty())
            QVERIFY(writeFile(path, bytes));
        const auto before = tree(dir.path());

        // One warning, then an empty store whose writes fail.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^registry store "));
        QTest::failOnWarning(QRegularExpression(u"."_s));
        {
            RegistryStore store(path);
            QVERIFY(!store.isUsable());
            QCOMPARE(store.openKey({}), kNoKey);
            QCOMPARE(store.createKey(kParent), kNoKey);
            QString name;
            QVERIFY(!store.enumKey(store.openKey({}), 0, &name));
            QVERIFY(!store.setValue(store.createKey(kParent), kFlag, kRegSz, kYes));
            QCOMPARE(store.committedWrites(), quint64(0));
        }
        // Kept byte for byte; nothing moved away, replaced or made beside it.
        QCOMPARE(tree(dir.path()), before);
    }

    void defaultFilePath_data()
    {
        QTest::addColumn<QByteArray>("xdg");
        QTest::addColumn<QString>("expected");
        QTest::newRow("unset") << QByteArray() << "/home/tester/.config/kelvoran/registry.sqlite3";
        QTest::newRow("relative is ignored")
            << QByteArray("cfg") << "/home/tester/.config/kelvoran/registry.sqlite3";
    }

    void defaultFilePath()
    {
        QFETCH(QByteArray, xdg);
        QFETCH(QString, expected);
        const auto home = setEnv("HOME", "/home/tester");
        const auto config = setEnv("XDG_CONFIG_HOME", xdg);
        QCOMPARE(RegistryStore::defaultFilePath(), expected);
    }

    void newFileIsPrivate()
    {
        const QString config = t->dirPath() + u"/config"_s;
        const auto env = setEnv("XDG_CONFIG_HOME", QFile::encodeName(config));
        const QString path = RegistryStore::defaultFilePath();
        QCOMPARE(path, config + u"/kelvoran/registry.sqlite3"_s);
        {
            RegistryStore store(path);
            QVERIFY(addEntry(store, kParent));
            QCOMPARE(modeOf(config), 0700);
            QCOMPARE(modeOf(config + u"/kelvoran"_s), 0700);
            for (const char *suffix : {"", "-wal", "-shm"})
                QCOMPARE(modeOf(path + QLatin1String(suffix)), 0600);
        }
        // An existing file keeps its own mode.
        QVERIFY(
            QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        RegistryStore again(path);
        QCOMPARE(readValue(again, kParent), kYes);
        QCOMPARE(modeOf(path), 0640);
    }
};

QTEST_GUILESS_MAIN(TestRegistryStore)
#include "tst_registrystore.moc"
