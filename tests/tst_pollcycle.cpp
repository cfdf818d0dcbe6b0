// The poll cycle once its page is in: who is announced, with which sound and notification, in
// which order, and how each entry's flag moves from visit to visit.
#include "RecordingSoundPlayer.h"
#include "TempStore.h"
#include "watch/ServerWatch.h"
#include <QtTest>
using namespace kelvoran;
namespace {
// A fresh store with the poll cycle over it, for one test or one row. The sound files are named
// by their kind, so the sounds played read as "friend foe".
struct Watch
{
    test::TempStore t;
    test::RecordingSoundPlayer sound;
    test::RecordingNotifier notifier;
    watch::Announcer announcer = [this] {
        watch::Announcer a(sound, notifier);
        a.setSounds("friend", "foe");
        return a;
    }();
    watch::ServerWatch cycle{t.registry(), announcer};
};

} // namespace

class PollCycleTest : public QObject
{
    Q_OBJECT

private slots:
    void visits_data()
    {
        QTest::addColumn<QString>("entries"); // in the store's order
        // Cycles split by ";", each "players | sounds played | the entries' flags afterwards |
        // store writes" (none when nobody came or went). Players: "Bob/10.1" (name/address), ""
        // a table without player rows (only bots), "-" no table (server down, login refused).
        QTest::addColumn<QString>("cycles");
        for (const auto &[tag, entries, cycles] :
             {std::tuple{"two joins in one cycle play in page order", "Foe_Zed=YES Frd_10.1=YES",
                         "Zed/10.9,Ann/10.1 | foe friend | NO NO | 2"},
              {"friend with a backslash joins, stays, leaves, returns", "Frd_B\\ob=YES",
               "B\\ob/10.1 | friend | NO | 1; B\\ob/10.1 | | NO | 0; Ann/10.2 | | YES | 1;"
               "B\\ob/10.9 | friend | NO | 1"},
              {"by name and by address: store order, one a cycle", "Foe_Al=YES Frd_10.1=YES",
               "Al/10.1 | foe | NO YES | 1; Al/10.1 | friend | NO NO | 1; Al/10.1 | | NO NO | 0"},
              {"case counts; no kind prefix or no identifier: never announced",
               "Frd_=YES Frd_bob=YES Pal_Bob=YES Xy=NO",
               "Bob/10.1,Ann/10.2,Bot/ | | YES YES YES YES | 1"},
              {"no table or no player rows (only bots): all armed", "foe_10.2=NO Frd_Bob=NO",
               "- | | YES YES | 2; Bob/10.1 | friend | YES NO | 1; | | YES YES | 1"}})
            QTest::newRow(tag) << QString(entries) << QString(cycles);
    }
    void visits()
    {
        QFETCH(QString, entries);
        QFETCH(QString, cycles);
        Watch w;
        for (const QString &e : entries.split(u' '))
            w.t.setEntry(e.section(u'=', 0, 0), e.section(u'=', 1));
        for (const QString &cycle : cycles.split(u';')) {
            const QString players = cycle.section(u'|', 0, 0).trimmed();
            const quint64 writes = w.t.store().committedWrites();
            QList<watch::PlayerRow> rows;
            for (const QString &p : players.split(u',', Qt::SkipEmptyParts))
                rows.append({p.section(u'/', 0, 0), p.section(u'/', 1)});
            w.cycle.PollCycle(players == u"-" ? watch::PlayerTable() : rows, "ut");
            QStringList seen{players, "|", std::exchange(w.sound.played, {}).join(u' '), "|"};
            for (const WatchEntryFlag &e : w.t.registry().watchEntries())
                seen << e.flag;
            seen << "|" << QString::number(w.t.store().committedWrites() - writes);
            QCOMPARE(seen.join(u' ').simplified(), cycle.simplified());
        }
    }
    void flagIsWrittenBeforeTheSoundPlaysAndANotificationNamesWhoCame()
    {
        Watch w;
        w.t.setEntry(u"Foe_10.1"_qs, kArmed);
        w.t.setEntry(u"Frd_<K>Al&Co"_qs, kArmed);
        QString flagAtPlay;
        w.sound.onPlay = [&] { flagAtPlay += w.t.flagOf(u"Foe_10.1"_qs); };
        const QList<watch::PlayerRow> rows{{u"Bob"_qs, u"10.1"_qs}, {u"<K>Al&Co"_qs, u"10.2"_qs}};
        w.cycle.PollCycle(rows, "CTF");
        QCOMPARE(flagAtPlay + ' ' + w.notifier.shown.join(','),
                 u"NONO Foe on line: 10.1/on CTF,Friend on line: <K>Al&Co/on CTF"_qs);
    }
    // A store that refuses the "NO": each visit is still announced once.
    void onceAVisitWhenTheFlagCannotBeStored()
    {
        Watch w;
        w.t.setEntry(u"Frd_Bob"_qs, kArmed);
        QVERIFY(QFile::setPermissions(w.t.filePath(), QFile::ReadOwner));
        platform::RegistryStore readOnly(w.t.filePath());
        Module1 registry(readOnly);
        watch::ServerWatch cycle(registry, w.announcer);
        const QList<watch::PlayerRow> bob{{u"Bob"_qs, u"10.1"_qs}};
        QString heard;
        for (const QList<watch::PlayerRow> &rows : {bob, bob, bob, {}, bob, bob}) {
            cycle.PollCycle(rows, "ut");
            heard += QString::number(std::exchange(w.sound.played, {}).size());
        }
        QCOMPARE(heard + w.t.flagOf(u"Frd_Bob"_qs), u"100010YES"_qs);
    }
};

QTEST_GUILESS_MAIN(PollCycleTest)
#include "tst_pollcycle.moc"
