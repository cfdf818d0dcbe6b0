#pragma once
// The program's parts above the platform: the announcements, the visit log, the watching of every
// server and the main window with its tray icon. Declared in the order they are needed, so the
// window goes first and the watchers' readings are aborted before the log and the store go.
#include "app/Dialogs.h"
#include "app/frmMain.h"
#include "platform/Notifier.h"
#include "platform/SoundPlayer.h"
#include "watch/Announcer.h"
#include "watch/PlayerSource.h"
#include "watch/VisitLog.h"
#include "watch/WatchGroup.h"
#include "watchlist/Module1.h"

namespace kelvoran::app {

struct Application
{
    Application(Module1 &registry, platform::SoundPlayer &sound, platform::Notifier &notifier,
                Dialogs &dialogs, watch::SourceFactory sources = watch::makePlayerSource);

    watch::Announcer announcer;
    watch::VisitLog visits;
    watch::WatchGroup group;
    frmMain window;
};

} // namespace kelvoran::app
