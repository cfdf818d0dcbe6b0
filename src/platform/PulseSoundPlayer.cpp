#include "platform/Log.h"
#include "platform/SoundPlayer.h"

#include <QFile>

#include <pulse/channelmap.h>
#include <pulse/error.h>
#include <pulse/simple.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <memory>
#include <vector>

namespace kelvoran::platform {
namespace {

constexpr int kMaxChannels = 8;
constexpr int kMaxRate = 384000;
// About 0.1 s of sound at 44.1 kHz: how long a stop may take to be noticed.
constexpr sf_count_t kFramesPerBlock = 4096;

struct SndFileCloser
{
    void operator()(SNDFILE *f) const { sf_close(f); }
};
struct PulseCloser
{
    void operator()(pa_simple *s) const { pa_simple_free(s); }
};

bool isWavFamily(int format)
{
    const int container = format & SF_FORMAT_TYPEMASK;
    return container == SF_FORMAT_WAV || container == SF_FORMAT_WAVEX ||
           container == SF_FORMAT_RF64;
}

} // namespace

void PulseSoundPlayer::playToEnd(const QString &path, const std::atomic<bool> &stop)
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

    int error = 0;
    std::unique_ptr<pa_simple, PulseCloser> stream(
        pa_simple_new(nullptr, "Kelvoran", PA_STREAM_PLAYBACK, nullptr, "Kelvoran", &sampleSpec,
                      mapPtr, nullptr, &error));
    if (!stream) {
        qCWarning(lcKelvoran).noquote()
            << "Cannot play" << path << "- no sound server:" << pa_strerror(error);
        return;
    }

    const size_t bytesPerFrame = sizeof(short) * size_t(info.channels);
    while (frames > 0) {
        if (stop) {
            pa_simple_flush(stream.get(), &error);
            return;
        }
        if (pa_simple_write(stream.get(), block.data(), size_t(frames) * bytesPerFrame, &error) <
            0) {
            qCWarning(lcKelvoran).noquote()
                << "Playing" << path << "stopped -" << pa_strerror(error);
            return;
        }
        // A file cut short simply ends early: whatever decoded is played.
        frames = sf_readf_short(file.get(), block.data(), kFramesPerBlock);
    }
    if (pa_simple_drain(stream.get(), &error) < 0)
        qCWarning(lcKelvoran).noquote()
            << "Playing" << path << "did not finish -" << pa_strerror(error);
}

PulseSoundPlayer::PulseSoundPlayer() : m_worker([this] { run(); }) {}

PulseSoundPlayer::~PulseSoundPlayer()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
        m_queue.clear();
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
        playToEnd(path, m_stop);
    }
}

} // namespace kelvoran::platform
