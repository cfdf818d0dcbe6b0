#include "watch/PlayerSource.h"

#include "platform/UdpClient.h"
#include "watch/AdminPageFetcher.h"
#include "watch/GameSpyQuery.h"

namespace kelvoran::watch {

namespace {

class WebAdminSource final : public PlayerSource
{
public:
    explicit WebAdminSource(const ServerConfig &server) : m_server(server) {}
    FetchedPage read() override { return fetchCurrentPlayers(m_http, m_server); }
    void abort() override { m_http.abort(); }

private:
    platform::CurlHttpClient m_http;
    ServerConfig m_server;
};

class PublicSource final : public PlayerSource
{
public:
    explicit PublicSource(const ServerConfig &server) : m_server(server) {}
    FetchedPage read() override
    {
        const QString port = queryPortFor(m_server.port, m_server.queryPort);
        if (port.isEmpty())
            return {{}, {Failure::Other, 0, false, QStringLiteral("no valid port")}, {}, {}};
        return answerOf(queryPublicServer(m_udp, m_server.address, port.toUShort()));
    }
    void abort() override { m_udp.abort(); }

private:
    using Failure = platform::FetchResult::Failure;
    // The query's outcome in the terms of a download: a whole answer counts as a page read in
    // full, with status 200.
    static FetchedPage answerOf(const QueryResult &r)
    {
        FetchedPage page{{}, {}, r.hostname, r.mapName};
        switch (r.status) {
        case QueryResult::Status::Whole:
            page.fetch = {Failure::None, 200, true, {}};
            page.table.emplace();
            for (const QString &name : r.players)
                page.table->append({name, QString()});
            break;
        case QueryResult::Status::NoAnswer:
            page.fetch = {Failure::Other, 0, false, QStringLiteral("no answer")};
            break;
        case QueryResult::Status::Incomplete:
            page.fetch = {Failure::Other, 0, true, QStringLiteral("the answer was incomplete")};
            break;
        case QueryResult::Status::HostNotFound:
            page.fetch = {Failure::HostNotFound, 0, false, r.detail};
            break;
        case QueryResult::Status::Aborted:
            page.fetch = {Failure::Aborted, 0, false, r.detail};
            break;
        case QueryResult::Status::Failed:
            page.fetch = {Failure::Other, 0, false, r.detail};
            break;
        }
        return page;
    }

    platform::SocketUdpClient m_udp;
    ServerConfig m_server;
};

} // namespace

FetchedPage fetchCurrentPlayers(platform::HttpClient &http, const ServerConfig &server)
{
    FetchedPage fetched;
    fetched.table = PlayerTableParser(AdminPageFetcher(
        http, server.adminName, server.password, server.address, server.port, &fetched.fetch));
    return fetched;
}

std::unique_ptr<PlayerSource> makePlayerSource(const ServerConfig &server)
{
    if (server.kind == ServerConfig::Kind::Public)
        return std::make_unique<PublicSource>(server);
    return std::make_unique<WebAdminSource>(server);
}

} // namespace kelvoran::watch
