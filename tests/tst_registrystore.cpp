// The registry store on real SQLite files in temporary folders: the key tree and its names,
// values, enumeration order, writes that change nothing, a second connection or process working
// on the same file, damaged files, and a writer killed in the middle of its work.
#include "TempStore.h"
#include "platform/RegistryStore.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <csignal>
#include <sqlite3.h>
#include <sys/stat.h>

using namespace kelvoran::platform;
using kelvoran::test::TempStore;

namespace {

const KeyPath kParent{QStringLiteral("Software"), QStringLiteral("Kelvoran"),
                      QStringLiteral("checklist")};
const QString kFlag = QStringLiteral("Annouce");
const QByteArray kYes("YES", 4);
const QByteArray kNo("NO", 3);

KeyPath under(const KeyPath &parent, const QString &name)
{
    KeyPath p = parent;
    p.append(name);
    return p;
}

QStringList walk(RegistryStore &store, const KeyPath &path)
{
    QStringList names;
    const KeyHandle key = store.openKey(path);
    if (key == kNoKey)
        return names;
    QString name;
    for (quint32 i = 0; store.enumKey(key, i, &name); ++i)
        names.append(name);
    store.closeKey(key);
    return names;
}

bool addEntry(RegistryStore &store, const KeyPath &path, const QByteArray &flag = kYes)
{
    const KeyHandle key = store.createKey(path);
    if (key == kNoKey)
        return false;
    const bool ok = store.setValue(key, kFlag, kRegSz, flag);
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

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

struct Stamp
{
    bool exists = false;
    qint64 size = 0;
    qint64 mtimeNs = 0;
    bool operator==(const Stamp &o) const
    {
        return exists == o.exists && size == o.size && mtimeNs == o.mtimeNs;
    }
};

Stamp stamp(const QString &path)
{
    struct stat st;
    Stamp s;
    if (::stat(QFile::encodeName(path).constData(), &st) == 0) {
        s.exists = true;
        s.size = st.st_size;
        s.mtimeNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    }
    return s;
}

int modeOf(const QString &path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return int(st.st_mode & 07777);
}

// "ok" when SQLite itself finds the file sound, opened read-only beside the store.
QString quickCheck(const QString &path)
{
    sqlite3 *db = nullptr;
    QString result;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr) ==
        SQLITE_OK) {
        sqlite3_stmt *st = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA quick_check", -1, &st, nullptr) == SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW)
            result = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, 0)));
        else
            result = QString::fromUtf8(sqlite3_errmsg(db));
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return result;
}

QString helperPath()
{
    return QStringLiteral(KELVORAN_TESTS_BIN_DIR "/store_writer");
}

QByteArray dword(qint32 v)
{
    QByteArray b(4, '\0');
    qToLittleEndian<qint32>(v, b.data());
    return b;
}

// A real store file with `count` entries, closed cleanly so that everything is in the main file.
bool makeRealStore(const QString &path, int count)
{
    RegistryStore store(path);
    for (int i = 0; i < count; ++i) {
        if (!addEntry(store, under(kParent, QStringLiteral("Frd_player%1").arg(i))))
            return false;
    }
    return store.isUsable();
}

enum class Change { Add, Delete, Value, Recreate };

} // namespace

Q_DECLARE_METATYPE(Change)

class TestRegistryStore : public QObject
{
    Q_OBJECT

private slots:
    void keysAreCreatedAlongThePathAndKept();
    void namesCompareWithoutCase_data();
    void namesCompareWithoutCase();
    void enumerationOrderIgnoresCase_data();
    void enumerationOrderIgnoresCase();
    void unusableNamesAreRefused_data();
    void unusableNamesAreRefused();
    void valuesAreStoredAsGiven_data();
    void valuesAreStoredAsGiven();
    void closedOrDeletedHandlesFail();
    void walkSeesOwnChangesAtOnce();
    void unchangedWriteTouchesNothing_data();
    void unchangedWriteTouchesNothing();
    void deleteRemovesEverythingBelow();
    void changesOfAnotherConnectionAreSeen_data();
    void changesOfAnotherConnectionAreSeen();
    void secondProcessWritingAtTheSameTime();
    void killedWriterLosesNoCommittedEntry();
    void damagedFileIsLeftAlone_data();
    void damagedFileIsLeftAlone();
    void unopenableFile_data();
    void unopenableFile();
    void defaultFilePath_data();
    void defaultFilePath();
    void newFileIsPrivate();
};

