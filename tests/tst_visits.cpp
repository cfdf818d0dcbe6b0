// The visit log: a store that refuses it, the step that gives an older store file its log, the
// newest 1,000 kept, and the window that shows the log. (The visits polls make are the watchers'.)
#include "TempStore.h"
#include "TestBytes.h"
#include "WindowDoubles.h"
#include "app/VisitsWindow.h"
#include <QClipboard>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>
#include <sqlite3.h>
using namespace kelvoran;
using platform::RegistryStore;
using platform::VisitRow;
using Failure = platform::FetchResult::Failure;
namespace {
const QDateTime kStart(QDate(2024, 3, 14), QTime(20, 12)); // local time
const auto at = [](int minutes) { return kStart.addSecs(60 * minutes); };
// "Frd_Al Al/10.1 0-2 note muted": entry, player, the minutes it came and left at ("on": running).
QString text(const std::optional<VisitRow> &v)
{
    const auto minute = [](const QDateTime &t) {
        return t.isValid() ? QString::number(kStart.secsTo(t) / 60) : u"on"_qs;
    };
    return !v ? QString()
              : QStringList{(v->isFriend ? "Frd_" : "Foe_") + v->watchedAs, v->name + '/' + v->ip,
                            minute(v->came) + '-' + minute(v->left), v->endNote,
                            v->muted ? u"muted"_qs : QString()}
                    .join(' ')
                    .simplified();
}

} // namespace

