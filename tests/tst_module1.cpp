// The registry routines and the watch-list procedures of Module1, on a real store file.
#include "TempStore.h"
#include "TestBytes.h"
#include "watchlist/Module1.h"

#include <QTest>

using namespace kelvoran;
using namespace kelvoran::Module1;
using platform::KeyHandle;
using platform::kNoKey;
using test::dword;
using test::TempStore;

namespace {

const QString kFlag = QStringLiteral("Annouce");

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

    std::unique_ptr<TempStore> t;
    platform::RegistryStore *store() { return &t->store(); }

private slots:
    void init()
    {
        t = std::make_unique<TempStore>();
        QVERIFY(t->isValid());
    }
    void cleanup() { t.reset(); }

    void firstRunHasNoEntries()
    {
        int visits = 0;
        walkEntries(kChecklistWalkKey, [&](const QString &) { return ++visits, true; });
        QCOMPARE(visits, 0);
        QVERIFY(entryNames(kChecklistKey).isEmpty());
        regQueryResult = QStringLiteral("stale");
        QCOMPARE(queryRegText(kSettingsKey, QStringLiteral("UTServerAddress")), QString());
        QCOMPARE(regQueryResult, QString());
        deleteEntry(QStringLiteral("Frd_Bob"));
        QCOMPARE(store()->committedWrites(), quint64(0));

        // The first add creates the whole path; the lower-case and capitalised parent are one key.
        addEntry(QStringLiteral("Frd_Bob"));
        QCOMPARE(entryNames(kChecklistWalkKey), QStringList{QStringLiteral("Frd_Bob")});
        QCOMPARE(entryNames(kSettingsKey), QStringList{QStringLiteral("checklist")});
        QCOMPARE(queryRegText(subPath(kChecklistWalkKey, QStringLiteral("Frd_Bob")), kFlag),
                 QStringLiteral("YES"));
    }

    void readingValues_data()
    {
        QTest::addColumn<bool>("present");
        QTest::addColumn<quint32>("type");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("text");   // what queryRegKeyValue yields
        QTest::addColumn<QVariant>("value"); // what readRegValue leaves in a variant holding "kept"
        const QVariant kept(QStringLiteral("kept"));
        QTest::newRow("string") << true << 1u << QByteArray("YES", 4) << "YES" << QVariant("YES");
        QTest::newRow("utf-8 string")
            << true << 1u << QByteArray("Ärger\0", 7) << "Ärger" << QVariant("Ärger");
        QTest::newRow("empty string") << true << 1u << QByteArray(1, '\0') << "" << QVariant("");
        QTest::newRow("string of size 0") << true << 1u << QByteArray() << "" << kept;
        QTest::newRow("string without NUL")
            << true << 1u << QByteArray("abc") << "abc" << QVariant("abc");
        QTest::newRow("dword 8888") << true << 4u << dword(8888) << "8888" << QVariant(8888);
        QTest::newRow("dword -1") << true << 4u << dword(-1) << "-1" << QVariant(-1);
        QTest::newRow("dword lowest")
            << true << 4u << dword(INT_MIN) << "-2147483648" << QVariant(INT_MIN);
        QTest::newRow("dword of 2 bytes") << true << 4u << QByteArray("\x01\x02", 2) << "" << kept;
        QTest::newRow("expandable string") << true << 2u << QByteArray("%HOME%\0", 7) << "" << kept;
        QTest::newRow("binary") << true << 3u << QByteArray("\x01\x00", 2) << "" << kept;
        QTest::newRow("missing value") << false << 0u << QByteArray() << "" << kept;
    }

