// The visit log: the step that gives an older store file its log, and the newest 1,000 kept.
#include "TempStore.h"
#include "TestBytes.h"

#include <QtTest>
#include <sqlite3.h>

using namespace kelvoran;
using platform::RegistryStore;
using platform::VisitRow;

namespace {

const QDateTime kStart(QDate(2024, 3, 14), QTime(20, 12)); // local time

// A store file as the previous version (1) made it, with the server address "host".
const char *const kVersion1 = R"(PRAGMA journal_mode = WAL; PRAGMA application_id = 1263294034;
PRAGMA user_version = 1; CREATE TABLE meta(k TEXT PRIMARY KEY, v INTEGER NOT NULL) WITHOUT ROWID;
CREATE TABLE keys(id INTEGER PRIMARY KEY AUTOINCREMENT, parent INTEGER NOT NULL,
    name TEXT NOT NULL, folded TEXT NOT NULL, UNIQUE(parent, folded));
CREATE TABLE vals(key INTEGER NOT NULL, name TEXT NOT NULL, folded TEXT NOT NULL,
    type INTEGER NOT NULL, data BLOB NOT NULL, PRIMARY KEY(key, folded)) WITHOUT ROWID;
INSERT INTO meta(k, v) VALUES('structure', 0); INSERT INTO keys(parent, name, folded)
    VALUES(0, 'Software', 'software'), (1, 'Kelvoran', 'kelvoran');
INSERT INTO vals VALUES(2, 'UTServerAddress', 'utserveraddress', 1, X'686F737400');)";

} // namespace

class VisitsTest : public QObject
{
    Q_OBJECT

private slots:
    // A file of the previous version: while it may not be written it stays as it is and still
    // reads; then it gains the log, keeps its keys and values, and opens as a file of this version
    // whose log keeps the newest 1,000 visits.
    void olderFileGainsTheLog()
    {
        QTest::failOnWarning(QRegularExpression("failed:")); // no statement on a missing table
        QTemporaryDir dir;
        const QString path = dir.filePath("registry.sqlite3");
        sqlite3 *db = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(path), &db), SQLITE_OK);
        QCOMPARE(sqlite3_exec(db, kVersion1, nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
        const QByteArray before = test::readFile(path);
        for (int open = 0; open < 3; ++open) {
            QFile::setPermissions(path, open ? QFile::Permissions(0x6000) : QFile::ReadOwner);
            if (open == 0)
                QTest::ignoreMessage(QtWarningMsg, QRegularExpression("no write permission"));
            QCOMPARE(test::readFile(path) == before, open < 2); // untouched while read-only
            RegistryStore store(path);
            QCOMPARE(Module1(store).queryRegText(kSettingsKey, "UTServerAddress"), u"host"_qs);
            QCOMPARE(store.addVisit({.came = kStart}) > 0, open > 0);
            QCOMPARE(store.visits().size(), open);
        }
        RegistryStore store(path);
        for (int i = 0; i < RegistryStore::kMaxVisits + 1; ++i)
            store.addVisit({.came = kStart, .watchedAs = QString::number(i)});
        const QList<VisitRow> v = store.visits();
        QCOMPARE(QString::number(v.size()) + ' ' + v.first().watchedAs + ' ' + v.last().watchedAs,
                 u"1000 1000 1"_qs);
    }
};

QTEST_MAIN(VisitsTest)
#include "tst_visits.moc"
