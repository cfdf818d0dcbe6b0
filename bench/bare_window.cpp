// The yardstick for Kelvoran's start-up: a bare Qt window of the same size with a tray icon,
// built the same way and shown the same way, doing nothing else.
#include <QApplication>
#include <QIcon>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Bare"));
    window.setFixedSize(469, 406);
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::darkBlue);
    const QIcon icon(pixmap);
    window.setWindowIcon(icon);
    window.show();
    window.repaint();
    QSystemTrayIcon tray(icon);
    tray.setToolTip(QStringLiteral("Bare"));
    tray.show();
    return QApplication::exec();
}
