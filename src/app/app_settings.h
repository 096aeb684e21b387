#pragma once

#include "search/service_address.h"

#include <QString>
#include <QStringList>

namespace yuming {

// What the window is configured with: the build's addresses unless the command line says
// otherwise.
struct AppSettings {
    ServiceAddress service = ServiceAddress::fromBuild();
    QString webHost = QStringLiteral(YUMING_WEB_HOST); // the maker's web site, host[:port]
    QString homePage = QStringLiteral(YUMING_HOME_PAGE);
    // The maker's web site is the bundled service too: the banner and the home page go to where
    // this user's own service actually listens.
    bool webFollowsService = service.userService && webHost == QStringLiteral(YUMING_SERVICE_HOST);
    QString logPath;    // the lookup log; empty for lookupLogPath()
    bool banner = true; // false leaves the browser engine unstarted (tests that do not need it)
    QString statePath;  // what the window remembers between runs; empty for this user's own file
};

// What the window remembers between runs, kept in `settings.statePath` or else in
// ~/.config/yuming/yuming.conf: the folder the last export was saved in.
QString lastExportFolder(const AppSettings& settings);
void rememberExportFolder(const AppSettings& settings, const QString& folder);

struct CommandLine {
    AppSettings settings;
    bool help = false;
    bool reportStart = false; // says on stdout when the window is on screen and the banner is in
    bool watchlist = false;   // opens the watchlist's window alone
    QString error;            // set when the arguments cannot be used
};

// Understands --service HOST[:PORT] (the search service, and the maker's web site unless --web
// is given), --web HOST[:PORT] and --watchlist; with --service or --web, the home page is http://WEBHOST/.
// `arguments` starts with the program name, as QCoreApplication::arguments() does.
CommandLine parseCommandLine(const QStringList& arguments);
QString usage(const QString& program);

} // namespace yuming