void TestRegistryStore::keysAreCreatedAlongThePathAndKept()
{
    TempStore t;
    QVERIFY(t.isValid());
    const KeyPath deep = under(kParent, QStringLiteral("Frd_Bob"));
    QCOMPARE(t->openKey(deep), kNoKey);
    QVERIFY(addEntry(t.store(), deep));
    // Every key along the path exists now; a missing sibling still does not.
    for (qsizetype n = 1; n <= deep.size(); ++n) {
        const KeyHandle k = t->openKey(deep.mid(0, n));
        QVERIFY2(k != kNoKey, qPrintable(deep.mid(0, n).join(QLatin1Char('/'))));
        t->closeKey(k);
    }
    QCOMPARE(t->openKey(under(kParent, QStringLiteral("Frd_Al"))), kNoKey);
    // Creating an existing key opens it and writes nothing.
    const quint64 writes = t->committedWrites();
    const KeyHandle again = t->createKey(deep);
    QVERIFY(again != kNoKey);
    QCOMPARE(t->committedWrites(), writes);
    t->closeKey(again);

    t.reopen();
    QVERIFY(t.isValid());
    QCOMPARE(walk(t.store(), kParent), QStringList{QStringLiteral("Frd_Bob")});
    QCOMPARE(readValue(t.store(), deep), kYes);
    QCOMPARE(walk(t.store(), {}), QStringList{QStringLiteral("Software")});
}

void TestRegistryStore::namesCompareWithoutCase_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::newRow("ascii") << "checklist"
                           << "Checklist";
    QTest::newRow("prefix and name") << "Frd_BOB"
                                     << "frd_bob";
    QTest::newRow("umlaut") << "Ärger"
                            << "äRGER";
    QTest::newRow("final sigma") << "ΟΔΥΣΣΕΥΣ"
                                 << "οδυσσευς";
    QTest::newRow("cyrillic") << "Сергей"
                              << "сЕРГЕЙ";
}

void TestRegistryStore::namesCompareWithoutCase()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    TempStore t;
    QVERIFY(t.isValid());
    QVERIFY(addEntry(t.store(), under(kParent, first), kNo));
    QVERIFY(addEntry(t.store(), under(kParent, second), kYes));
    // One key, under the name it was first created with, holding the second write.
    QCOMPARE(walk(t.store(), kParent), QStringList{first});
    QCOMPARE(readValue(t.store(), under(kParent, first)), kYes);
    // The parent path in another case reaches the same key.
    KeyPath upper = kParent;
    upper.last() = upper.last().toUpper();
    QCOMPARE(walk(t.store(), upper), QStringList{first});

    t.reopen();
    QCOMPARE(walk(t.store(), kParent), QStringList{first});
}

void TestRegistryStore::enumerationOrderIgnoresCase_data()
{
    QTest::addColumn<QStringList>("created");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("mixed case") << QStringList{"b", "A", "C", "a2"}
                                << QStringList{"A", "a2", "b", "C"};
    QTest::newRow("entries") << QStringList{"Frd_bob", "Foe_Zed", "frd_Al", "Foe_al"}
                             << QStringList{"Foe_al", "Foe_Zed", "frd_Al", "Frd_bob"};
    QTest::newRow("digits are text") << QStringList{"10", "9", "1"} << QStringList{"1", "10", "9"};
    QTest::newRow("umlaut") << QStringList{"Zed", "Äbc", "äb"} << QStringList{"Zed", "äb", "Äbc"};
    QTest::newRow("single") << QStringList{"Only"} << QStringList{"Only"};
}

