#pragma once
// Sound and notification layers that play and show nothing and remember, in order, each request.
#include "platform/Notifier.h"
#include "platform/SoundPlayer.h"

#include <QStringList>
#include <functional>

namespace kelvoran::test {

struct RecordingSoundPlayer final : platform::SoundPlayer
{
    void play(const QString &path) override
    {
        played << path;
        if (onPlay) // lets a test look at the store at the moment a sound is asked for
            onPlay();
    }
    QStringList played;
    std::function<void()> onPlay;
};

struct RecordingNotifier final : platform::Notifier
{
    void notify(const QString &summary, const QString &b) override { shown << summary + u'/' + b; }
    QStringList shown; // "summary/body"
};

} // namespace kelvoran::test
