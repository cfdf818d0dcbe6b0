#include "platform/Log.h"
#include "platform/SoundPlayer.h"

#include <QFile>

#include <pulse/channelmap.h>
#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/mainloop.h>
#include <pulse/stream.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <vector>

namespace kelvoran::platform {
namespace {

constexpr int kMaxChannels = 8;
constexpr int kMaxRate = 384000;
// Decoded at a time: about 0.1 s of sound at 44.1 kHz.
constexpr sf_count_t kFramesPerBlock = 4096;

struct SndFileCloser
{
    void operator()(SNDFILE *f) const { sf_close(f); }
};
struct OperationUnref
{
    void operator()(pa_operation *o) const { pa_operation_unref(o); }
};

bool isWavFamily(int format)
{
    const int container = format & SF_FORMAT_TYPEMASK;
    return container == SF_FORMAT_WAV || container == SF_FORMAT_WAVEX ||
           container == SF_FORMAT_RF64;
}

// A sound's length in milliseconds, rounded up; more than a day counts as a day.
std::chrono::milliseconds lengthOf(const SF_INFO &info)
{
    const sf_count_t frames = std::clamp<sf_count_t>(info.frames, 0, info.samplerate * 86400LL);
    return std::chrono::milliseconds((frames * 1000 + info.samplerate - 1) / info.samplerate);
}

// How far a connection, a stream or a request has come: -1 failed, 0 on its way, 1 there.
int progress(pa_context_state_t s)
{
    return s == PA_CONTEXT_READY ? 1 : PA_CONTEXT_IS_GOOD(s) - 1;
}
int progress(pa_stream_state_t s)
{
    return s == PA_STREAM_READY ? 1 : PA_STREAM_IS_GOOD(s) - 1;
}
int progress(pa_operation_state_t s)
{
    return s == PA_OPERATION_DONE ? 1 : s == PA_OPERATION_RUNNING ? 0 : -1;
}

// One sound's connection to the sound server. The playing thread runs the connection's main
// loop itself: each step sleeps in the loop's poll until the server has something for it, the
// sound's deadline comes or a stop wakes the loop, and the stop flag is looked at before every
// step. So a stop is seen at once even while the server does not answer at all, and a server that
// hangs costs no wake-ups. Disconnecting ends the sound on the server, so nothing is waited for on
// the way out.
struct Connection
{
    using Clock = std::chrono::steady_clock;

    pa_mainloop *loop = pa_mainloop_new();
    pa_context *context = loop ? pa_context_new(pa_mainloop_get_api(loop), "Kelvoran") : nullptr;
    pa_stream *stream = nullptr;
    const Clock::time_point deadline;
    bool late = false; // the deadline came first
    std::mutex *const mutex;
    pa_mainloop **const current;

    // `*current`, under `mutex`, names the loop for as long as it exists (none without `current`).
    Connection(Clock::time_point deadline, std::mutex *mutex, pa_mainloop **current)
        : deadline(deadline), mutex(mutex), current(current)
    {
        if (current) {
            std::lock_guard lock(*mutex);
            *current = loop;
        }
    }
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;
    ~Connection()
    {
        if (current) {
            std::lock_guard lock(*mutex);
            *current = nullptr;
        }
        if (stream) {
            pa_stream_disconnect(stream);
            pa_stream_unref(stream);
        }
        if (context) {
            pa_context_disconnect(context);
            pa_context_unref(context);
        }
        if (loop)
            pa_mainloop_free(loop);
    }
    // False when stopped, past the deadline, or when the loop broke down.
    bool step(const std::atomic<bool> &stop)
    {
        if (stop)
            return false;
        const auto left =
            std::chrono::ceil<std::chrono::microseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            late = true;
            return false;
        }
        return pa_mainloop_prepare(loop, int(std::min<decltype(left)>(left, INT_MAX))) >= 0 &&
               pa_mainloop_poll(loop) >= 0 && pa_mainloop_dispatch(loop) >= 0;
    }
    // Steps until `state()` is there; false when it fails on the way or `stop` comes first.
    template <typename State> bool waitFor(const std::atomic<bool> &stop, State state)
    {
        int now;
        while ((now = progress(state())) == 0)
            if (!step(stop))
                return false;
        return now > 0;
    }
    const char *error() const { return pa_strerror(pa_context_errno(context)); }
};

} // namespace

void PulseSoundPlayer::playToEnd(const QString &path, const std::atomic<bool> &stop,
                                 std::chrono::milliseconds margin)
{
    playOne(path, stop, margin, nullptr);
}