void TestRegistryStore::enumerationOrderIgnoresCase()
{
    QFETCH(QStringList, created);
    QFETCH(QStringList, expected);
    TempStore t;
    QVERIFY(t.isValid());
    for (const QString &name : created)
        QVERIFY(addEntry(t.store(), under(kParent, name)));
    QCOMPARE(walk(t.store(), kParent), expected);
    // Past the last index there is nothing, also when asked out of turn.
    const KeyHandle key = t->openKey(kParent);
    QString name = QStringLiteral("untouched");
    QVERIFY(!t->enumKey(key, quint32(expected.size()), &name));
    QVERIFY(!t->enumKey(key, 1000, &name));
    QCOMPARE(name, QStringLiteral("untouched"));
    QVERIFY(t->enumKey(key, 0, &name));
    QCOMPARE(name, expected.first());
    t->closeKey(key);
    // A second connection, with nothing cached, sees the same order.
    RegistryStore other(t.filePath());
    QCOMPARE(walk(other, kParent), expected);
}

void TestRegistryStore::unusableNamesAreRefused_data()
{
    QTest::addColumn<KeyPath>("path");
    QTest::newRow("empty component") << KeyPath{"Software", "", "x"};
    QTest::newRow("empty last") << under(kParent, QString());
    QTest::newRow("NUL inside") << under(kParent, QStringLiteral("Frd_a") + QChar(0) + "b");
}

void TestRegistryStore::unusableNamesAreRefused()
{
    QFETCH(KeyPath, path);
    TempStore t;
    QVERIFY(t.isValid());
    QCOMPARE(t->createKey(path), kNoKey);
    QCOMPARE(t->openKey(path), kNoKey);
    QCOMPARE(t->committedWrites(), quint64(0));
    QVERIFY(walk(t.store(), {}).isEmpty());
}

void TestRegistryStore::valuesAreStoredAsGiven_data()
{
    QTest::addColumn<quint32>("type");
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("string") << kRegSz << QByteArray("YES", 4);
    QTest::newRow("utf-8 string") << kRegSz << QByteArray("Ärger\0", 7);
    QTest::newRow("empty string") << kRegSz << QByteArray();
    QTest::newRow("dword -1") << kRegDword << dword(-1);
    QTest::newRow("dword 8888") << kRegDword << dword(8888);
    QTest::newRow("expandable string") << quint32(2) << QByteArray("%HOME%\0", 7);
    QTest::newRow("binary") << quint32(3) << QByteArray("\x00\x01\xff\x00", 4);
    QTest::newRow("highest type code") << quint32(0xffffffffu) << QByteArray("x");
    QTest::newRow("large") << quint32(3) << QByteArray(200000, 'z');
}

void TestRegistryStore::valuesAreStoredAsGiven()
{
    QFETCH(quint32, type);
    QFETCH(QByteArray, data);
    TempStore t;
    QVERIFY(t.isValid());
    const KeyPath path = under(kParent, QStringLiteral("Frd_Bob"));
    // Another type first: the write below replaces it, type and all.
    QVERIFY(addEntry(t.store(), path, QByteArray("previous", 9)));

    for (int round = 0; round < 2; ++round) {
        const KeyHandle key = round == 0 ? t->createKey(path) : t->openKey(path);
        QVERIFY(key != kNoKey);
        if (round == 0)
            QVERIFY(t->setValue(key, kFlag, type, data));
        quint32 gotType = 0, gotSize = 12345;
        QVERIFY(t->queryValueInfo(key, kFlag, &gotType, &gotSize));
        QCOMPARE(gotType, type);
        QCOMPARE(gotSize, quint32(data.size()));
        QByteArray got("junk");
        QVERIFY(t->queryValue(key, kFlag, &got));
        QCOMPARE(got, data);
        QVERIFY(!t->queryValueInfo(key, QStringLiteral("Missing"), &gotType, &gotSize));
        t->closeKey(key);
        t.reopen(); // the second round reads what the file holds
    }
}

