#pragma once
// Stand-ins for the window's dialogs and page download: dialogs answered from a script given in
// advance, and a download that serves a fixed page and can be held until the test lets it go.
#include "app/Dialogs.h"
#include "platform/HttpClient.h"

#include <QStringList>
#include <condition_variable>
#include <mutex>

namespace kelvoran::test {

class ScriptedDialogs final : public app::Dialogs
{
public:
    void message(QWidget *, const QString &text) override { shown << text; }
    void warning(QWidget *, const QString &text) override { shown << text; }
    QString inputBox(QWidget *, const QString &prompt) override
    {
        shown << prompt;
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }
    QString openFile(QWidget *, const app::FileDialog &dialog) override
    {
        shown << dialog.initDir + QLatin1Char('|') + dialog.filters.join(QLatin1Char(';'));
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }

    QStringList answers; // the next input box or file dialog answers; "" is Cancel
    QStringList shown;   // message texts, prompts and "initDir|filters" of file dialogs
};

class HeldHttpClient final : public platform::HttpClient
{
public:
    bool get(const QString &url, const QString &, const QString &,
             const ChunkSink &onChunk) override
    {
        std::unique_lock lock(m_mutex);
        urls << url;
        m_wake.wait(lock, [this] { return !held || aborted; });
        if (aborted || !opened)
            return false;
        onChunk(page);
        return true;
    }
    void abort() override { release(true); }
    void release(bool abort = false)
    {
        {
            std::lock_guard lock(m_mutex);
            held = false;
            aborted = aborted || abort;
        }
        m_wake.notify_all();
    }
    void reset()
    {
        std::lock_guard lock(m_mutex);
        page.clear();
        urls.clear();
        opened = true;
        held = aborted = false;
    }
    int requests()
    {
        std::lock_guard lock(m_mutex);
        return int(urls.size());
    }

    QByteArray page;
    bool opened = true; // false: the server cannot be reached
    bool held = false;  // get() waits until release()

private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    QStringList urls;
    bool aborted = false;
};

} // namespace kelvoran::test
