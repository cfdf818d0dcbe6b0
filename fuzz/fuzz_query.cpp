// The status query's answers put together as an exchange does it: the input is cut into
// datagrams at its first byte (so any byte can still stand inside a datagram), each datagram is
// added, and everything is read back. Besides crashes and hangs, checks what must hold for any
// datagrams from any server.
#include "watch/GameSpyQuery.h"

#include <cstdint>
#include <cstdlib>

using kelvoran::watch::QueryAnswer;

namespace {

struct Seen
{
    QStringList players;
    QString hostname, mapName;
    bool came = false, one = false, two = false;

    explicit Seen(const QueryAnswer &answer)
        : players(answer.players()), hostname(answer.hostname()), mapName(answer.mapName()),
          came(answer.anyCame()), one(answer.whole(1)), two(answer.whole(2))
    {
    }
    friend bool operator==(const Seen &, const Seen &) = default;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const char separator = char(data[0]);
    const QByteArrayView input(reinterpret_cast<const char *>(data) + 1, qsizetype(size) - 1);
    QList<QByteArrayView> datagrams;
    for (qsizetype at = 0; at <= input.size();) {
        qsizetype end = input.indexOf(separator, at);
        if (end < 0)
            end = input.size();
        datagrams.append(input.sliced(at, end - at));
        at = end + 1;
    }

    QueryAnswer answer;
    for (const QByteArrayView datagram : datagrams)
        answer.add(datagram);
    const Seen seen(answer);

    // The caps hold, whatever came.
    if (seen.players.size() > QueryAnswer::kMaxPlayers ||
        seen.players.size() > input.count("\\player_") ||
        seen.hostname.size() > QueryAnswer::kMaxValue ||
        seen.mapName.size() > QueryAnswer::kMaxValue)
        std::abort();
    for (const QString &name : seen.players) {
        if (name.size() > QueryAnswer::kMaxValue)
            std::abort();
    }
    // Whole answers are answers, each ended by a final datagram.
    if ((seen.two && !seen.one) || (seen.one && !seen.came) ||
        (seen.one && !input.contains("\\final")))
        std::abort();
    // What came once changes nothing when it comes again: repeats are dropped, and what the caps
    // turned away stays turned away.
    for (const QByteArrayView datagram : datagrams)
        answer.add(datagram);
    if (!(Seen(answer) == seen))
        std::abort();
    return 0;
}
