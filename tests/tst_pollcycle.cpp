// The poll cycle against a local game server: who is announced, with which sound, in which order,
// and how each entry's flag moves from visit to visit.
#include "FakeGameServer.h"
#include "RecordingSoundPlayer.h"
#include "TempStore.h"
#include "platform/HttpClient.h"
#include "platform/RegistryStore.h"
#include "watch/ServerWatch.h"
#include "watchlist/Module1.h"
#include "watchlist/WatchList.h"

#include <QtTest>

using namespace kelvoran;
using namespace kelvoran::Module1;
using kelvoran::test::FakeGameServer;
using kelvoran::test::FakePlayer;

namespace {
const QString kFriendWav = QStringLiteral("/sounds/friend.wav");
const QString kFoeWav = QStringLiteral("/sounds/foe.wav");
} // namespace

class PollCycleTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<test::TempStore> m_store;
    FakeGameServer m_server;
    platform::CurlHttpClient m_http;
    test::RecordingSoundPlayer m_sound;

    watch::WatchFields fields() const
    {
        return {QStringLiteral("admin"),
                QStringLiteral("secret"),
                QStringLiteral("127.0.0.1"),
                m_server.portText(),
                kFriendWav,
                kFoeWav};
    }

    static void setEntry(const QString &subkey, const QString &flag)
    {
        const RegPath path = subPath(kChecklistKey, subkey);
        createRegKey(path, HKEY_LOCAL_MACHINE());
        setRegKeyValue(path, kAnnounceValue, flag, REG_SZ);
    }

    static QString flagOf(const QString &subkey)
    {
        return queryRegText(subPath(kChecklistKey, subkey), kAnnounceValue);
    }

    // "Bob/10.0.0.1,Ann/10.0.0.2": players on line ("Name/bot" is a bot); "-": nobody, the
    // page has no table then; "401": the login is refused.
    void putOnLine(const QString &players)
    {
        m_server.setMode(FakeGameServer::Mode::Normal);
        m_server.setCredentials(QStringLiteral("admin"), QStringLiteral("secret"));
        QList<FakePlayer> list;
        if (players == QLatin1String("401")) {
            m_server.setCredentials(QStringLiteral("admin"), QStringLiteral("other"));
        } else if (players != QLatin1String("-")) {
            for (const QString &p : players.split(QLatin1Char(','))) {
                const QStringList parts = p.split(QLatin1Char('/'));
                FakePlayer player{parts.value(0), parts.value(1)};
                if (player.ip == QLatin1String("bot")) {
                    player.ip.clear();
                    player.bot = true;
                }
                list << player;
            }
        }
        m_server.setPlayers(list);
    }

