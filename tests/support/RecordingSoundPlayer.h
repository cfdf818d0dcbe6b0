#pragma once
// A sound layer that plays nothing and remembers what it was asked to play, in order.
#include "platform/SoundPlayer.h"

#include <QStringList>
#include <functional>

namespace kelvoran::test {

class RecordingSoundPlayer final : public platform::SoundPlayer
{
public:
    void playSync(const QString &path) override
    {
        played << path;
        if (onPlay)
            onPlay(path);
    }

    QStringList played;
    // Runs while the "sound" plays, so a test can look at the store at that moment.
    std::function<void(const QString &)> onPlay;
};

} // namespace kelvoran::test