    void readingValues()
    {
        QFETCH(bool, present);
        QFETCH(quint32, type);
        QFETCH(QByteArray, data);
        QFETCH(QString, text);
        QFETCH(QVariant, value);
        const RegPath path = subPath(kChecklistKey, QStringLiteral("Frd_Bob"));
        const KeyHandle key = store()->createKey(path);
        QVERIFY(store()->setValue(key, QStringLiteral("Other"), 1, QByteArray("other", 6)));
        if (present)
            QVERIFY(store()->setValue(key, QStringLiteral("Value"), type, data));

        regQueryResult = QStringLiteral("stale");
        queryRegKeyValue(path, QStringLiteral("Value"));
        QCOMPARE(regQueryResult, text);
        QCOMPARE(queryRegText(path, QStringLiteral("VALUE")), text);

        QVariant out(QStringLiteral("kept"));
        readRegValue(key, QStringLiteral("Value"), out);
        QCOMPARE(out, value);
        store()->closeKey(key);
    }

    void writingValues_data()
    {
        QTest::addColumn<qint32>("type");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<quint32>("storedType"); // 0: nothing written
        QTest::addColumn<QByteArray>("storedData");
        QTest::newRow("YES is 4 bytes") << REG_SZ << QVariant("YES") << 1u << QByteArray("YES", 4);
        QTest::newRow("empty text") << REG_SZ << QVariant("") << 1u << QByteArray(1, '\0');
        QTest::newRow("utf-8 text")
            << REG_SZ << QVariant("Ärger") << 1u << QByteArray("\xc3\x84rger", 7);
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
    }

    void writingValues()
    {
        QFETCH(qint32, type);
        QFETCH(QVariant, value);
        QFETCH(quint32, storedType);
        QFETCH(QByteArray, storedData);
        createRegKey(kSettingsKey, HKEY_LOCAL_MACHINE());
        const quint64 writes = store()->committedWrites();
        const KeyHandle key = store()->openKey(kSettingsKey);
        writeRegValue(key, QStringLiteral("Friend"), type, value);
        store()->closeKey(key);
        QCOMPARE(stored(kSettingsKey, QStringLiteral("Friend")),
                 std::make_pair(storedType, storedData));
        QCOMPARE(store()->committedWrites(), writes + (storedType ? 1 : 0));
        // The same through setRegKeyValue, whose arguments come in the other order.
        t->reopen();
        setRegKeyValue(kSettingsKey, QStringLiteral("Enemy"), value, type);
        QCOMPARE(stored(kSettingsKey, QStringLiteral("Enemy")),
                 std::make_pair(storedType, storedData));
    }

    void setRegKeyValueNeverCreatesAKey()
    {
        createRegKey(kChecklistKey, HKEY_LOCAL_MACHINE());
        const quint64 writes = store()->committedWrites();
        // A missing entry, and a missing parent.
        setRegKeyValue(subPath(kChecklistKey, QStringLiteral("Frd_Bob")), kFlag, "YES", REG_SZ);
        setRegKeyValue(subPath(kGameInstallKey, QStringLiteral("x")), kFlag, "YES", REG_SZ);
        QCOMPARE(store()->committedWrites(), writes);
        QVERIFY(entryNames(kChecklistKey).isEmpty());
        QCOMPARE(entryNames({}), QStringList{QStringLiteral("Software")});
        QCOMPARE(entryNames(kSettingsKey), QStringList{QStringLiteral("checklist")});
        // On an existing key the same call writes.
        setRegKeyValue(kChecklistKey, kFlag, QStringLiteral("YES"), REG_SZ);
        QCOMPARE(store()->committedWrites(), writes + 1);
    }

