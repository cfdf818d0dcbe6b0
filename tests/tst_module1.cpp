// The registry routines and the watch-list procedures of Module1, on a real store file.
#include "TempStore.h"
#include "watchlist/Module1.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

using namespace kelvoran;
using namespace kelvoran::Module1;
using platform::KeyHandle;
using platform::kNoKey;
using test::TempStore;

namespace {

const QString kFlag = QStringLiteral("Annouce");

QByteArray dword(qint32 v)
{
    QByteArray b(4, '\0');
    qToLittleEndian<qint32>(v, b.data());
    return b;
}

// Adds a watch entry the way the add commands do.
void addEntry(const QString &subkey, const QString &flag = QStringLiteral("YES"))
{
    createRegKey(subPath(kChecklistKey, subkey), HKEY_LOCAL_MACHINE());
    setRegKeyValue(subPath(kChecklistKey, subkey), kFlag, flag, REG_SZ);
}

// Type and bytes of a value as the store holds them; type 0 and no bytes when there is none.
std::pair<quint32, QByteArray> stored(const RegPath &path, const QString &name)
{
    platform::RegistryStore *store = HKEY_LOCAL_MACHINE();
    const KeyHandle key = store->openKey(path);
    quint32 type = 0, size = 0;
    QByteArray data;
    if (key == kNoKey || !store->queryValueInfo(key, name, &type, &size) ||
        !store->queryValue(key, name, &data) || data.size() != qsizetype(size))
        type = 0;
    store->closeKey(key);
    return {type, data};
}

} // namespace

class TestModule1 : public QObject
{
    Q_OBJECT

private slots:
    void firstRunHasNoEntries();
    void readingValues_data();
    void readingValues();
    void writingValues_data();
    void writingValues();
    void setRegKeyValueNeverCreatesAKey_data();
    void setRegKeyValueNeverCreatesAKey();
    void sameNameInOtherCaseReachesTheEntry();
    void backslashStaysInOneEntry_data();
    void backslashStaysInOneEntry();
    void walkFollowsStoreOrderAndStopsEarly_data();
    void walkFollowsStoreOrderAndStopsEarly();
    void deletingEntries_data();
    void deletingEntries();
    void withoutAUsableStoreNothingHappens_data();
    void withoutAUsableStoreNothingHappens();
};

void TestModule1::firstRunHasNoEntries()
{
    TempStore t;
    QVERIFY(t.isValid());
    int visits = 0;
    walkEntries(kChecklistWalkKey, [&](const QString &) {
        ++visits;
        return true;
    });
    QCOMPARE(visits, 0);
    QVERIFY(entryNames(kChecklistKey).isEmpty());
    regQueryResult = QStringLiteral("stale");
    QCOMPARE(queryRegText(kSettingsKey, QStringLiteral("UTServerAddress")), QString());
    QCOMPARE(regQueryResult, QString());
    deleteEntry(QStringLiteral("Frd_Bob"));
    QCOMPARE(t->committedWrites(), quint64(0));

    // The first add creates the whole path; the lower-case and capitalised parent are one key.
    addEntry(QStringLiteral("Frd_Bob"));
    QCOMPARE(entryNames(kChecklistWalkKey), QStringList{QStringLiteral("Frd_Bob")});
    QCOMPARE(entryNames(kSettingsKey), QStringList{QStringLiteral("checklist")});
    QCOMPARE(queryRegText(subPath(kChecklistWalkKey, QStringLiteral("Frd_Bob")), kFlag),
             QStringLiteral("YES"));
}

void TestModule1::readingValues_data()
{
    QTest::addColumn<bool>("present");
    QTest::addColumn<quint32>("type");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("text");   // what queryRegKeyValue yields
    QTest::addColumn<QVariant>("value"); // what readRegValue leaves in a variant holding "kept"
    const QVariant kept(QStringLiteral("kept"));
    QTest::newRow("string") << true << 1u << QByteArray("YES", 4) << "YES" << QVariant("YES");
    QTest::newRow("utf-8 string") << true << 1u << QByteArray("Ärger\0", 7) << "Ärger"
                                  << QVariant("Ärger");
    QTest::newRow("empty string") << true << 1u << QByteArray(1, '\0') << "" << QVariant("");
    QTest::newRow("string of size 0") << true << 1u << QByteArray() << "" << kept;
    QTest::newRow("string without NUL")
        << true << 1u << QByteArray("abc") << "abc" << QVariant("abc");
    QTest::newRow("dword 8888") << true << 4u << dword(8888) << "8888" << QVariant(8888);
    QTest::newRow("dword -1") << true << 4u << dword(-1) << "-1" << QVariant(-1);
    QTest::newRow("dword lowest") << true << 4u << dword(INT_MIN) << "-2147483648"
                                  << QVariant(INT_MIN);
    QTest::newRow("dword of 2 bytes") << true << 4u << QByteArray("\x01\x02", 2) << "" << kept;
    QTest::newRow("expandable string") << true << 2u << QByteArray("%HOME%\0", 7) << "" << kept;
    QTest::newRow("binary") << true << 3u << QByteArray("\x01\x00", 2) << "" << kept;
    QTest::newRow("missing value") << false << 0u << QByteArray() << "" << kept;
}

