#include "app/app_settings.h"

#include "lookup/lookup_log.h"

#include <QSettings>
#include <QStandardPaths>

#include <optional>

namespace yuming {
namespace {

QString homePageOf(const QString& webHost) {
    return QStringLiteral("http://") + webHost + u'/';
}

// The value of an option given as "--name value" or "--name=value"; advances `i` past it.
std::optional<QString> valueOf(const QStringList& arguments, qsizetype& i, QStringView name) {
    const QString& argument = arguments[i];
    if (argument.startsWith(name) && argument.size() > name.size() && argument[name.size()] == u'=')
        return argument.mid(name.size() + 1);
    if (argument != name) return std::nullopt;
    if (i + 1 >= arguments.size()) return QString();
    return arguments[++i];
}

constexpr QAnyStringView kExportFolderKey = "export/folder";

QString statePathOf(const AppSettings& settings) {
    if (!settings.statePath.isEmpty()) return settings.statePath;
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/yuming/yuming.conf");
}

} // namespace

QString lastExportFolder(const AppSettings& settings) {
    return QSettings(statePathOf(settings), QSettings::IniFormat).value(kExportFolderKey).toString();
}

void rememberExportFolder(const AppSettings& settings, const QString& folder) {
    QSettings(statePathOf(settings), QSettings::IniFormat).setValue(kExportFolderKey, folder);
}

QString usage(const QString& program) {
    return QStringLiteral("Usage: %1 [--service HOST[:PORT]] [--web HOST[:PORT]] [--watchlist]\n"
                          "  --service HOST[:PORT]  the domain search service (default %2);\n"
                          "                         also the maker's web site unless --web is given\n"
                          "  --web HOST[:PORT]      the maker's web site: banner page and home page\n"
                          "  --watchlist            open only the watchlist window\n"
                          "  -h, --help             this text\n"
                          "\n"
                          "Without --service the window uses this user's own yuming-service: the one\n"
                          "already running, or one it starts (see yuming-service --help).\n")
        .arg(program, ServiceAddress::fromBuild().userService ? QStringLiteral("this user's own, see below")
                                                              : ServiceAddress::fromBuild().authority());
}

CommandLine parseCommandLine(const QStringList& arguments) {
    CommandLine line;
    std::optional<ServiceAddress> service;
    std::optional<ServiceAddress> web;
    for (qsizetype i = 1; i < arguments.size() && line.error.isEmpty(); ++i) {
        const QString& argument = arguments[i];
        if (argument == u"-h" || argument == u"--help") {
            line.help = true;
        } else if (argument == u"--report-start") {
            line.reportStart = true;
        } else if (argument == u"--watchlist") {
            line.watchlist = true;
        } else if (const auto value = valueOf(arguments, i, u"--service")) {
            service = ServiceAddress::parse(*value);
            if (!service)
                line.error = QStringLiteral("--service wants HOST or HOST:PORT, not \"%1\"").arg(*value);
        } else if (const auto value = valueOf(arguments, i, u"--web")) {
            web = ServiceAddress::parse(*value);
            if (!web) line.error = QStringLiteral("--web wants HOST or HOST:PORT, not \"%1\"").arg(*value);
        } else {
            line.error = QStringLiteral("unknown argument \"%1\"").arg(argument);
        }
    }
    if (!line.error.isEmpty()) return line;
    if (service || web) line.settings.webFollowsService = false;
    if (service) line.settings.service = *service;
    if (!web && service) web = service;
    if (web) {
        line.settings.webHost = web->authority();
        line.settings.homePage = homePageOf(line.settings.webHost);
    }
    return line;
}

} // namespace yuming
