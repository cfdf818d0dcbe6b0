#pragma once
// The command line, read before any display is opened: --help and --version answer on a console
// without one, and a wrong argument is refused before anything starts.
#include <optional>

namespace kelvoran::app {

struct CommandLine
{
    // --minimized: start in the tray, polling as after a minimise.
    bool minimized = false;
    // Set when the program ends at once with this exit status (--help, --version or a wrong
    // argument); what it had to say is printed already.
    std::optional<int> exitCode;
};

// Reads the program's arguments. Qt's own options (-platform, -style, -session and the others
// QApplication takes) are let through for QApplication.
CommandLine readCommandLine(int argc, char *argv[]);

} // namespace kelvoran::app
