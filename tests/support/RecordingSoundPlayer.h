#pragma once
// Sound and notification layers that play and show nothing and remember what they were asked
// for, in order.
#include "platform/Notifier.h"
#include "platform/SoundPlayer.h"

#include <QStringList>
#include <functional>

namespace kelvoran::test {

class RecordingSoundPlayer final : public platform::SoundPlayer
{
public:
    void play(const QString &path) override
    {
        played << path;
        if (onPlay)
            onPlay(path);
    }

    QStringList played;
    // Runs when the sound is asked for, so a test can look at the store at that moment.
    std::function<void(const QString &)> onPlay;
};

class RecordingNotifier final : public platform::Notifier
{
public:
    void notify(const QString &summary, const QString &body) override
    {
        shown << summary + QLatin1Char('/') + body;
    }

    QStringList shown; // "summary/body"
};

} // namespace kelvoran::test
