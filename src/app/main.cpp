#include "app/app_settings.h"
#include "app/frmmain.h"
#include "app/watchlist_window.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QObject>
#include <QTranslator>

#include <cstdio>

namespace {

// Without a display QApplication aborts with a long platform-plugin message; say it in one line
// instead. An explicit QT_QPA_PLATFORM (offscreen, vnc, ...) needs no display.
bool displayAvailable() {
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// The watchlist's window alone, as a notification opens it. A service given with --service is
// asked with the token in YUMING_TOKEN, as yuming-cli does.
int runWatchlist(QApplication& app, const yuming::CommandLine& line) {
    yuming::WatchlistWindow window(line.settings.service, qgetenv("YUMING_TOKEN"));
    if (line.reportStart)
        QObject::connect(&window, &yuming::WatchlistWindow::listed, [] {
            std::fputs("listed\n", stdout);
            std::fflush(stdout);
        });
    window.show();
    return app.exec();
}

} // namespace

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const yuming::CommandLine line = yuming::parseCommandLine(arguments);
    const QString program = QStringLiteral("yuming");
    if (!line.error.isEmpty()) {
        std::fprintf(stderr, "%s: %s\n%s", qPrintable(program), qPrintable(line.error),
                     qPrintable(yuming::usage(program)));
        return 2;
    }
    if (line.help) {
        std::fputs(qPrintable(yuming::usage(program)), stdout);
        return 0;
    }
    if (!displayAvailable()) {
        std::fprintf(stderr,
                     "%s: no display to open the window on (neither DISPLAY nor WAYLAND_DISPLAY is set)\n",
                     qPrintable(program));
        return 1;
    }

    QApplication app(argc, argv);
    // The window is Chinese in every locale, and so are the texts Qt itself puts in it.
    QTranslator qtTexts;
    if (qtTexts.load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTexts);
    // Names of file types, as the export dialog shows them, come from the default locale.
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    if (line.watchlist) return runWatchlist(app, line);
    Frmmain window(line.settings);
    QObject::connect(&window.lookupCommand(), &yuming::LookupCommand::logNotice,
                     [&program](const QString& text) {
                         std::fprintf(stderr, "%s: %s\n", qPrintable(program), qPrintable(text));
                     });
    if (line.reportStart) {
        // For start-up measurements and scripts: when the window is on screen, when the banner is in.
        const auto say = [](const char* text) {
            std::fputs(text, stdout);
            std::fflush(stdout);
        };
        QObject::connect(&window, &Frmmain::shown, [say] { say("shown\n"); });
        QObject::connect(&window, &Frmmain::bannerLoaded,
                         [say](bool ok) { say(ok ? "banner ok\n" : "banner failed\n"); });
    }
    window.showCentred();
    return app.exec();
}