void PulseSoundPlayer::playOne(const QString &path, const std::atomic<bool> &stop,
                               std::chrono::milliseconds margin, PulseSoundPlayer *owner)
{
    if (path.isEmpty()) {
        qCWarning(lcKelvoran) << "No sound file named; nothing played";
        return;
    }
    // A FIFO or a device would block the reader for as long as nobody writes into it.
    const QByteArray native = QFile::encodeName(path);
    struct stat st;
    if (::stat(native.constData(), &st) != 0 || !S_ISREG(st.st_mode)) {
        qCWarning(lcKelvoran).noquote() << "Cannot play" << path << "- not a regular file";
        return;
    }
    SF_INFO info{};
    std::unique_ptr<SNDFILE, SndFileCloser> file(sf_open(native.constData(), SFM_READ, &info));
    if (!file) {
        qCWarning(lcKelvoran).noquote()
            << "Cannot play" << path << "-" << QString::fromLocal8Bit(sf_strerror(nullptr));
        return;
    }
    if (!isWavFamily(info.format) || info.channels < 1 || info.channels > kMaxChannels ||
        info.samplerate < 1 || info.samplerate > kMaxRate) {
        qCWarning(lcKelvoran).noquote() << "Cannot play" << path << "- not a WAV file we can play";
        return;
    }

    std::vector<short> block(size_t(kFramesPerBlock) * size_t(info.channels));
    sf_count_t frames = sf_readf_short(file.get(), block.data(), kFramesPerBlock);
    if (frames <= 0)
        return; // a header without sound data: nothing to hear

    pa_sample_spec sampleSpec{};
    sampleSpec.format = PA_SAMPLE_S16NE; // what sf_readf_short delivers
    sampleSpec.rate = uint32_t(info.samplerate);
    sampleSpec.channels = uint8_t(info.channels);
    // Multi-channel WAV files keep their channels in the WAVE_FORMAT_EXTENSIBLE order.
    pa_channel_map map;
    const pa_channel_map *mapPtr =
        pa_channel_map_init_extend(&map, sampleSpec.channels, PA_CHANNEL_MAP_WAVEEX);

    // The time the sound may take from here on, connecting included.
    const std::chrono::milliseconds limit = lengthOf(info) + margin;
    Connection pulse(Connection::Clock::now() + limit, owner ? &owner->m_mutex : nullptr,
                     owner ? &owner->m_loop : nullptr);
    const auto failed = [&](const char *what) {
        if (pulse.late)
            qCWarning(lcKelvoran).noquote()
                << "Playing" << path << "dropped - took longer than"
                << QString::number(double(limit.count()) / 1000.0) << "s";
        else if (!stop)
            qCWarning(lcKelvoran).noquote() << "Playing" << path << what << pulse.error();
    };
    const auto flags = pa_stream_flags_t(PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_ADJUST_LATENCY |
                                         PA_STREAM_AUTO_TIMING_UPDATE);
    if (!pulse.context ||
        pa_context_connect(pulse.context, nullptr, PA_CONTEXT_NOFLAGS, nullptr) < 0 ||
        !pulse.waitFor(stop, [&] { return pa_context_get_state(pulse.context); }) ||
        !(pulse.stream = pa_stream_new(pulse.context, "Kelvoran", &sampleSpec, mapPtr)) ||
        pa_stream_connect_playback(pulse.stream, nullptr, nullptr, flags, nullptr, nullptr) < 0 ||
        !pulse.waitFor(stop, [&] { return pa_stream_get_state(pulse.stream); }))
        return failed("failed - no sound server:");

    // Each block goes out as the server makes room for it.
    const size_t bytesPerFrame = sizeof(short) * size_t(info.channels);
    while (frames > 0) {
        const char *data = reinterpret_cast<const char *>(block.data());
        for (size_t left = size_t(frames) * bytesPerFrame; left > 0;) {
            const size_t room = pa_stream_writable_size(pulse.stream);
            if (room == size_t(-1))
                return failed("stopped -");
            const size_t n = std::min(left, room - room % bytesPerFrame);
            if (n && pa_stream_write(pulse.stream, data, n, nullptr, 0, PA_SEEK_RELATIVE) < 0)
                return failed("stopped -");
            data += n;
            left -= n;
            if ((!n || stop) && !pulse.step(stop))
                return failed("stopped -");
        }
        // A file cut short simply ends early: whatever decoded is played.
        frames = sf_readf_short(file.get(), block.data(), kFramesPerBlock);
    }
    // The sound has ended when the server has played its last sample.
    const std::unique_ptr<pa_operation, OperationUnref> drain(
        pa_stream_drain(pulse.stream, nullptr, nullptr));
    if (!drain || !pulse.waitFor(stop, [&] { return pa_operation_get_state(drain.get()); }))
        failed("did not finish -");
}

PulseSoundPlayer::PulseSoundPlayer() : m_worker([this] { run(); }) {}

PulseSoundPlayer::~PulseSoundPlayer()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
        m_queue.clear();
        if (m_loop)
            pa_mainloop_wakeup(m_loop); // out of its wait, to see the stop
    }
    m_wake.notify_all();
    m_worker.join();
}

void PulseSoundPlayer::play(const QString &path)
{
    {
        std::lock_guard lock(m_mutex);
        m_queue.push_back(path);
    }
    m_wake.notify_one();
}

void PulseSoundPlayer::run()
{
    for (;;) {
        QString path;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stop || !m_queue.empty(); });
            if (m_stop)
                return;
            path = m_queue.front();
            m_queue.pop_front();
        }
        playOne(path, m_stop, kMargin, this);
    }
}

} // namespace kelvoran::platform
