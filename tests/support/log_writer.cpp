// A process that appends one page to a lookup log, for the tests that kill or limit it half-way.
// log_writer LOG SIZE FILL [--fsize-limit BYTES] [--stay]
// The page is "<html>", SIZE - 15 times FILL, "</html>"; with its CR LF that is SIZE bytes.
// Prints "ready" just before the append and "ok" or the error after; --stay then waits for
// stdin to close, so a signal that arrives late still finds the process alive.
#include "lookup/lookup_log.h"

#include <QString>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sys/resource.h>

int main(int argc, char** argv) {
    if (argc < 4) return 2;
    // As a program started from a terminal would: a test runner in the background may pass
    // these on ignored.
    for (const int signal : {SIGHUP, SIGINT, SIGTERM})
        std::signal(signal, SIG_DFL);
    const QString path = QString::fromLocal8Bit(argv[1]);
    const qsizetype size = std::atoll(argv[2]);
    bool stay = false;
    for (int i = 4; i < argc; ++i) {
        if (std::strcmp(argv[i], "--stay") == 0) stay = true;
        if (std::strcmp(argv[i], "--fsize-limit") == 0 && i + 1 < argc) {
            const rlim_t limit = std::strtoull(argv[++i], nullptr, 10);
            const rlimit fsize{limit, limit};
            if (setrlimit(RLIMIT_FSIZE, &fsize) != 0) return 2;
        }
    }
    const QString page =
        QStringLiteral("<html>") + QString(size - 15, QLatin1Char(argv[3][0])) + QStringLiteral("</html>");
    std::puts("ready");
    std::fflush(stdout);
    const yuming::LogAppend logged = yuming::appendLookupLog(path, page);
    if (!logged.repaired.isEmpty()) std::fprintf(stderr, "%s\n", qPrintable(logged.repaired));
    std::puts(logged ? "ok" : qPrintable(logged.error));
    std::fflush(stdout);
    if (stay) {
        while (std::getchar() != EOF) {
        }
    }
    return logged ? 0 : 1;
}
