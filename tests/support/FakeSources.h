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
// read in full without a table (an empty server), "401" the login refused, "refused" no
// connection, "broke:Bob/10.1" a transfer that broke off after those rows, "lost" a public
// server's answer that did not come, "host=Name:Map|Bob" a public server's whole answer.
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
    if (text == "401" || text == "refused" || text == "lost") {
        p.fetch = text == "401" ? platform::FetchResult{Failure::None, 401, true, {}}
                  : text == "refused"
                      ? platform::FetchResult{Failure::Refused, 0, false, {}}
                      : platform::FetchResult{Failure::Other, 0, false, "no answer"};
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

class FakeSources
{
public:
    watch::SourceFactory factory()
    {
        return [s = m_shared](const watch::ServerConfig &server) {
            return std::make_unique<Source>(s, server);
        };
    }
    // Whether an abort ends a reading (true) or the answer still comes, as when it was on its
    // way already.
    void setAbortEnds(bool ends)
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->abortEnds = ends;
        m_shared->wake.notify_all();
    }
    // Answers the oldest reading still waiting (for the server at `address` when one is named);
    // false when none waits.
    bool answer(const QString &text, const QString &address = {})
    {
        std::lock_guard lock(m_shared->mutex);
        for (Reading *r : m_shared->waiting) {
            if (!r->answer && !(r->aborted && m_shared->abortEnds) &&
                (address.isEmpty() || address == r->address)) {
                r->answer = page(text);
                m_shared->wake.notify_all();
                return true;
            }
        }
        return false;
    }
    // Readings asked for and not answered or aborted yet.
    int waiting()
    {
        std::lock_guard lock(m_shared->mutex);
        return int(
            std::count_if(m_shared->waiting.cbegin(), m_shared->waiting.cend(), [this](Reading *r) {
                return !r->answer && !(r->aborted && m_shared->abortEnds);
            }));
    }
    // Where each reading went, "address:port" (with " as admin" for the login), in order.
    QStringList asked()
    {
        std::lock_guard lock(m_shared->mutex);
        return m_shared->asked;
    }

private:
    struct Reading
    {
        QString address;
        std::optional<watch::FetchedPage> answer;
        bool aborted = false;
    };
    struct Shared
    {
        std::mutex mutex;
        std::condition_variable wake;
        std::deque<Reading *> waiting;
        QStringList asked;
        bool abortEnds = true;
    };
    class Source final : public watch::PlayerSource
    {
    public:
        Source(std::shared_ptr<Shared> s, const watch::ServerConfig &server)
            : m_s(std::move(s)), m_server(server)
        {
            m_reading.address = server.address;
        }
        watch::FetchedPage read() override
        {
            std::unique_lock lock(m_s->mutex);
            m_s->asked << m_server.hostPort() + " as " + m_server.adminName;
            m_s->waiting.push_back(&m_reading);
            m_s->wake.wait(
                lock, [this] { return m_reading.answer || (m_reading.aborted && m_s->abortEnds); });
            std::erase(m_s->waiting, &m_reading);
            if (m_reading.answer)
                return *m_reading.answer;
            return {{}, {platform::FetchResult::Failure::Aborted, 0, false, {}}, {}, {}};
        }
        void abort() override
        {
            std::lock_guard lock(m_s->mutex);
            m_reading.aborted = true;
            m_s->wake.notify_all();
        }

    private:
        std::shared_ptr<Shared> m_s;
        watch::ServerConfig m_server;
        Reading m_reading;
    };
    std::shared_ptr<Shared> m_shared = std::make_shared<Shared>();
};

} // namespace kelvoran::test
