#include "watch/PlayerSource.h"

#include "watch/AdminPageFetcher.h"

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
    return std::make_unique<WebAdminSource>(server);
}

} // namespace kelvoran::watch