void TestModule1::readingValues()
{
    QFETCH(bool, present);
    QFETCH(quint32, type);
    QFETCH(QByteArray, data);
    QFETCH(QString, text);
    QFETCH(QVariant, value);
    TempStore t;
    QVERIFY(t.isValid());
    const RegPath path = subPath(kChecklistKey, QStringLiteral("Frd_Bob"));
    const KeyHandle key = t->createKey(path);
    QVERIFY(key != kNoKey);
    QVERIFY(t->setValue(key, QStringLiteral("Other"), 1, QByteArray("other", 6)));
    if (present)
        QVERIFY(t->setValue(key, QStringLiteral("Value"), type, data));

    regQueryResult = QStringLiteral("stale");
    queryRegKeyValue(path, QStringLiteral("Value"));
    QCOMPARE(regQueryResult, text);
    QCOMPARE(queryRegText(path, QStringLiteral("VALUE")), text);

    QVariant out(QStringLiteral("kept"));
    readRegValue(key, QStringLiteral("Value"), out);
    QCOMPARE(out, value);
    QVariant untouched(QStringLiteral("kept"));
    readRegValue(kNoKey, QStringLiteral("Other"), untouched);
    QCOMPARE(untouched, QVariant(QStringLiteral("kept")));
    t->closeKey(key);
}

void TestModule1::writingValues_data()
{
    QTest::addColumn<qint32>("type");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<quint32>("storedType"); // 0: nothing written
    QTest::addColumn<QByteArray>("storedData");
    QTest::newRow("YES is 4 bytes") << REG_SZ << QVariant("YES") << 1u << QByteArray("YES", 4);
    QTest::newRow("empty text") << REG_SZ << QVariant("") << 1u << QByteArray(1, '\0');
    QTest::newRow("utf-8 text") << REG_SZ << QVariant("Ärger") << 1u
                                << QByteArray("\xc3\x84rger", 7);
    QTest::newRow("number as text") << REG_SZ << QVariant(42) << 1u << QByteArray("42", 3);
    QTest::newRow("dword") << REG_DWORD << QVariant(8888) << 4u << dword(8888);
    QTest::newRow("dword -1") << REG_DWORD << QVariant(-1) << 4u << dword(-1);
    QTest::newRow("dword from text") << REG_DWORD << QVariant(" 123 ") << 4u << dword(123);
    QTest::newRow("dword rounds half to even") << REG_DWORD << QVariant(2.5) << 4u << dword(2);
    QTest::newRow("dword rounds 3.5 up") << REG_DWORD << QVariant(3.5) << 4u << dword(4);
    QTest::newRow("dword from true") << REG_DWORD << QVariant(true) << 4u << dword(-1);
    QTest::newRow("dword too large")
        << REG_DWORD << QVariant(qint64(1) << 32) << 0u << QByteArray();
    QTest::newRow("dword from words") << REG_DWORD << QVariant("many") << 0u << QByteArray();
    QTest::newRow("type 2") << 2 << QVariant("x") << 0u << QByteArray();
    QTest::newRow("type 0") << 0 << QVariant("x") << 0u << QByteArray();
    QTest::newRow("type 3") << 3 << QVariant("x") << 0u << QByteArray();
}

