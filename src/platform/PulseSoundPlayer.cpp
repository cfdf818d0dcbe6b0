#include "platform/Log.h"
#include "platform/RuntimeLibrary.h"
#include "platform/SoundPlayer.h"

#include <QFile>

#include <pulse/channelmap.h>
#include <pulse/error.h>
#include <pulse/simple.h>
#include <sndfile.h>

#include <memory>
#include <vector>

namespace kelvoran::platform {
namespace {

constexpr int kMaxChannels = 8;
constexpr int kMaxRate = 384000;
constexpr sf_count_t kFramesPerBlock = 4096;

// The libsndfile functions in use, from libsndfile.so.1 opened at the first sound.
struct SndfileApi
{
    decltype(&sf_open) open = nullptr;
    decltype(&sf_strerror) strerror = nullptr;
    decltype(&sf_readf_short) readf_short = nullptr;
    decltype(&sf_close) close = nullptr;
    QString error; // empty when usable
};

const SndfileApi &sndfile()
{
    static const SndfileApi api = [] {
        SndfileApi a;
        RuntimeLibrary library(QStringLiteral("sndfile"), 1);
        library.resolve("sf_open", a.open);
        library.resolve("sf_strerror", a.strerror);
        library.resolve("sf_readf_short", a.readf_short);
        library.resolve("sf_close", a.close);
        a.error = library.error();
        return a;
    }();
    return api;
}

// The PulseAudio functions in use: the simple API from libpulse-simple.so.0, and the error texts
// and channel maps from libpulse.so.0, which the simple API is built on.
struct PulseApi
{
    decltype(&pa_simple_new) simple_new = nullptr;
    decltype(&pa_simple_write) simple_write = nullptr;
    decltype(&pa_simple_drain) simple_drain = nullptr;
    decltype(&pa_simple_free) simple_free = nullptr;
    decltype(&pa_strerror) strerror = nullptr;
    decltype(&pa_channel_map_init_extend) channel_map_init_extend = nullptr;
    QString error; // empty when usable
};

const PulseApi &pulse()
{
    static const PulseApi api = [] {
        PulseApi a;
        RuntimeLibrary simple(QStringLiteral("pulse-simple"), 0);
        simple.resolve("pa_simple_new", a.simple_new);
        simple.resolve("pa_simple_write", a.simple_write);
        simple.resolve("pa_simple_drain", a.simple_drain);
        simple.resolve("pa_simple_free", a.simple_free);
        RuntimeLibrary core(QStringLiteral("pulse"), 0);
        core.resolve("pa_strerror", a.strerror);
        core.resolve("pa_channel_map_init_extend", a.channel_map_init_extend);
        a.error = !simple.isUsable() ? simple.error() : core.error();
        return a;
    }();
    return api;
}

struct SndFileCloser
{
    void operator()(SNDFILE *f) const { sndfile().close(f); }
};
struct PulseCloser
{
    void operator()(pa_simple *s) const { pulse().simple_free(s); }
};

bool isWavFamily(int format)
{
    const int container = format & SF_FORMAT_TYPEMASK;
    return container == SF_FORMAT_WAV || container == SF_FORMAT_WAVEX ||
           container == SF_FORMAT_RF64;
}

} // namespace

void PulseSoundPlayer::playSync(const QString &path)
{
    if (path.isEmpty()) {
        qCWarning(lcKelvoran) << "No sound file named; nothing played";
        return;
    }

    const SndfileApi &sf = sndfile();
    if (!sf.error.isEmpty()) {
        qCWarning(lcKelvoran).noquote()
            << "Cannot play" << path << "- libsndfile is not usable:" << sf.error;
        return;
    }
    SF_INFO info{};
    std::unique_ptr<SNDFILE, SndFileCloser> file(
        sf.open(QFile::encodeName(path).constData(), SFM_READ, &info));
    if (!file) {
        qCWarning(lcKelvoran).noquote()
            << "Cannot play" << path << "-" << QString::fromLocal8Bit(sf.strerror(nullptr));
        return;
    }
    if (!isWavFamily(info.format)) {
        qCWarning(lcKelvoran).noquote() << "Cannot play" << path << "- not a WAV file";
        return;
    }
    if (info.channels < 1 || info.channels > kMaxChannels || info.samplerate < 1 ||
        info.samplerate > kMaxRate) {
        qCWarning(lcKelvoran).noquote() << "Cannot play" << path << "-" << info.channels
                                        << "channels at" << info.samplerate << "Hz";
        return;
    }

    std::vector<short> block(size_t(kFramesPerBlock) * size_t(info.channels));
    sf_count_t frames = sf.readf_short(file.get(), block.data(), kFramesPerBlock);
    if (frames <= 0)
        return; // a header without sound data: nothing to hear

    const PulseApi &pa = pulse();
    if (!pa.error.isEmpty()) {
        qCWarning(lcKelvoran).noquote()
            << "Cannot play" << path << "- libpulse is not usable:" << pa.error;
        return;
    }

    pa_sample_spec sampleSpec{};
    sampleSpec.format = PA_SAMPLE_S16NE; // what sf_readf_short delivers (S16LE on this hardware)
    sampleSpec.rate = uint32_t(info.samplerate);
    sampleSpec.channels = uint8_t(info.channels);
    // Multi-channel WAV files keep their channels in the WAVE_FORMAT_EXTENSIBLE order.
    pa_channel_map map;
    const pa_channel_map *mapPtr =
        pa.channel_map_init_extend(&map, sampleSpec.channels, PA_CHANNEL_MAP_WAVEEX);

    int error = 0;
    std::unique_ptr<pa_simple, PulseCloser> stream(
        pa.simple_new(nullptr, "Kelvoran", PA_STREAM_PLAYBACK, nullptr, "Kelvoran", &sampleSpec,
                      mapPtr, nullptr, &error));
    if (!stream) {
        qCWarning(lcKelvoran).noquote()
            << "Cannot play" << path << "- no sound server:" << pa.strerror(error);
        return;
    }

    const size_t bytesPerFrame = sizeof(short) * size_t(info.channels);
    while (frames > 0) {
        if (pa.simple_write(stream.get(), block.data(), size_t(frames) * bytesPerFrame, &error) <
            0) {
            qCWarning(lcKelvoran).noquote()
                << "Playing" << path << "stopped -" << pa.strerror(error);
            return;
        }
        // A file cut short simply ends early: whatever decoded is played.
        frames = sf.readf_short(file.get(), block.data(), kFramesPerBlock);
    }
    if (pa.simple_drain(stream.get(), &error) < 0)
        qCWarning(lcKelvoran).noquote()
            << "Playing" << path << "did not finish -" << pa.strerror(error);
}

} // namespace kelvoran::platform
