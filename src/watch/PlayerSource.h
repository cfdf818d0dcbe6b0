#pragma once
// Where one poll learns who is on a server: the web admin's page, or a public server's answer to
// the game's status query. Reading is blocking and bounded; it runs off the GUI thread.
#include "platform/HttpClient.h"
#include "watch/PlayerTableParser.h"
#include "watch/ServerConfig.h"

#include <functional>
#include <memory>

namespace kelvoran::watch {

// The players a poll found, and how the reading ended.
struct FetchedPage
{
    PlayerTable table;
    platform::FetchResult fetch;
    QString hostname; // what a public server calls itself, and its map; "" for the web admin
    QString mapName;
};

// Whether the server was read: it answered, in full, with status 200. (A public server's whole
// answer counts as status 200.)
inline bool serverRead(const platform::FetchResult &fetch)
{
    return fetch.opened && fetch.failure == platform::FetchResult::Failure::None &&
           fetch.httpStatus == 200;
}

class PlayerSource
{
public:
    virtual ~PlayerSource() = default;
    // Reads who is on line now. Blocking, bounded by the transport's time limits.
    virtual FetchedPage read() = 0;
    // Ends the reading in progress at once, from any thread; read() then returns soon.
    virtual void abort() = 0;
};

// A source for one reading of the server; each poll gets its own, so dropping one poll aborts
// nothing else.
using SourceFactory = std::function<std::unique_ptr<PlayerSource>(const ServerConfig &)>;

// The current players page of the web admin, cut into rows.
FetchedPage fetchCurrentPlayers(platform::HttpClient &http, const ServerConfig &server);

// The real sources: the web admin over libcurl, a public server over the game's query port.
std::unique_ptr<PlayerSource> makePlayerSource(const ServerConfig &server);

} // namespace kelvoran::watch
