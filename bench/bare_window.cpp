// The yardstick for Kelvoran's start-up: a bare Qt window of the same size with a tray icon,
// built the same way and shown the same way, doing nothing else. With --caption it also shows
// one line of text, which is what it costs to bring up the font system at all.
#include <QApplication>
#include <QIcon>
#include <QLabel>
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
    if (QApplication::arguments().contains(QStringLiteral("--caption"))) {
        auto *caption = new QLabel(QStringLiteral("Tournament Server INI File"), &window);
        caption->move(8, 8);
    }
    window.show();
    window.repaint();
    QSystemTrayIcon tray(icon);
    tray.setToolTip(QStringLiteral("Bare"));
    tray.show();
    return QApplication::exec();
}
