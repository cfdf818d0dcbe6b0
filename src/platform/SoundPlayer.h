#pragma once
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

struct pa_mainloop; // libpulse's

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
// A sound that takes longer than its length and a margin (connecting included) is dropped, said
// on standard error, and the next one plays.
class PulseSoundPlayer final : public SoundPlayer
{
public:
    static constexpr std::chrono::milliseconds kMargin{5000};

    PulseSoundPlayer();
    ~PulseSoundPlayer() override;
    void play(const QString &path) override;

    // Plays one file to its end and returns only then, or when the sound's length and `margin` have
    // passed, or when `stop` is seen true. It is looked at before each wait in the sound server's
    // main loop; only the player's own destructor also wakes a wait.
    static void playToEnd(const QString &path, const std::atomic<bool> &stop,
                          std::chrono::milliseconds margin = kMargin);

private:
    // The same; the main loop of the sound playing is kept in `owner`, if any, for a stop to wake.
    static void playOne(const QString &path, const std::atomic<bool> &stop,
                        std::chrono::milliseconds margin, PulseSoundPlayer *owner);
    void run();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<QString> m_queue;
    std::atomic<bool> m_stop{false};
    pa_mainloop *m_loop = nullptr; // of the sound playing now; under m_mutex
    std::thread m_worker;
};

} // namespace kelvoran::platform