class VisitsTest : public QObject
{
    Q_OBJECT

private slots:
    // A store that refuses every write: said once, and the visit that ended is still known (the
    // tray names it).
    void refusedWritesSaidOnce()
    {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("be saved$"));
        RegistryStore none{QString()};
        watch::VisitLog log(none);
        QString said;
        for (int minute : {0, 1, 2}) {
            watch::PollReport r{at(minute), {Failure::None, 200, true, {}}, true, 1, {}, {}};
            if (minute == 0)
                r.announced = {{"Frd_Al", true, "Al", "10.1"}};
            if (minute < 2)
                r.watchedOnLine = {{"Frd_Al"}};
            log.record("", "ut", r);
            said += log.takeWriteFailure() + '|';
        }
        QCOMPARE(said + text(log.lastEnded()), u"has no file path|||Frd_Al Al/10.1 0-2"_qs);
    }
    // An older file reads as it is while it may not be written; written, it gains what the log
    // lacks, keeps keys, values, visits and the newest 1,000 visits; Clear keeps running visits.
    void olderFileGainsTheLog_data()
    {
        QTest::addColumn<QByteArray>("sql"); // as that version wrote it, server address "host"
        QTest::addColumn<QString>("log");    // as it holds it
        const QString data = KELVORAN_SOURCE_DIR "/tests/data/";
        QTest::newRow("version 1") << test::readFile(data + "registry-v1.sql") << QString();
        QTest::newRow("version 2") << test::readFile(data + "registry-v2.sql") << "Al/// ";
    }
    void olderFileGainsTheLog()
    {
        QFETCH(QByteArray, sql);
        QFETCH(QString, log);
        QTest::failOnWarning(QRegularExpression("failed:")); // no statement on a missing column
        QTemporaryDir dir;
        const QString path = dir.filePath("registry.sqlite3");
        sqlite3 *db = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(path), &db), SQLITE_OK);
        QCOMPARE(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
        const auto logOf = [](RegistryStore &store) {
            QString all;
            for (const VisitRow &v : store.visits())
                all += QStringList{v.watchedAs, v.endNote, v.server, v.cameNote}.join('/') + ' ';
            return all;
        };
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("be saved$")); // read-only, first
        for (const bool writable : {false, true}) {
            QVERIFY(QFile::setPermissions(path, QFile::Permissions(writable ? 0x6000 : 0x4000)));
            RegistryStore store(path);
            QCOMPARE(Module1(store).queryRegText(kSettingsKey, "UTServerAddress"), u"host"_qs);
            QCOMPARE(logOf(store), log);
            store.addVisit({.came = kStart, .server = "Srv", .cameNote = "on at start"});
        }
        RegistryStore store(path);
        QCOMPARE(logOf(store), "//Srv/on at start " + log);
        for (int i = 0; i < RegistryStore::kMaxVisits + 1; ++i)
            store.addVisit({.came = kStart, .watchedAs = QString::number(i)});
        const QList<VisitRow> v = store.visits();
        QCOMPARE(QString::number(v.size()) + ' ' + v.first().watchedAs + ' ' + v.last().watchedAs,
                 u"1000 1000 1"_qs);
        QVERIFY(store.clearVisits({v[7].id, v[5].id}));
        QCOMPARE(logOf(store), u"995/// 993/// "_qs);
    }
    // Rows newest first, Copy of all rows or of the selected ones (kept when the log changes),
    // and Clear after a question.
    void window()
    {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        test::TempStore t;
        for (const VisitRow &v :
             {VisitRow{0, at(0), at(40), "server not read", true, "Al", "Al", "10.1", false, "CTF"},
              {0, at(48), at(300), "", false, "10.2", "Bob", "10.2", true, "ut:7777"},
              {0, at(53), {}, "", true, "Bob", "B\tob", "10.2", false, "DM", "already there"}})
            t.store().addVisit(v);
        watch::VisitLog log(t.store());
        test::ScriptedDialogs dialogs;
        app::VisitsWindow w(log, dialogs);
        w.show();
        const QLocale l;
        const auto time = [&](int m) { return l.toString(at(m), QLocale::ShortFormat); };
        const QStringList rows{
            time(53) +
                " (already there)\tunknown (Kelvoran stopped)\tfriend\tBob\tB ob\t10.2\tDM\n",
            time(48) + '\t' + time(300) + "\tfoe (muted)\t10.2\tBob\t10.2\tut:7777\n",
            time(0) + '\t' + l.toString(at(40).time(), QLocale::ShortFormat) +
                " (server not read)\tfriend\tAl\tAl\t10.1\tCTF\n"};
        const auto copy = [&] {
            w.cmdCopy->click();
            return QString::number(w.tblVisits->rowCount()) + QGuiApplication::clipboard()->text();
        };
        QCOMPARE(w.windowTitle() + copy(), "Kelvoran: Visits3" + rows.join(""));
        for (int row : {2, 0})
            w.tblVisits->setRangeSelected({row, 0, row, w.tblVisits->columnCount() - 1}, true);
        QCOMPARE(copy(), '3' + rows[0] + rows[2]);
        log.record("", "ut",
                   {at(60),
                    {Failure::None, 200, true, {}},
                    true,
                    1,
                    {{"Foe_Al", false, "Al", "10.1"}},
                    {{"Foe_Al"}}});
        QCOMPARE(copy(), '4' + rows[0] + rows[2]);
        QCOMPARE(w.tblVisits->item(0, 1)->text(), u"on line"_qs); // the visit this run follows
        dialogs.answers = QStringList{"no", "yes"};
        for (int rowsLeft : {4, 1}) { // the visit still running stays
            w.cmdClear->click();
            QCOMPARE(w.tblVisits->rowCount(), rowsLeft);
        }
        QCOMPARE(dialogs.shown, QStringList(2, "Remove every visit from the log?"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("be saved$"));
        RegistryStore none{QString()}; // a store that refuses every write: said
        watch::VisitLog refused(none);
        app::VisitsWindow cannot(refused, dialogs);
        dialogs.answers = QStringList{"yes"};
        cannot.cmdClear->click();
        QCOMPARE(dialogs.shown.last(),
                 u"Could not clear the log of visits: the file has no file path."_qs);
    }
};

QTEST_MAIN(VisitsTest)
#include "tst_visits.moc"
