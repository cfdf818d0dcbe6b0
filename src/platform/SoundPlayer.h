#pragma once
#include <QString>

namespace kelvoran::platform {

// Plays one WAV file to its end and returns only then. Anything that cannot be played (an empty
// path, a missing, unreadable or non-WAV file, no sound server) gives silence at once.
class SoundPlayer
{
public:
    virtual ~SoundPlayer() = default;
    virtual void playSync(const QString &path) = 0;
};

// The real player: libsndfile decodes, the PulseAudio simple API plays.
class PulseSoundPlayer final : public SoundPlayer
{
public:
    void playSync(const QString &path) override;
};

} // namespace kelvoran::platform