void TestRegistryStore::closedOrDeletedHandlesFail()
{
    TempStore t;
    QVERIFY(t.isValid());
    const KeyPath path = under(kParent, QStringLiteral("Frd_Bob"));
    const KeyPath other = under(kParent, QStringLiteral("Foe_Al"));
    QVERIFY(addEntry(t.store(), under(path, QStringLiteral("inner"))));
    QVERIFY(addEntry(t.store(), other));
    const KeyHandle closed = t->openKey(path);
    t->closeKey(closed);
    // Keys opened after the close must not be reachable through the closed handle.
    const KeyHandle live = t->openKey(other);
    const KeyHandle deleted = t->openKey(path);
    const KeyHandle parent = t->openKey(kParent);
    QVERIFY(live != kNoKey && deleted != kNoKey && parent != kNoKey);
    QVERIFY(t->deleteSubKey(parent, QStringLiteral("Frd_Bob")));
    const quint64 writes = t->committedWrites();
    QString name;
    QByteArray data;
    quint32 type, size;
    for (KeyHandle h : {closed, deleted, kNoKey, KeyHandle(987654), ~KeyHandle(0)}) {
        QVERIFY(!t->setValue(h, kFlag, kRegSz, kNo));
        QVERIFY(!t->queryValueInfo(h, kFlag, &type, &size));
        QVERIFY(!t->queryValue(h, kFlag, &data));
        QVERIFY(!t->enumKey(h, 0, &name));
        QVERIFY(!t->deleteSubKey(h, QStringLiteral("inner")));
        t->closeKey(h); // closing again is harmless
    }
    QCOMPARE(t->committedWrites(), writes);
    QCOMPARE(t->openKey(path), kNoKey);
    QVERIFY(t->queryValue(live, kFlag, &data));
    QCOMPARE(data, kYes);
    t->closeKey(live);
    t->closeKey(parent);
}

void TestRegistryStore::walkSeesOwnChangesAtOnce()
{
    TempStore t;
    QVERIFY(t.isValid());
    for (const char *n : {"a", "b", "c", "d"})
        QVERIFY(addEntry(t.store(), under(kParent, QLatin1String(n))));
    const KeyHandle parent = t->openKey(kParent);
    QStringList seen;
    QString name;
    for (quint32 i = 0; t->enumKey(parent, i, &name); ++i) {
        seen.append(name);
        if (name == QLatin1String("b")) {
            // Keys deleted or added by this program during the walk show at the next step.
            QVERIFY(t->deleteSubKey(parent, QStringLiteral("c")));
            QVERIFY(addEntry(t.store(), under(kParent, QStringLiteral("bb"))));
        }
        // Writing values does not disturb the walk.
        QVERIFY(addEntry(t.store(), under(kParent, name), kNo));
    }
    t->closeKey(parent);
    QCOMPARE(seen, (QStringList{"a", "b", "bb", "d"}));
}

void TestRegistryStore::unchangedWriteTouchesNothing_data()
{
    QTest::addColumn<quint32>("type");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("name");
    QTest::newRow("same string") << kRegSz << kYes << "Annouce";
    QTest::newRow("same string, other case of name") << kRegSz << kYes << "annOUCE";
    QTest::newRow("same dword") << kRegDword << dword(8888) << "Number";
    QTest::newRow("same empty data") << quint32(3) << QByteArray() << "Empty";
}

