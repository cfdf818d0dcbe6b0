#include "app/CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QStringList>

#include <cstdio>

namespace kelvoran::app {

namespace {

// The options QGuiApplication, QApplication and the X11 platform take for themselves: accepted
// here, unlisted in the help, and left in argv for QApplication.
const char *const kQtOptionsWithValue[] = {"platform",        "platformpluginpath",
                                           "platformtheme",   "plugin",
                                           "qwindowgeometry", "qwindowicon",
                                           "qwindowtitle",    "session",
                                           "display",         "geometry",
                                           "title",           "name",
                                           "visual",          "style",
                                           "stylesheet"};
const char *const kQtFlags[] = {"reverse", "testability", "widgetcount", "nograb", "dograb"};

void print(FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

} // namespace

CommandLine readCommandLine(int argc, char *argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("Kelvoran"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KELVORAN_VERSION));

    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const QString program =
        arguments.isEmpty() ? QStringLiteral("kelvoran") : QFileInfo(arguments.first()).fileName();

    QCommandLineParser parser;
    // Qt's options are single-dash words ("-platform xcb"), not bundles of one-letter options.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        QStringLiteral("Announces friends and foes joining an Unreal Tournament server."));
    // Not addHelpOption(): its --help-all would promise Qt's options, which only an application
    // object could list.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Displays help on command line options."));
    parser.addOption(help);
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption minimized(
        QStringLiteral("minimized"),
        QStringLiteral("Start in the tray without showing the window, polling from the start."));
    parser.addOption(minimized);
    for (const char *name : kQtOptionsWithValue) {
        QCommandLineOption option(QLatin1String(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char *name : kQtFlags) {
        QCommandLineOption option{QLatin1String(name), QString()};
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }

    CommandLine result;
    const bool parsed = parser.parse(arguments);
    if (parser.isSet(help)) {
        // Without an application object the parser cannot know the program's name.
        print(stdout, parser.helpText().replace(QStringLiteral("<executable_name>"), program));
        result.exitCode = 0;
    } else if (parser.isSet(version)) {
        print(stdout, QCoreApplication::applicationName() + QLatin1Char(' ') +
                          QCoreApplication::applicationVersion() + QLatin1Char('\n'));
        result.exitCode = 0;
    } else if (!parsed || !parser.positionalArguments().isEmpty()) {
        const QString error = parsed ? QStringLiteral("Unexpected argument '%1'.")
                                           .arg(parser.positionalArguments().constFirst())
                                     : parser.errorText();
        print(
            stderr,
            QStringLiteral("%1: %2\nTry '%1 --help' for more information.\n").arg(program, error));
        result.exitCode = 1;
    }
    result.minimized = parser.isSet(minimized);
    return result;
}

} // namespace kelvoran::app
