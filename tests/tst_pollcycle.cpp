// The poll cycle once its page is in: who is announced, with which sound and notification, in
// which order, and how each entry's flag moves from visit to visit.
#include "RecordingSoundPlayer.h"
#include "TempStore.h"
#include "watch/ServerWatch.h"
#include "watchlist/WatchList.h"

#include <QtTest>

using namespace kelvoran;

namespace {

const watch::WatchFields kFields{"admin", "secret", "127.0.0.1", "8888", "/friend.wav", "/foe.wav"};

// "Bob/10.0.0.1,Ann/10.0.0.2": the players on line; "none": a table without player rows; "-": a
// page without a table (server down, login refused).
watch::PlayerTable onLine(const QString &players)
{
    if (players == QLatin1String("-"))
        return std::nullopt;
    QList<watch::PlayerRow> rows;
    for (const QString &p : players.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        if (p != QLatin1String("none"))
            rows.append({p.section(QLatin1Char('/'), 0, 0), p.section(QLatin1Char('/'), 1)});
    }
    return rows;
}

} // namespace

class PollCycleTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<test::TempStore> t;
    test::RecordingSoundPlayer sound;
    test::RecordingNotifier notifier;
    std::unique_ptr<watch::ServerWatch> watcher;

private slots:
    void init()
    {
        t = std::make_unique<test::TempStore>();
        QVERIFY(t->isValid());
        sound = {};
        notifier = {};
        watcher = std::make_unique<watch::ServerWatch>(t->registry(), sound, notifier);
    }

    void visits_data()
    {
        QTest::addColumn<QStringList>("entries");
        // Each cycle: "players | sounds played | flags afterwards".
        QTest::addColumn<QStringList>("cycles");

        QTest::newRow("friend joins, stays, leaves, comes back")
            << QStringList{"Frd_Bob=YES"}
            << QStringList{
                   "Bob/10.0.0.1 | friend | Frd_Bob=NO", "Bob/10.0.0.1 |        | Frd_Bob=NO",
                   "Ann/10.0.0.2 |        | Frd_Bob=YES", "Bob/10.0.0.9 | friend | Frd_Bob=NO"};
        QTest::newRow("watched by name and by address: one a cycle, then silence")
            << QStringList{"Frd_Bob=YES", "Frd_10.0.0.1=YES"}
            << QStringList{"Bob/10.0.0.1 | friend | Frd_10.0.0.1=NO,Frd_Bob=YES",
                           "Bob/10.0.0.1 | friend | Frd_10.0.0.1=NO,Frd_Bob=NO",
                           "Bob/10.0.0.1 |        | Frd_10.0.0.1=NO,Frd_Bob=NO"};
        QTest::newRow("friend already announced, foe armed: the foe sound")
            << QStringList{"Frd_Bob=NO", "Foe_Bob=YES"}
            << QStringList{"Bob/10.0.0.1 | foe | Frd_Bob=NO,Foe_Bob=NO"};
        QTest::newRow("friend and foe for one name: first in order now, the other next")
            << QStringList{"Frd_Bob=YES", "Foe_Bob=YES"}
            << QStringList{"Bob/10.0.0.1 | foe    | Foe_Bob=NO,Frd_Bob=YES",
                           "Bob/10.0.0.1 | friend | Foe_Bob=NO,Frd_Bob=NO"};
        QTest::newRow("matching counts case")
            << QStringList{"Frd_bob=YES"} << QStringList{"Bob/10.0.0.1 | | Frd_bob=YES"};
        QTest::newRow("entry without a kind prefix: never announced, armed again")
            << QStringList{"Pal_Bob=NO", "Xy=NO"}
            << QStringList{"Bob/10.0.0.1 | | Pal_Bob=NO,Xy=YES",
                           "Ann/10.0.0.2 | | Pal_Bob=YES,Xy=YES"};
        QTest::newRow("nobody on line: silence, everyone armed")
            << QStringList{"Frd_Bob=NO", "Foe_10.0.0.2=NO"}
            << QStringList{"- | | Frd_Bob=YES,Foe_10.0.0.2=YES"};
        QTest::newRow("only bots: a table without player rows, everyone armed")
            << QStringList{"Frd_Bob=NO", "Foe_Bot1=NO"}
            << QStringList{"none | | Frd_Bob=YES,Foe_Bot1=YES"};
        QTest::newRow("server down or login refused: everyone armed, announced anew after")
            << QStringList{"Frd_Bob=NO"}
            << QStringList{"- | | Frd_Bob=YES", "Bob/10.0.0.1 | friend | Frd_Bob=NO"};
        QTest::newRow("two joins in one cycle play in page order")
            << QStringList{"Foe_Zed=YES", "Frd_10.0.0.1=YES"}
            << QStringList{"Zed/10.0.0.9,Ann/10.0.0.1 | foe, friend | Foe_Zed=NO,Frd_10.0.0.1=NO"};
        QTest::newRow("an identifier with a backslash is one entry like any other")
            << QStringList{"Frd_a\\b=YES"}
            << QStringList{"a\\b/10.0.0.1 | friend | Frd_a\\b=NO", "- | | Frd_a\\b=YES"};
        QTest::newRow("unwatched players change nothing")
            << QStringList{"Frd_Bob=YES"}
            << QStringList{"Ann/10.0.0.2,Cy/10.0.0.3 | | Frd_Bob=YES"};
    }

    void visits()
    {
        QFETCH(QStringList, entries);
        QFETCH(QStringList, cycles);
        for (const QString &e : entries)
            t->setEntry(e.section(QLatin1Char('='), 0, 0), e.section(QLatin1Char('='), 1));
        for (const QString &cycle : cycles) {
            const QStringList parts = cycle.split(QLatin1Char('|'));
            sound.played.clear();
            watcher->PollCycle(onLine(parts.at(0).trimmed()), kFields);
            QStringList sounds;
            for (const QString &k : parts.at(1).simplified().split(u", "_qs, Qt::SkipEmptyParts))
                sounds << (k == QLatin1String("friend") ? kFields.friendWav : kFields.enemyWav);
            QCOMPARE(sound.played, sounds);
            for (const QString &f : parts.at(2).trimmed().split(QLatin1Char(',')))
                QCOMPARE(f.section('=', 0, 0) + '=' + t->flagOf(f.section('=', 0, 0)), f);
        }
    }

    void flagIsWrittenBeforeTheSoundPlaysAndANotificationNamesWhoCame()
    {
        t->setEntry(u"Foe_10.0.0.1"_qs, kArmed);
        QString flagWhilePlaying;
        sound.onPlay = [&](const QString &) { flagWhilePlaying = t->flagOf(u"Foe_10.0.0.1"_qs); };
        watcher->PollCycle(onLine(u"Bob/10.0.0.1"_qs), kFields);
        QCOMPARE(flagWhilePlaying, kAnnounced);
        QCOMPARE(notifier.shown, QStringList{u"Foe on line/10.0.0.1"_qs});
    }

    void steadyStateReadsOnceAndWritesNothing()
    {
        for (int i = 0; i < 50; ++i)
            t->setEntry(u"Frd_P%1"_qs.arg(i), i % 2 ? kArmed : kAnnounced);
        watcher->PollCycle(onLine(u"P1/1,P2/2,Zz/3"_qs), kFields); // P1 announced, others armed
        QCOMPARE(sound.played.size(), 1);
        const quint64 before = t->store().committedWrites();
        watcher->PollCycle(onLine(u"P1/1,P2/2,Zz/3"_qs), kFields);
        QCOMPARE(t->store().committedWrites(), before);
        QCOMPARE(watcher->loadedWatchList().size(), 50);
        t->registry().deleteEntry(u"Frd_P0"_qs); // the next cycle reads the store as it is now
        watcher->PollCycle(onLine(u"-"_qs), kFields);
        QCOMPARE(watcher->loadedWatchList().size(), 49);
        QCOMPARE(t->flagOf(u"Frd_P1"_qs), kArmed);
    }
};

QTEST_GUILESS_MAIN(PollCycleTest)
#include "tst_pollcycle.moc"