void TestModule1::writingValues()
{
    QFETCH(qint32, type);
    QFETCH(QVariant, value);
    QFETCH(quint32, storedType);
    QFETCH(QByteArray, storedData);
    TempStore t;
    QVERIFY(t.isValid());
    createRegKey(kSettingsKey, HKEY_LOCAL_MACHINE());
    const quint64 writes = t->committedWrites();
    const KeyHandle key = t->openKey(kSettingsKey);
    writeRegValue(key, QStringLiteral("Friend"), type, value);
    t->closeKey(key);
    const auto [gotType, gotData] = stored(kSettingsKey, QStringLiteral("Friend"));
    QCOMPARE(gotType, storedType);
    QCOMPARE(gotData, storedData);
    QCOMPARE(t->committedWrites(), writes + (storedType ? 1 : 0));
    // The same through setRegKeyValue, whose arguments come in the other order.
    t.reopen();
    setRegKeyValue(kSettingsKey, QStringLiteral("Enemy"), value, type);
    QCOMPARE(stored(kSettingsKey, QStringLiteral("Enemy")), std::make_pair(storedType, storedData));
}

void TestModule1::setRegKeyValueNeverCreatesAKey_data()
{
    QTest::addColumn<RegPath>("path");
    QTest::newRow("missing entry") << subPath(kChecklistKey, QStringLiteral("Frd_Bob"));
    QTest::newRow("missing parent") << subPath(kGameInstallKey, QStringLiteral("x"));
    QTest::newRow("root") << RegPath{};
}

void TestModule1::setRegKeyValueNeverCreatesAKey()
{
    QFETCH(RegPath, path);
    TempStore t;
    QVERIFY(t.isValid());
    createRegKey(kChecklistKey, HKEY_LOCAL_MACHINE());
    const quint64 writes = t->committedWrites();
    if (!path.isEmpty())
        setRegKeyValue(path, kFlag, QStringLiteral("YES"), REG_SZ);
    QCOMPARE(t->committedWrites(), writes);
    QVERIFY(entryNames(kChecklistKey).isEmpty());
    QCOMPARE(entryNames({}), QStringList{QStringLiteral("Software")});
    QCOMPARE(entryNames(kSettingsKey), QStringList{QStringLiteral("checklist")});
    // On an existing key the same call writes.
    setRegKeyValue(kChecklistKey, kFlag, QStringLiteral("YES"), REG_SZ);
    QCOMPARE(t->committedWrites(), writes + 1);
}

void TestModule1::sameNameInOtherCaseReachesTheEntry()
{
    TempStore t;
    QVERIFY(t.isValid());
    addEntry(QStringLiteral("Frd_BOB"), QStringLiteral("NO"));
    addEntry(QStringLiteral("Frd_Bob"));
    QCOMPARE(entryNames(kChecklistWalkKey), QStringList{QStringLiteral("Frd_BOB")});
    QCOMPARE(queryRegText(subPath(kChecklistWalkKey, QStringLiteral("Frd_BOB")), kFlag),
             QStringLiteral("YES"));
    // A foe entry for the same identifier is an entry of its own.
    addEntry(QStringLiteral("Foe_bob"));
    QCOMPARE(entryNames(kChecklistKey),
             (QStringList{QStringLiteral("Foe_bob"), QStringLiteral("Frd_BOB")}));
}

void TestModule1::backslashStaysInOneEntry_data()
{
    QTest::addColumn<QString>("identifier");
    QTest::newRow("a\\b") << "a\\b";
    QTest::newRow("only a backslash") << "\\";
    QTest::newRow("trailing backslash") << "name\\";
    QTest::newRow("share path") << "\\\\server\\share";
}

void TestModule1::backslashStaysInOneEntry()
{
    QFETCH(QString, identifier);
    TempStore t;
    QVERIFY(t.isValid());
    const QString subkey = QStringLiteral("Frd_") + identifier;
    addEntry(subkey);
    addEntry(QStringLiteral("Frd_plain"));
    QVERIFY(entryNames(kChecklistWalkKey).contains(subkey));
    QCOMPARE(entryNames(kChecklistWalkKey).size(), 2);
    QCOMPARE(queryRegText(subPath(kChecklistWalkKey, subkey), kFlag), QStringLiteral("YES"));
    setRegKeyValue(subPath(kChecklistKey, subkey), kFlag, QStringLiteral("NO"), REG_SZ);
    QCOMPARE(queryRegText(subPath(kChecklistWalkKey, subkey), kFlag), QStringLiteral("NO"));
    QVERIFY(entryNames(subPath(kChecklistKey, subkey)).isEmpty());
    deleteEntry(subkey);
    QCOMPARE(entryNames(kChecklistKey), QStringList{QStringLiteral("Frd_plain")});
}

