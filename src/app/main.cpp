#include "app/Dialogs.h"
#include "app/frmMain.h"
#include "platform/DBusNotifier.h"
#include "platform/HttpClient.h"
#include "platform/RegistryStore.h"
#include "platform/SoundPlayer.h"
#include "watchlist/Module1.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kelvoran"));
    // The window may hide in the tray; only Exit or the close box end the program.
    QApplication::setQuitOnLastWindowClosed(false);

    // Declared before the window, so they outlive it: the window's downloads and sounds stop
    // first when it goes.
    kelvoran::platform::RegistryStore store(kelvoran::platform::RegistryStore::defaultFilePath());
    kelvoran::Module1 registry(store);
    kelvoran::platform::CurlHttpClient http;
    kelvoran::platform::PulseSoundPlayer sound;
    kelvoran::platform::DBusNotifier notifier(QStringLiteral("io.github.kelvoran.Kelvoran"),
                                              QStringLiteral("io.github.kelvoran.Kelvoran"));

    kelvoran::app::QtDialogs dialogs;
    kelvoran::app::frmMain window(registry, http, sound, notifier, dialogs);
    window.Form_Load();
    return QApplication::exec();
}
