#include "app/frmMain.h"
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

    kelvoran::platform::RegistryStore store(kelvoran::platform::RegistryStore::defaultFilePath());
    kelvoran::Module1::setHive(&store);
    kelvoran::platform::CurlHttpClient http;
    kelvoran::platform::PulseSoundPlayer sound;

    kelvoran::app::frmMain window(http, sound);
    window.Form_Load();
    const int rc = QApplication::exec();
    kelvoran::Module1::setHive(nullptr);
    return rc;
}