void TestRegistryStore::unchangedWriteTouchesNothing()
{
    QFETCH(quint32, type);
    QFETCH(QByteArray, data);
    QFETCH(QString, name);
    TempStore t;
    QVERIFY(t.isValid());
    const KeyPath path = under(kParent, QStringLiteral("Frd_Bob"));
    QVERIFY(addEntry(t.store(), path));
    KeyHandle key = t->openKey(path);
    QVERIFY(t->setValue(key, name, type, data));
    t->closeKey(key);

    // A second connection has the file open too, as a second copy of the program would.
    RegistryStore other(t.filePath());
    QVERIFY(other.isUsable());
    const QString wal = t.filePath() + QStringLiteral("-wal");
    QVERIFY(QFile::exists(wal));
    const Stamp dbBefore = stamp(t.filePath());
    const Stamp walBefore = stamp(wal);
    const quint64 writes = t->committedWrites();
    QTest::qSleep(20); // a write now would show in the time stamps

    for (int i = 0; i < 50; ++i) {
        key = t->openKey(path);
        QVERIFY(t->setValue(key, name, type, data));
        t->closeKey(key);
        const KeyHandle existing = t->createKey(path);
        QVERIFY(existing != kNoKey);
        t->closeKey(existing);
        QVERIFY(!t->deleteSubKey(t->openKey(kParent), QStringLiteral("Frd_Missing")));
    }
    QCOMPARE(t->committedWrites(), writes);
    QVERIFY(stamp(t.filePath()) == dbBefore);
    QVERIFY(stamp(wal) == walBefore);

    // The same call with a different value does write, once.
    key = t->openKey(path);
    QVERIFY(t->setValue(key, name, type, data + "x"));
    t->closeKey(key);
    QCOMPARE(t->committedWrites(), writes + 1);
    QVERIFY(!(stamp(wal) == walBefore));
    QCOMPARE(readValue(other, path, name), data + "x");
}

void TestRegistryStore::deleteRemovesEverythingBelow()
{
    TempStore t;
    QVERIFY(t.isValid());
    const KeyPath bob = under(kParent, QStringLiteral("Frd_Bob"));
    QVERIFY(addEntry(t.store(), bob));
    QVERIFY(addEntry(t.store(), under(bob, QStringLiteral("inner"))));
    QVERIFY(
        addEntry(t.store(), under(under(bob, QStringLiteral("inner")), QStringLiteral("deep"))));
    QVERIFY(addEntry(t.store(), under(kParent, QStringLiteral("Foe_Al"))));

    const KeyHandle parent = t->openKey(kParent);
    QCOMPARE(readValue(t.store(), bob), kYes);
    const quint64 writes = t->committedWrites();
    // The name is matched without regard to case.
    QVERIFY(t->deleteSubKey(parent, QStringLiteral("FRD_BOB")));
    QCOMPARE(t->committedWrites(), writes + 1);
    QCOMPARE(t->openKey(bob), kNoKey);

    // Made again, the key is empty: no value, no subkey came back; and it is a key of its own.
    QVERIFY(readValue(t.store(), bob).isNull());
    const KeyHandle fresh = t->createKey(bob);
    QVERIFY(fresh != kNoKey);
    quint32 type, size;
    QVERIFY(!t->queryValueInfo(fresh, kFlag, &type, &size));
    QVERIFY(t->setValue(fresh, kFlag, kRegSz, kNo));
    t->closeKey(fresh);
    QCOMPARE(readValue(t.store(), bob), kNo);
    QVERIFY(walk(t.store(), bob).isEmpty());
    QVERIFY(t->deleteSubKey(parent, QStringLiteral("Frd_Bob")));
    QVERIFY(!t->deleteSubKey(parent, QStringLiteral("Frd_Bob")));
    QCOMPARE(t->committedWrites(), writes + 4);
    QCOMPARE(walk(t.store(), kParent), QStringList{QStringLiteral("Foe_Al")});
    t->closeKey(parent);
    QVERIFY(walk(t.store(), bob).isEmpty());
    t.reopen();
    QVERIFY(walk(t.store(), bob).isEmpty());
    QCOMPARE(readValue(t.store(), under(kParent, QStringLiteral("Foe_Al"))), kYes);
}

void TestRegistryStore::changesOfAnotherConnectionAreSeen_data()
{
    QTest::addColumn<Change>("change");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QByteArray>("e1Flag");
    QTest::newRow("key added") << Change::Add << QStringList{"e1", "e2", "e3", "e4"} << kYes;
    QTest::newRow("key deleted") << Change::Delete << QStringList{"e1", "e3"} << kYes;
    QTest::newRow("value changed") << Change::Value << QStringList{"e1", "e2", "e3"} << kNo;
    QTest::newRow("made again in other case")
        << Change::Recreate << QStringList{"E1", "e2", "e3"} << QByteArray();
}

