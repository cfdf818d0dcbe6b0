#pragma once
#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace kelvoran::platform {

// Plays WAV files one after the other, in the order asked, never two at once. play() returns at
// once. Anything that cannot be played (an empty path, a missing, unreadable or non-WAV file, a
// path that is not a regular file, no sound server) gives silence and no message.
class SoundPlayer
{
public:
    virtual ~SoundPlayer() = default;
    virtual void play(const QString &path) = 0;
};

// The real player: libsndfile decodes, PulseAudio plays, on a worker thread of its own. Destroying
// it stops the sound playing now and drops the rest of the queue, even when the sound server hangs.
class PulseSoundPlayer final : public SoundPlayer
{
public:
    PulseSoundPlayer();
    ~PulseSoundPlayer() override;
    void play(const QString &path) override;

    // Plays one file to its end and returns only then, or as soon as `stop` becomes true.
    static void playToEnd(const QString &path, const std::atomic<bool> &stop);

private:
    void run();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<QString> m_queue;
    std::atomic<bool> m_stop{false};
    std::thread m_worker;
};

} // namespace kelvoran::platform