    void sameNameInOtherCaseReachesTheEntry()
    {
        // An announced Frd_BOB is armed again by adding Bob, and keeps its spelling.
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

    void backslashStaysInOneEntry_data()
    {
        QTest::addColumn<QString>("identifier");
        QTest::newRow("a\\b") << "a\\b";
        QTest::newRow("only a backslash") << "\\";
        QTest::newRow("share path") << "\\\\server\\share\\";
    }

    void backslashStaysInOneEntry()
    {
        QFETCH(QString, identifier);
        const QString subkey = QStringLiteral("Frd_") + identifier;
        addEntry(subkey);
        addEntry(QStringLiteral("Frd_plain"));
        QCOMPARE(entryNames(kChecklistWalkKey), (QStringList{subkey, QStringLiteral("Frd_plain")}));
        QCOMPARE(queryRegText(subPath(kChecklistWalkKey, subkey), kFlag), QStringLiteral("YES"));
        setRegKeyValue(subPath(kChecklistKey, subkey), kFlag, QStringLiteral("NO"), REG_SZ);
        QCOMPARE(queryRegText(subPath(kChecklistWalkKey, subkey), kFlag), QStringLiteral("NO"));
        QVERIFY(entryNames(subPath(kChecklistKey, subkey)).isEmpty());
        deleteEntry(subkey);
        QCOMPARE(entryNames(kChecklistKey), QStringList{QStringLiteral("Frd_plain")});
    }

    void walkFollowsStoreOrderAndStopsEarly()
    {
        for (const char *name : {"Other", "frd_carl", "Frd_Bob", "Foe_amy", "Foe_10.0.0.1"})
            addEntry(QLatin1String(name));
        const QStringList all{"Foe_10.0.0.1", "Foe_amy", "Frd_Bob", "frd_carl", "Other"};
        QCOMPARE(entryNames(kChecklistWalkKey), all);
        QStringList seen;
        walkEntries(kChecklistWalkKey, [&](const QString &name) {
            seen.append(name);
            return seen.size() < 3;
        });
        QCOMPARE(seen, all.mid(0, 3));
    }

    void deletingEntries_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("left");
        QTest::newRow("entry") << "Frd_Bob" << QStringList{"Foe_Bob"};
        QTest::newRow("other case") << "FRD_BOB" << QStringList{"Foe_Bob"};
        QTest::newRow("missing") << "Frd_Al" << QStringList{"Foe_Bob", "Frd_Bob"};
        QTest::newRow("empty name") << "" << QStringList{"Foe_Bob", "Frd_Bob"};
    }

    void deletingEntries()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, left);
        addEntry(QStringLiteral("Frd_Bob"), QStringLiteral("NO"));
        addEntry(QStringLiteral("Foe_Bob"));
        const quint64 writes = store()->committedWrites();
        deleteEntry(name);
        QCOMPARE(entryNames(kChecklistKey), left);
        QCOMPARE(store()->committedWrites(), writes + (left.size() == 1 ? 1 : 0));
        // An entry made again under the same name starts without the old flag.
        createRegKey(subPath(kChecklistKey, QStringLiteral("Frd_Bob")), HKEY_LOCAL_MACHINE());
        QCOMPARE(queryRegText(subPath(kChecklistWalkKey, QStringLiteral("Frd_Bob")), kFlag),
                 left.size() == 1 ? QString() : QStringLiteral("NO"));
    }

    void withoutAStoreNothingHappens()
    {
        setHive(nullptr);
        addEntry(QStringLiteral("Frd_Bob"));
        createRegKey(kSettingsKey, nullptr);
        setRegKeyValue(kSettingsKey, QStringLiteral("Friend"), QStringLiteral("a.wav"), REG_SZ);
        writeRegValue(KeyHandle(1), QStringLiteral("Friend"), REG_SZ, QStringLiteral("a.wav"));
        deleteEntry(QStringLiteral("Frd_Bob"));
        regQueryResult = QStringLiteral("stale");
        QCOMPARE(queryRegText(kSettingsKey, QStringLiteral("Friend")), QString());
        QVERIFY(entryNames(kChecklistKey).isEmpty());
        QVariant out(7);
        readRegValue(KeyHandle(1), QStringLiteral("Friend"), out);
        QCOMPARE(out, QVariant(7));
        QCOMPARE(store()->committedWrites(), quint64(0));
    }
};

QTEST_GUILESS_MAIN(TestModule1)
#include "tst_module1.moc"
