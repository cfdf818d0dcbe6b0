#include "watch/GameSpyQuery.h"

#include "platform/Log.h"
#include "platform/Windows1252.h"

#include <algorithm>
#include <optional>

namespace kelvoran::watch {

namespace {

// The game counts query ids from 1 to 100; anything with more digits than this is not one.
constexpr quint32 kMaxQueryId = 999999;

// A decimal number of digits only, at most `max`.
std::optional<quint32> number(QByteArrayView digits, quint32 max)
{
    if (digits.isEmpty())
        return std::nullopt;
    quint32 value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + quint32(c - '0'); // cannot wrap: value <= max before this step
        if (value > max)
            return std::nullopt;
    }
    return value;
}

// Calls `take(key, value)` for each pair of a datagram "\key\value\key\value...". A value never
// holds a backslash. A key at the very end gets an empty value (a trailing "\final\", say).
template <typename Take> void forEachPair(QByteArrayView datagram, Take &&take)
{
    const qsizetype size = datagram.size();
    for (qsizetype at = 1; at < size;) {
        qsizetype keyEnd = datagram.indexOf('\\', at);
        if (keyEnd < 0)
            keyEnd = size;
        const qsizetype valueStart = std::min(keyEnd + 1, size);
        qsizetype valueEnd = datagram.indexOf('\\', valueStart);
        if (valueEnd < 0)
            valueEnd = size;
        take(datagram.sliced(at, keyEnd - at), datagram.sliced(valueStart, valueEnd - valueStart));
        at = valueEnd + 1;
    }
}

QByteArray capped(QByteArrayView value)
{
    return value.first(std::min(value.size(), QueryAnswer::kMaxValue)).toByteArray();
}

} // namespace

void QueryAnswer::add(QByteArrayView datagram)
{
    if (!datagram.startsWith('\\') || m_kept >= kMaxDatagrams ||
        datagram.size() > kMaxBytes - m_bytes)
        return;

    // Which answer the datagram belongs to, and where in it: "\queryid\Q.K", the game's last pair.
    std::optional<quint32> query, packet;
    bool final = false;
    forEachPair(datagram, [&](QByteArrayView key, QByteArrayView value) {
        if (key == "queryid") {
            const qsizetype dot = value.indexOf('.');
            query = dot < 0 ? std::nullopt : number(value.first(dot), kMaxQueryId);
            packet = dot < 0 ? std::nullopt : number(value.sliced(dot + 1), kMaxPacket);
        } else if (key == "final") {
            final = true;
        }
    });
    if (!query || !packet)
        return;
    Answer &answer = m_answers[*query];
    if (answer.packets.test(*packet))
        return; // a repeat
    answer.packets.set(*packet);
    ++m_kept;
    m_bytes += datagram.size();
    if (final && answer.last < 0)
        answer.last = int(*packet);

    forEachPair(datagram, [this](QByteArrayView key, QByteArrayView value) {
        if (key.startsWith("player_")) {
            if (const auto player = number(key.sliced(7), kMaxPlayers - 1))
                m_names[int(*player)] = capped(value);
        } else if (key == "hostname") {
            m_hostname = capped(value);
        } else if (key == "mapname") {
            m_mapName = capped(value);
        }
    });

    // An empty server's answer is its final datagram alone, numbered 0.
    if (!answer.whole && answer.last >= 0) {
        bool all = true;
        for (int k = 1; k <= answer.last && all; ++k)
            all = answer.packets.test(k);
        answer.whole = all;
        m_wholeAnswers += all ? 1 : 0;
    }
}

QStringList QueryAnswer::players() const
{
    QStringList names;
    names.reserve(m_names.size());
    for (const QByteArray &name : m_names)
        names.append(platform::fromWindows1252(name));
    return names;
}

QString QueryAnswer::hostname() const
{
    return platform::fromWindows1252(m_hostname);
}

QString QueryAnswer::mapName() const
{
    return platform::fromWindows1252(m_mapName);
}

QueryResult queryPublicServer(platform::UdpClient &udp, const QString &host, quint16 queryPort,
                              int timeoutMs)
{
    using Failure = platform::UdpClient::Result::Failure;
    using Status = QueryResult::Status;
    // Each query is a datagram of its own: the game answers each with its own query id.
    const QList<QByteArray> queries{QByteArrayLiteral("\\players\\"),
                                    QByteArrayLiteral("\\info\\")};
    const int asked = int(queries.size());
    QueryAnswer answer;
    const platform::UdpClient::Result sent = udp.exchange(
        host, queryPort, queries,
        [&answer, asked](QByteArrayView datagram) {
            answer.add(datagram);
            return !answer.whole(asked);
        },
        timeoutMs);

    QueryResult result;
    result.hostname = answer.hostname();
    result.mapName = answer.mapName();
    result.detail = sent.detail;
    switch (sent.failure) {
    case Failure::None:
        if (answer.whole(asked)) {
            result.status = Status::Whole;
            result.players = answer.players();
            return result;
        }
        result.status = answer.anyCame() ? Status::Incomplete : Status::NoAnswer;
        result.detail = (answer.anyCame() ? QStringLiteral("the answer was incomplete after %1 ms")
                                          : QStringLiteral("no answer within %1 ms"))
                            .arg(timeoutMs);
        break;
    case Failure::HostNotFound:
        result.status = Status::HostNotFound;
        break;
    case Failure::Aborted:
        result.status = Status::Aborted;
        result.detail = QStringLiteral("abandoned");
        break;
    case Failure::Other:
        result.status = Status::Failed;
        break;
    }
    const QString where = host + u':' + QString::number(queryPort);
    if (result.status == Status::Aborted)
        qCInfo(lcKelvoran).noquote() << "status query of" << where << "abandoned";
    else
        qCWarning(lcKelvoran).noquote() << "status query of" << where << "failed:" << result.detail;
    return result;
}

QString queryPortFor(const QString &gamePort, const QString &queryPortField)
{
    const auto port = [](const QString &text) {
        bool ok = false;
        const uint value = text.toUInt(&ok);
        return ok && value <= 65535 ? int(value) : 0;
    };
    if (const int field = port(queryPortField))
        return QString::number(field);
    const int game = port(gamePort);
    return game > 0 && game < 65535 ? QString::number(game + 1) : QString();
}

} // namespace kelvoran::watch