private slots:
    void initTestCase()
    {
        m_server.setCredentials(QStringLiteral("admin"), QStringLiteral("secret"));
    }

    void init()
    {
        m_store = std::make_unique<test::TempStore>();
        QVERIFY(m_store->isValid());
        m_sound.played.clear();
        m_sound.onPlay = nullptr;
    }

    void cleanup() { m_store.reset(); }

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
            << QStringList{"Bot1/bot | | Frd_Bob=YES,Foe_Bot1=YES"};
        QTest::newRow("login refused: everyone armed, announced anew when it works again")
            << QStringList{"Frd_Bob=NO"}
            << QStringList{"401 | | Frd_Bob=YES", "Bob/10.0.0.1 | friend | Frd_Bob=NO"};
        QTest::newRow("two joins in one cycle play in page order")
            << QStringList{"Foe_Zed=YES", "Frd_10.0.0.1=YES"}
            << QStringList{"Zed/10.0.0.9,Ann/10.0.0.1 | friend,foe | Foe_Zed=NO,Frd_10.0.0.1=NO"};
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
        for (const QString &e : entries) {
            const QStringList kv = e.split(QLatin1Char('='));
            setEntry(kv.at(0), kv.at(1));
        }
        watch::ServerWatch watcher(m_http, m_sound);
        int cycleNo = 0;
        for (const QString &cycle : cycles) {
            ++cycleNo;
            const QStringList parts = cycle.split(QLatin1Char('|'));
            QCOMPARE(parts.size(), 3);
            putOnLine(parts.at(0).trimmed());
            m_sound.played.clear();
            watcher.PollCycle(fields());

            QStringList expectedSounds;
            for (const QString &s :
                 parts.at(1).trimmed().split(QLatin1Char(','), Qt::SkipEmptyParts))
                expectedSounds << (s.trimmed() == QLatin1String("friend") ? kFriendWav : kFoeWav);
            QVERIFY2(m_sound.played == expectedSounds,
                     qPrintable(QStringLiteral("cycle %1 played %2")
                                    .arg(cycleNo)
                                    .arg(m_sound.played.join(QLatin1Char(' ')))));
            for (const QString &f : parts.at(2).trimmed().split(QLatin1Char(','))) {
                const QStringList kv = f.split(QLatin1Char('='));
                QVERIFY2(flagOf(kv.at(0)) == kv.at(1),
                         qPrintable(QStringLiteral("cycle %1: %2 is %3")
                                        .arg(cycleNo)
                                        .arg(kv.at(0), flagOf(kv.at(0)))));
            }
        }
    }

    void nameWithNbspMatchesWithoutIt()
    {
        setEntry(QStringLiteral("Frd_BigBob"), kArmed);
        QList<FakePlayer> players{{QStringLiteral("Big&nbsp;Bob"), QStringLiteral("10.0.0.5")}};
        m_server.setMode(FakeGameServer::Mode::RawBody);
        m_server.setRawBody(FakeGameServer::playersPage(players));
        watch::ServerWatch watcher(m_http, m_sound);
        watcher.PollCycle(fields());
        QCOMPARE(m_sound.played, QStringList{kFriendWav});
        QCOMPARE(flagOf(QStringLiteral("Frd_BigBob")), kAnnounced);
    }

    void flagIsWrittenBeforeTheSoundPlays()
    {
        setEntry(QStringLiteral("Foe_Bob"), kArmed);
        putOnLine(QStringLiteral("Bob/10.0.0.1"));
        QString flagWhilePlaying;
        m_sound.onPlay = [&](const QString &) {
            flagWhilePlaying = flagOf(QStringLiteral("Foe_Bob"));
        };
        watch::ServerWatch watcher(m_http, m_sound);
        watcher.PollCycle(fields());
        QCOMPARE(flagWhilePlaying, kAnnounced);
    }

    void serverDownArmsEveryEntry()
    {
        setEntry(QStringLiteral("Frd_Bob"), kAnnounced);
        setEntry(QStringLiteral("Foe_Ann"), kAnnounced);
        watch::WatchFields f = fields();
        {
            // A port nothing listens on: bind one, then close it again.
            FakeGameServer gone;
            f.portNumber = gone.portText();
        }
        watch::ServerWatch watcher(m_http, m_sound);
        watcher.PollCycle(f);
        QVERIFY(m_sound.played.isEmpty());
        QCOMPARE(flagOf(QStringLiteral("Frd_Bob")), kArmed);
        QCOMPARE(flagOf(QStringLiteral("Foe_Ann")), kArmed);
    }

    void unsavedSoundPathsAreUsed()
    {
        setEntry(QStringLiteral("Frd_Bob"), kArmed);
        putOnLine(QStringLiteral("Bob/10.0.0.1"));
        watch::WatchFields f = fields();
        f.friendWav = QStringLiteral("/just/typed.wav");
        watch::ServerWatch watcher(m_http, m_sound);
        watcher.PollCycle(f);
        QCOMPARE(m_sound.played, QStringList{QStringLiteral("/just/typed.wav")});
    }

    void steadyStateWritesNothing()
    {
        for (int i = 0; i < 50; ++i)
            setEntry(QStringLiteral("Frd_P%1").arg(i), kArmed);
        putOnLine(QStringLiteral("P1/10.0.0.1,P2/10.0.0.2,Zz/10.0.0.3"));
        watch::ServerWatch watcher(m_http, m_sound);
        watcher.PollCycle(fields()); // P1 and P2 announced
        QCOMPARE(m_sound.played.size(), 2);
        const quint64 before = (*m_store)->committedWrites();
        watcher.PollCycle(fields());
        watcher.PollCycle(fields());
        QCOMPARE((*m_store)->committedWrites(), before);
        QCOMPARE(m_sound.played.size(), 2);
    }

    void loadedWatchListFollowsTheStore()
    {
        setEntry(QStringLiteral("Frd_b"), kArmed);
        setEntry(QStringLiteral("Foe_A"), kArmed);
        watch::ServerWatch watcher(m_http, m_sound);
        putOnLine(QStringLiteral("Bot1/bot"));
        watcher.PollCycle(fields());
        QCOMPARE(watcher.loadedWatchList(), (QStringList{"Foe_A", "Frd_b"}));
        deleteEntry(QStringLiteral("Foe_A"));
        watcher.PollCycle(fields());
        QCOMPARE(watcher.loadedWatchList(), QStringList{"Frd_b"});
    }
};

QTEST_GUILESS_MAIN(PollCycleTest)
#include "tst_pollcycle.moc"
