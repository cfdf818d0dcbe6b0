// Starts writers of an INI file and kills them. For each line "<first number> <delay in µs>" on
// standard input it forks a writer that sets the web admin password over and over (a new value of
// a new length each time), kills it with SIGKILL after the delay and, once it is gone, answers
// "killed", or "failed" when the writer ended by itself (a write failed).   ini_writer <INI file>
#include "platform/IniFile.h"

#include <csignal>
#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char *argv[])
{
    const QString file = QString::fromLocal8Bit(argc == 2 ? argv[1] : "");
    long first = 0, delay = 0;
    while (std::scanf("%ld %ld", &first, &delay) == 2) {
        const pid_t writer = ::fork(); // no process start-up per round: the kill comes at once
        for (long i = first; writer == 0; ++i) {
            if (!kelvoran::platform::writeProfileString(
                    "UTServerAdmin.UTServerAdmin", "AdminPassword",
                    QString::number(i) + QString(int(i % 300), u'x'), file))
                ::_exit(1);
        }
        ::usleep(useconds_t(delay));
        int status = 0;
        const bool killed = writer > 0 && ::kill(writer, SIGKILL) == 0 &&
                            ::waitpid(writer, &status, 0) == writer && WIFSIGNALED(status) &&
                            WTERMSIG(status) == SIGKILL;
        std::printf(killed ? "killed\n" : "failed\n");
        std::fflush(stdout);
    }
    return argc == 2 ? 0 : 2;
}
