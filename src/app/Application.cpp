#include "app/Application.h"

namespace kelvoran::app {

namespace {

// The polling interval; tests shorten it through KELVORAN_POLL_INTERVAL_MS.
int pollIntervalMs()
{
    bool ok = false;
    const int ms = qEnvironmentVariableIntValue("KELVORAN_POLL_INTERVAL_MS", &ok);
    return ok && ms > 0 ? ms : watch::Watcher::kPollIntervalMs;
}

} // namespace

Application::Application(Module1 &registry, platform::SoundPlayer &sound,
                         platform::Notifier &notifier, Dialogs &dialogs,
                         watch::SourceFactory sources)
    : announcer(sound, notifier), visits(registry.HKEY_LOCAL_MACHINE()),
      group(registry, announcer, visits, std::move(sources)),
      window(registry, group, announcer, visits, sound, notifier, dialogs)
{
    group.setInterval(pollIntervalMs());
    group.load();
}

} // namespace kelvoran::app
