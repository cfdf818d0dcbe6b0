#pragma once
// Stand-ins for the servers' readings: each reading waits until the test answers it or it is
// aborted, and the answers are written as short texts.
#include "watch/PlayerSource.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

namespace kelvoran::test {

// "Bob/10.1,Ann/10.2" the players on a page read in full ("" a table without rows), "-" a page
// read in full without a table (an empty server), "401" the login refused, "404", "refused" no
// connection, "nohost", "timeout", "broke:Bob/10.1" a transfer that broke off after those rows,
// "lost" a public server's answer that did not come, "host=Name:Map|Bob" a public server's whole
// answer, "aborted" a reading aborted.
inline watch::FetchedPage page(const QString &text)
{
    using Failure = platform::FetchResult::Failure;
    watch::FetchedPage p{watch::PlayerTable(), {Failure::None, 200, true, {}}, {}, {}};
    QString rows = text;
    if (text.startsWith("host=")) {
        p.hostname = text.section('|', 0, 0).mid(5).section(':', 0, 0);
        p.mapName = text.section('|', 0, 0).section(':', 1);
        rows = text.section('|', 1);
    }
    const QStringList failures{"401", "404", "refused", "nohost", "timeout", "lost", "aborted"};
    if (const qsizetype f = failures.indexOf(text); f >= 0) {
        p.fetch = QList<platform::FetchResult>{
            {Failure::None, 401, true, {}},    {Failure::None, 404, true, {}},
            {Failure::Refused, 0, false, {}},  {Failure::HostNotFound, 0, false, {}},
            {Failure::TimedOut, 0, false, {}}, {Failure::Other, 0, false, "no answer"},
            {Failure::Aborted, 0, false, {}}}[f];
        return p;
    }
    if (text.startsWith("broke:")) {
        p.fetch.failure = Failure::BrokeOff;
        rows = text.mid(6);
    }
    if (rows == "-")
        return p;
    p.table.emplace();
    for (const QString &row : rows.split(',', Qt::SkipEmptyParts))
        p.table->append({row.section('/', 0, 0), row.section('/', 1)});
    return p;
}

// Each reading waits until the test answers it, or until it is aborted (unless `abortEnds` is
// off: then the answer still comes, as one that was on its way already).
class FakeSources
{
public:
    watch::SourceFactory factory()
    {
        return [s = m_s](const watch::ServerConfig &server) {
            return std::make_unique<Source>(s, server);
        };
    }
    void setAbortEnds(bool ends)
    {
        locked([&] { m_s->abortEnds = ends; });
    }
    // Answers the oldest reading waiting (to the server at `address` when one is named); false
    // when none waits.
    bool answer(const QString &text, const QString &address = {})
    {
        return locked([&] {
            for (Source *r : m_s->waiting) {
                if (r->waits() && (address.isEmpty() || address == r->server.address))
                    return bool(r->answer = page(text));
            }
            return false;
        });
    }
    int waiting()
    {
        return locked([&] {
            return int(std::count_if(m_s->waiting.cbegin(), m_s->waiting.cend(),
                                     [](Source *r) { return r->waits(); }));
        });
    }
    // Where each reading went: "address:port as login", in order.
    QStringList asked()
    {
        return locked([&] { return m_s->asked; });
    }

private:
    struct Source;
    struct Shared
    {
        std::mutex mutex;
        std::condition_variable wake;
        std::deque<Source *> waiting;
        QStringList asked;
        bool abortEnds = true;
    };
    struct Source final : watch::PlayerSource
    {
        Source(std::shared_ptr<Shared> s, const watch::ServerConfig &server)
            : s(std::move(s)), server(server)
        {
        }
        bool waits() const { return !answer && !(aborted && s->abortEnds); }
        watch::FetchedPage read() override
        {
            std::unique_lock lock(s->mutex);
            s->asked << server.hostPort() + " as " + server.adminName;
            s->waiting.push_back(this);
            s->wake.wait(lock, [this] { return !waits(); });
            std::erase(s->waiting, this);
            return answer ? *answer : page("aborted");
        }
        void abort() override
        {
            std::lock_guard lock(s->mutex);
            aborted = true;
            s->wake.notify_all();
        }
        std::shared_ptr<Shared> s;
        watch::ServerConfig server;
        std::optional<watch::FetchedPage> answer;
        bool aborted = false;
    };
    template <typename F> std::invoke_result_t<F> locked(F f)
    {
        std::lock_guard lock(m_s->mutex);
        m_s->wake.notify_all();
        return f();
    }
    std::shared_ptr<Shared> m_s = std::make_shared<Shared>();
};

} // namespace kelvoran::test
