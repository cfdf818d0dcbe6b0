#pragma once
// Stand-ins for the window's dialogs and page download: dialogs answered from a script given in
// advance, and a download that serves a fixed page and can be held until the test lets it go.
#include "app/Dialogs.h"
#include "platform/HttpClient.h"

#include <QStringList>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace kelvoran::test {

class ScriptedDialogs final : public app::Dialogs
{
public:
    // The next answers of input boxes, file dialogs ("": Cancel) and questions ("yes").
    QStringList answers;
    QStringList shown; // message texts, prompts, questions and "initDir|filters" of file dialogs
    std::function<void()> onMessage; // runs while a message box would be open
    void message(QWidget *, const QString &text) override
    {
        shown << text;
        if (onMessage)
            onMessage();
    }
    void warning(QWidget *, const QString &text) override { shown << text; }
    QString inputBox(QWidget *, const QString &prompt) override { return answer(prompt); }
    QString openFile(QWidget *, const app::FileDialog &d) override
    {
        return answer(d.initDir + QLatin1Char('|') + d.filters.join(QLatin1Char(';')));
    }
    bool question(QWidget *, const QString &text) override { return answer(text) == u"yes"; }

private:
    QString answer(const QString &asked)
    {
        shown << asked;
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }
};

class HeldHttpClient final : public platform::HttpClient
{
public:
    QByteArray page;   // empty: the server cannot be reached
    bool held = false; // get() waits until release()
    platform::FetchResult get(const QString &url, const QString &, const QString &,
                              const ChunkSink &sink) override
    {
        std::unique_lock lock(m_mutex);
        m_urls << url;
        m_wake.wait(lock, [this] { return !held || m_aborted; });
        using Failure = platform::FetchResult::Failure;
        const bool opened = !m_aborted && !page.isEmpty();
        if (opened)
            sink(page);
        const platform::FetchResult result{opened      ? Failure::None
                                           : m_aborted ? Failure::Aborted
                                                       : Failure::Refused,
                                           opened ? 200 : 0,
                                           opened,
                                           {}};
        return result;
    }
    void abort() override { release(true); }
    void release(bool abort = false)
    {
        std::lock_guard lock(m_mutex);
        held = false;
        m_aborted = m_aborted || abort;
        m_wake.notify_all();
    }
    int requests()
    {
        std::lock_guard lock(m_mutex);
        return int(m_urls.size());
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    QStringList m_urls;
    bool m_aborted = false;
};

} // namespace kelvoran::test