void TestRegistryStore::changesOfAnotherConnectionAreSeen()
{
    QFETCH(Change, change);
    QFETCH(QStringList, expected);
    QFETCH(QByteArray, e1Flag);
    TempStore t;
    QVERIFY(t.isValid());
    for (const char *n : {"e1", "e2", "e3"})
        QVERIFY(addEntry(t.store(), under(kParent, QLatin1String(n))));
    // Everything is read once, so that this connection has it all in memory.
    QCOMPARE(walk(t.store(), kParent), (QStringList{"e1", "e2", "e3"}));
    QCOMPARE(readValue(t.store(), under(kParent, QStringLiteral("e1"))), kYes);
    const KeyHandle held = t->openKey(under(kParent, QStringLiteral("e2")));

    {
        RegistryStore other(t.filePath());
        QVERIFY(other.isUsable());
        const KeyHandle parent = other.openKey(kParent);
        switch (change) {
        case Change::Add:
            QVERIFY(addEntry(other, under(kParent, QStringLiteral("e4"))));
            break;
        case Change::Delete:
            QVERIFY(other.deleteSubKey(parent, QStringLiteral("e2")));
            break;
        case Change::Value:
            QVERIFY(addEntry(other, under(kParent, QStringLiteral("e1")), kNo));
            break;
        case Change::Recreate:
            QVERIFY(other.deleteSubKey(parent, QStringLiteral("e1")));
            QVERIFY(other.createKey(under(kParent, QStringLiteral("E1"))) != kNoKey);
            break;
        }
        other.closeKey(parent);
    }

    QCOMPARE(walk(t.store(), kParent), expected);
    QCOMPARE(readValue(t.store(), under(kParent, QStringLiteral("e1"))), e1Flag);
    // The key held open before is gone only when it was deleted.
    QByteArray data;
    QCOMPARE(t->queryValue(held, kFlag, &data), change != Change::Delete);
    // Writing what the other connection wrote changes nothing; anything else is written.
    const quint64 writes = t->committedWrites();
    const KeyHandle e1 = t->openKey(under(kParent, QStringLiteral("e1")));
    QVERIFY(e1 != kNoKey);
    QVERIFY(t->setValue(e1, kFlag, kRegSz, kNo));
    QCOMPARE(t->committedWrites(), writes + (e1Flag == kNo ? 0 : 1));
    t->closeKey(e1);
    t->closeKey(held);
}

void TestRegistryStore::secondProcessWritingAtTheSameTime()
{
    TempStore t;
    QVERIFY(t.isValid());
    QVERIFY(addEntry(t.store(), under(kParent, QStringLiteral("start"))));
    constexpr int kEach = 300;
    QProcess helper;
    helper.start(helperPath(), {t.filePath(), QStringLiteral("Helper_"), QString::number(kEach)});
    QVERIFY2(helper.waitForStarted(), qPrintable(helper.errorString()));
    // Start writing once the helper has written its first entry, so the two really overlap.
    QVERIFY(helper.waitForReadyRead(30000));
    int mine = 0;
    for (; mine < kEach; ++mine) {
        if (!addEntry(t.store(), under(kParent, QStringLiteral("Mine_%1").arg(mine))))
            break;
    }
    QCOMPARE(mine, kEach);
    QVERIFY(helper.waitForFinished(60000));
    QCOMPARE(helper.exitStatus(), QProcess::NormalExit);
    QCOMPARE(helper.exitCode(), 0);
    QCOMPARE(helper.readAllStandardOutput().count('\n'), kEach);

    const QStringList names = walk(t.store(), kParent);
    QCOMPARE(names.size(), 2 * kEach + 1);
    for (int i = 0; i < kEach; ++i) {
        QVERIFY(names.contains(QStringLiteral("Helper_%1").arg(i)));
        QCOMPARE(readValue(t.store(), under(kParent, QStringLiteral("Mine_%1").arg(i))), kYes);
        QCOMPARE(readValue(t.store(), under(kParent, QStringLiteral("Helper_%1").arg(i))), kYes);
    }
    QCOMPARE(quickCheck(t.filePath()), QStringLiteral("ok"));
}