void TestModule1::walkFollowsStoreOrderAndStopsEarly_data()
{
    QTest::addColumn<int>("stopAt"); // the visitor stops after this many names; -1 never
    QTest::addColumn<QStringList>("expected");
    const QStringList all{"Foe_10.0.0.1", "Foe_amy", "Frd_Bob", "frd_carl", "Other"};
    QTest::newRow("whole walk") << -1 << all;
    QTest::newRow("stop at first") << 1 << all.mid(0, 1);
    QTest::newRow("stop at third") << 3 << all.mid(0, 3);
    QTest::newRow("stop at last") << 5 << all;
}

void TestModule1::walkFollowsStoreOrderAndStopsEarly()
{
    QFETCH(int, stopAt);
    QFETCH(QStringList, expected);
    TempStore t;
    QVERIFY(t.isValid());
    for (const char *name : {"Other", "frd_carl", "Frd_Bob", "Foe_amy", "Foe_10.0.0.1"})
        addEntry(QLatin1String(name));
    QStringList seen;
    walkEntries(kChecklistWalkKey, [&](const QString &name) {
        seen.append(name);
        return seen.size() != stopAt;
    });
    QCOMPARE(seen, expected);
}

void TestModule1::deletingEntries_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("left");
    QTest::newRow("entry") << "Frd_Bob" << QStringList{"Foe_Bob"};
    QTest::newRow("other case") << "FRD_BOB" << QStringList{"Foe_Bob"};
    QTest::newRow("missing") << "Frd_Al" << QStringList{"Foe_Bob", "Frd_Bob"};
    QTest::newRow("empty name") << "" << QStringList{"Foe_Bob", "Frd_Bob"};
}

void TestModule1::deletingEntries()
{
    QFETCH(QString, name);
    QFETCH(QStringList, left);
    TempStore t;
    QVERIFY(t.isValid());
    addEntry(QStringLiteral("Frd_Bob"), QStringLiteral("NO"));
    addEntry(QStringLiteral("Foe_Bob"));
    const quint64 writes = t->committedWrites();
    Module1::deleteEntry(name);
    QCOMPARE(entryNames(kChecklistKey), left);
    QCOMPARE(t->committedWrites(), writes + (left.size() == 1 ? 1 : 0));
    // An entry made again under the same name starts without the old flag.
    createRegKey(subPath(kChecklistKey, QStringLiteral("Frd_Bob")), HKEY_LOCAL_MACHINE());
    QCOMPARE(queryRegText(subPath(kChecklistWalkKey, QStringLiteral("Frd_Bob")), kFlag),
             left.size() == 1 ? QString() : QStringLiteral("NO"));
}

void TestModule1::withoutAUsableStoreNothingHappens_data()
{
    QTest::addColumn<bool>("damaged"); // false: no hive at all
    QTest::newRow("no hive") << false;
    QTest::newRow("damaged store") << true;
}

void TestModule1::withoutAUsableStoreNothingHappens()
{
    QFETCH(bool, damaged);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("registry.sqlite3"));
    std::unique_ptr<platform::RegistryStore> store;
    if (damaged) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(8192, 'x'));
        f.close();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("registry store")));
        store = std::make_unique<platform::RegistryStore>(path);
    }
    setHive(store.get());
    auto unset = qScopeGuard([] { setHive(nullptr); });

    addEntry(QStringLiteral("Frd_Bob"));
    createRegKey(kSettingsKey, store.get());
    setRegKeyValue(kSettingsKey, QStringLiteral("Friend"), QStringLiteral("a.wav"), REG_SZ);
    writeRegValue(KeyHandle(1), QStringLiteral("Friend"), REG_SZ, QStringLiteral("a.wav"));
    deleteEntry(QStringLiteral("Frd_Bob"));
    regQueryResult = QStringLiteral("stale");
    QCOMPARE(queryRegText(kSettingsKey, QStringLiteral("Friend")), QString());
    QVERIFY(entryNames(kChecklistKey).isEmpty());
    QVariant out(7);
    readRegValue(KeyHandle(1), QStringLiteral("Friend"), out);
    QCOMPARE(out, QVariant(7));
    if (damaged) {
        QCOMPARE(store->committedWrites(), quint64(0));
        QCOMPARE(QFile(path).size(), qint64(8192));
    }
}

QTEST_GUILESS_MAIN(TestModule1)
#include "tst_module1.moc"
