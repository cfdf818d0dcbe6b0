#include "app/Application.h"
#include "app/CommandLine.h"
#include "app/Dialogs.h"
#include "app/SingleInstance.h"
#include "platform/DBusNotifier.h"
#include "platform/HttpClient.h"
#include "platform/RegistryStore.h"
#include "platform/SoundPlayer.h"
#include "watchlist/Module1.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    // --help and --version answer before any display is needed.
    const kelvoran::app::CommandLine options = kelvoran::app::readCommandLine(argc, argv);
    if (options.exitCode)
        return *options.exitCode;

    QApplication app(argc, argv);
    QApplication::setDesktopFileName(QStringLiteral(KELVORAN_APP_ID));
    // The window may hide in the tray; only Exit or the close box end the program.
    QApplication::setQuitOnLastWindowClosed(false);

    // One running copy per user: a later start brings the running copy's window back and ends (a
    // later --minimized start leaves it as it is). When the running copy is ending, this one runs.
    kelvoran::app::SingleInstance instance(QStringLiteral(KELVORAN_APP_ID));
    if (!instance.claim()) {
        if (instance.handOver(!options.minimized))
            return 0;
        if (!instance.claim())
            return 1;
    }

    // Declared before the window, so they outlive it: the window's readings and sounds stop
    // first when it goes.
    kelvoran::platform::RegistryStore store(kelvoran::platform::RegistryStore::defaultFilePath());
    kelvoran::Module1 registry(store);
    kelvoran::platform::PulseSoundPlayer sound;
    kelvoran::platform::DBusNotifier notifier(QStringLiteral(KELVORAN_APP_ID),
                                              QStringLiteral(KELVORAN_APP_ID));
    kelvoran::app::QtDialogs dialogs;

    kelvoran::app::Application kelvoran(registry, sound, notifier, dialogs);
    kelvoran::app::frmMain &window = kelvoran.window;
    // Handed over from a later start: as a left click on the tray icon, the timer left as it is.
    QObject::connect(&instance, &kelvoran::app::SingleInstance::windowRequested, &window,
                     [&window] { window.Form_MouseMove(QSystemTrayIcon::Trigger); });
    if (options.minimized)
        window.startInTray();
    else
        window.Form_Load();
    return QApplication::exec();
}