void TestRegistryStore::killedWriterLosesNoCommittedEntry()
{
    TempStore t;
    QVERIFY(t.isValid());
    t.close(); // only the helper has the file open while it is killed
    QProcess helper;
    helper.start(helperPath(), {t.filePath(), QStringLiteral("Killed_"), QStringLiteral("0")});
    QVERIFY2(helper.waitForStarted(), qPrintable(helper.errorString()));
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
    QVERIFY(printed.size() >= 150);

    QCOMPARE(quickCheck(t.filePath()), QStringLiteral("ok"));
    t.reopen();
    QVERIFY(t.isValid());
    const QStringList names = walk(t.store(), kParent);
    for (const QByteArray &line : std::as_const(printed)) {
        const QString name = QString::fromUtf8(line);
        QVERIFY2(names.contains(name), qPrintable(name));
        QCOMPARE(readValue(t.store(), under(kParent, name)), kYes);
    }
    // The store goes on working after the crash.
    QVERIFY(addEntry(t.store(), under(kParent, QStringLiteral("after"))));
    QCOMPARE(quickCheck(t.filePath()), QStringLiteral("ok"));
}

void TestRegistryStore::damagedFileIsLeftAlone_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("garbage") << "garbage";
    QTest::newRow("truncated to half") << "half";
    QTest::newRow("truncated to one page") << "page";
    QTest::newRow("truncated inside the header") << "header";
    QTest::newRow("overwritten page") << "scribbled";
    QTest::newRow("another program's database") << "foreign";
}

void TestRegistryStore::damagedFileIsLeftAlone()
{
    QFETCH(QString, kind);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("kelvoran/registry.sqlite3"));
    QByteArray bytes;
    if (kind == QLatin1String("garbage")) {
        for (int i = 0; i < 20000; ++i)
            bytes.append(char((i * 7919) % 251));
    } else if (kind == QLatin1String("foreign")) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        sqlite3 *db = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
        QCOMPARE(sqlite3_exec(db, "CREATE TABLE notes(t TEXT); INSERT INTO notes VALUES('mine')",
                              nullptr, nullptr, nullptr),
                 SQLITE_OK);
        sqlite3_close(db);
        bytes = fileBytes(path);
    } else {
        QVERIFY(makeRealStore(path, 400));
        QVERIFY(!QFile::exists(path + QStringLiteral("-wal")));
        const QByteArray whole = fileBytes(path);
        QVERIFY(whole.size() > 4 * 4096);
        if (kind == QLatin1String("half"))
            bytes = whole.left(whole.size() / 2);
        else if (kind == QLatin1String("page"))
            bytes = whole.left(4096);
        else if (kind == QLatin1String("header"))
            bytes = whole.left(60);
        else {
            bytes = whole;
            for (qsizetype i = 2 * 4096; i < 3 * 4096; ++i)
                bytes[i] = char(0xA5);
        }
    }
    QVERIFY(writeFile(path, bytes));
    const QStringList filesBefore = QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files);

    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression(QStringLiteral("registry store .*(damaged|not a "
                                                           "Kelvoran|cannot be)")));
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
    {
        RegistryStore store(path);
        QVERIFY(!store.isUsable());
        QCOMPARE(store.openKey({}), kNoKey);
        QCOMPARE(store.openKey(kParent), kNoKey);
        QCOMPARE(store.createKey(kParent), kNoKey);
        QString name;
        QVERIFY(!store.enumKey(store.openKey({}), 0, &name));
        QVERIFY(!store.setValue(store.createKey(kParent), kFlag, kRegSz, kYes));
        QCOMPARE(store.committedWrites(), quint64(0));
    }
    QCOMPARE(fileBytes(path), bytes);
    // Nothing was moved away or replaced beside it.
    const QStringList filesAfter = QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files);
    QVERIFY(filesAfter.contains(QStringLiteral("registry.sqlite3")));
    QVERIFY(filesAfter.size() <= filesBefore.size() + 2); // SQLite's own -wal/-shm at most
}

