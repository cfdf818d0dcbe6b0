#pragma once
// The game's UDP status query (the GameSpy protocol that server browsers speak), for servers
// watched without an admin login. `\players\` is answered with one datagram per player,
// `\info\` with one datagram; each answer carries its own query id Q and numbers its datagrams
// K = 1, 2, ... in `\queryid\Q.K`, the last one marked `\final\` (nobody on line: a single
// `\final\\queryid\Q.0`).
#include "platform/UdpClient.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QMap>
#include <QString>
#include <QStringList>
#include <bitset>

namespace kelvoran::watch {

// The answers of one exchange, put together again from datagrams that may come in any order,
// twice, or not at all. Takes any bytes: what is not an answer's datagram is ignored, and what
// one exchange may hold is capped, so a hostile server costs bounded memory.
class QueryAnswer
{
public:
    static constexpr int kMaxDatagrams = 256;         // datagrams kept (repeats not counted)
    static constexpr qsizetype kMaxBytes = 1 << 20;   // their bytes in all
    static constexpr int kMaxPacket = kMaxDatagrams;  // highest packet number K taken
    static constexpr int kMaxPlayers = kMaxDatagrams; // player numbers 0 .. kMaxPlayers - 1
    static constexpr qsizetype kMaxValue = 256;       // bytes kept of a name, host name or map

    void add(QByteArrayView datagram);
    // Whole when `queriesSent` answers are: each has its final datagram and every packet number
    // up to it.
    bool whole(int queriesSent) const { return m_wholeAnswers >= queriesSent; }
    // Some datagram of an answer came (garbage does not count).
    bool anyCame() const { return m_kept > 0; }
    QStringList players() const; // the names, in player-number order
    QString hostname() const;    // from the info answer, or ""
    QString mapName() const;     // the map's file name ("CTF-Face"), or ""

private:
    struct Answer
    {
        std::bitset<kMaxPacket + 1> packets; // the packet numbers that came
        int last = -1;                       // the final datagram's number, -1 until it comes
        bool whole = false;
    };
    QMap<quint32, Answer> m_answers;  // by query id
    QMap<int, QByteArray> m_names;    // by player number, as sent (Windows-1252)
    QByteArray m_hostname, m_mapName; // as sent
    int m_kept = 0, m_wholeAnswers = 0;
    qsizetype m_bytes = 0;
};

struct QueryResult
{
    enum class Status { Whole, NoAnswer, Incomplete, HostNotFound, Aborted, Failed };
    Status status = Status::NoAnswer;
    QStringList players;       // names, in player-number order (only when Whole)
    QString hostname, mapName; // from the info answer whenever it came
    QString detail;            // why, for the log
};

// Asks the query port for the players and the server's name and map (two queries in one
// exchange) and waits at most `timeoutMs` for both answers to be whole.
QueryResult queryPublicServer(platform::UdpClient &udp, const QString &host, quint16 queryPort,
                              int timeoutMs = 5000);

// The query port of a server: the field when it holds a port (1 to 65535), else the game port
// + 1 (the game binds the next port after its own); "" when neither gives one.
QString queryPortFor(const QString &gamePort, const QString &queryPortField);

} // namespace kelvoran::watch
