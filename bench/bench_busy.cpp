// How long the window's thread is kept busy (the lateness of a 10 ms timer) while a poll waits on
// a server that accepts and never answers, and while a 4-second WAV file plays. Needs an X server
// and a sound server (run it through scripts/bench.sh).
#include "FakeGameServer.h"
#include "GuiStall.h"
#include "RecordingSoundPlayer.h"
#include "TempStore.h"
#include "app/Application.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>

#include <cmath>
#include <cstdio>
#include <sndfile.h>
#include <vector>

using namespace kelvoran;

namespace {

bool writeTone(const QString &path, double seconds)
{
    SF_INFO info{};
    info.samplerate = 22050;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE *f = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!f)
        return false;
    std::vector<short> samples(size_t(seconds * info.samplerate));
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = short(8000 * std::sin(double(i) * 0.125));
    sf_writef_short(f, samples.data(), sf_count_t(samples.size()));
    return sf_close(f) == 0;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    qunsetenv("http_proxy");
    QTemporaryDir dir;
    const QString wav = dir.filePath(QStringLiteral("four.wav"));
    if (!writeTone(wav, 4.0))
        return 1;

    test::TempStore store;
    test::FakeGameServer server;
    server.setMode(test::FakeGameServer::Mode::NeverAnswer);
    platform::PulseSoundPlayer sound;
    test::RecordingNotifier notifier;
    app::QtDialogs dialogs;
    app::Application kelvoran(store.registry(), sound, notifier, dialogs);
    app::frmMain &w = kelvoran.window;
    w.Form_Load();
    w.txtIPAddress->setText(QStringLiteral("127.0.0.1"));
    w.txtPortNumber->setText(server.portText());
    w.txtFriendWav->setText(wav);

    kelvoran.group.start();
    const double poll = longestStall(3000, [&] { kelvoran.group.first().poll(); });
    std::printf("poll against a server that never answers: GUI thread busy at most %.1f ms "
                "(download still in flight: %s)\n",
                poll, kelvoran.group.first().pollInFlight() ? "yes" : "no");
    const double play = longestStall(5000, [&] { w.cmdPlayFriend_Click(); });
    std::printf("a 4-second WAV playing: GUI thread busy at most %.1f ms\n", play);
    w.Form_Unload();
    return 0;
}