void TestRegistryStore::unopenableFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("path is a folder") << "folder";
    QTest::newRow("folder is a file") << "parentfile";
    QTest::newRow("empty path") << "empty";
}

void TestRegistryStore::unopenableFile()
{
    QFETCH(QString, kind);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString path;
    if (kind == QLatin1String("folder")) {
        path = dir.filePath(QStringLiteral("registry.sqlite3"));
        QVERIFY(QDir().mkpath(path));
    } else if (kind == QLatin1String("parentfile")) {
        QVERIFY(writeFile(dir.filePath(QStringLiteral("kelvoran")), "not a folder"));
        path = dir.filePath(QStringLiteral("kelvoran/registry.sqlite3"));
    }
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("registry store")));
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
    RegistryStore store(path);
    QVERIFY(!store.isUsable());
    QCOMPARE(store.createKey(kParent), kNoKey);
    QCOMPARE(store.openKey({}), kNoKey);
    if (kind == QLatin1String("parentfile"))
        QCOMPARE(fileBytes(dir.filePath(QStringLiteral("kelvoran"))), QByteArray("not a folder"));
    if (kind == QLatin1String("folder"))
        QVERIFY(QFileInfo(path).isDir());
}

void TestRegistryStore::defaultFilePath_data()
{
    QTest::addColumn<QByteArray>("xdg");
    QTest::addColumn<QString>("expected"); // relative to the home folder set below
    QTest::newRow("set") << QByteArray("/somewhere/cfg")
                         << "/somewhere/cfg/kelvoran/registry.sqlite3";
    QTest::newRow("unset") << QByteArray() << "HOME/.config/kelvoran/registry.sqlite3";
    QTest::newRow("relative is ignored")
        << QByteArray("cfg") << "HOME/.config/kelvoran/registry.sqlite3";
}

void TestRegistryStore::defaultFilePath()
{
    QFETCH(QByteArray, xdg);
    QFETCH(QString, expected);
    const QByteArray oldXdg = qgetenv("XDG_CONFIG_HOME");
    const bool hadXdg = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    const QByteArray oldHome = qgetenv("HOME");
    auto restore = qScopeGuard([&] {
        if (hadXdg)
            qputenv("XDG_CONFIG_HOME", oldXdg);
        else
            qunsetenv("XDG_CONFIG_HOME");
        qputenv("HOME", oldHome);
    });
    qputenv("HOME", "/home/tester");
    if (xdg.isEmpty())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", xdg);
    expected.replace(QStringLiteral("HOME"), QStringLiteral("/home/tester"));
    QCOMPARE(RegistryStore::defaultFilePath(), expected);
}

void TestRegistryStore::newFileIsPrivate()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray oldXdg = qgetenv("XDG_CONFIG_HOME");
    const bool hadXdg = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    auto restore = qScopeGuard([&] {
        if (hadXdg)
            qputenv("XDG_CONFIG_HOME", oldXdg);
        else
            qunsetenv("XDG_CONFIG_HOME");
    });
    const QString config = dir.filePath(QStringLiteral("config"));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config));
    const QString path = RegistryStore::defaultFilePath();
    QCOMPARE(path, config + QStringLiteral("/kelvoran/registry.sqlite3"));
    {
        RegistryStore store(path);
        QVERIFY(store.isUsable());
        QVERIFY(addEntry(store, kParent));
        QCOMPARE(modeOf(config), 0700);
        QCOMPARE(modeOf(config + QStringLiteral("/kelvoran")), 0700);
        QCOMPARE(modeOf(path), 0600);
        for (const char *suffix : {"-wal", "-shm"}) {
            const QString side = path + QLatin1String(suffix);
            if (QFile::exists(side))
                QCOMPARE(modeOf(side), 0600);
        }
    }
    // An existing file keeps its own mode.
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    RegistryStore again(path);
    QVERIFY(again.isUsable());
    QCOMPARE(modeOf(path), 0640);
    QCOMPARE(readValue(again, kParent), kYes);
}

QTEST_GUILESS_MAIN(TestRegistryStore)
#include "tst_registrystore.moc"
