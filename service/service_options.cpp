#include "service_options.h"

#include "protocol/user_service.h"

#include <QDir>
#include <QStandardPaths>

#include <charconv>

namespace yuming::service {

namespace {

template <typename T> bool number(const std::string& text, T& out, T lowest, T highest) {
    T value{};
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || ptr != text.data() + text.size() || value < lowest || value > highest)
        return false;
    out = value;
    return true;
}

// HOST:PORT, or [HOST]:PORT for an IPv6 address, as the tool's own --service takes it.
bool parseListen(const std::string& text, ServiceOptions& options) {
    std::string host;
    std::string port;
    if (text.starts_with('[')) {
        const auto close = text.find("]:");
        if (close == std::string::npos) return false;
        host = text.substr(1, close - 1);
        port = text.substr(close + 2);
        if (host.find(':') == std::string::npos) return false;
    } else {
        const auto colon = text.rfind(':');
        if (colon == std::string::npos) return false;
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
    }
    if (host.empty() || host.find_first_of("[]") != std::string::npos) return false;
    options.host = host;
    return number(port, options.port, 0, 65535);
}

bool takesValue(const std::string& arg) {
    for (const char* option :
         {"--listen", "--db", "--seed", "--rows", "--idle-exit", user_service::kLogOption, "--log-limit"})
        if (arg == option) return true;
    return false;
}

} // namespace

std::string usage() {
    using namespace user_service;
    return "usage: yuming-service [--user] [--listen HOST:PORT] [--db FILE] [--seed N] [--rows N]\n"
           "                      [--idle-exit SECONDS] [--log FILE]\n"
           "       yuming-service check [--user | --db FILE]\n"
           "The local domain search service of yuming, the expiring-domain tool: HTTP on loopback\n"
           "over a SQLite database of names about to be deleted. At start it checks the database\n"
           "(for at most 2 s) and refuses one that is damaged; \"check\" checks it in full, prints\n"
           "\"ok\" or what is wrong, and exits with 0 or 1.\n"
           "\n"
           "  --user              run as this user's own service, the one the window and yuming-cli\n"
           "                      use when they are started without --service: they find it through\n"
           "                      its address record, or start it (with this option) when none runs.\n"
           "                      Only one runs per user; a second one says where the first listens\n"
           "                      and exits. Database " +
           (dataFolder() + u'/' + QLatin1String(kDatabaseName)).toStdString() +
           ",\n"
           "                      address record " +
           (runtimeFolder() + u'/' + QLatin1String(kRecordName)).toStdString() +
           ";\n"
           "                      ends after " +
           std::to_string(kIdleExitSeconds / 60) +
           " minutes without a request (the tools start it again\n"
           "                      when they next need it).\n"
           "  --listen HOST:PORT  address to serve on (default 127.0.0.1:0, 0 picks a free port;\n"
           "                      an IPv6 address in brackets: [::1]:8080)\n"
           "  --db FILE           SQLite database, created and filled on first start\n"
           "                      (default " +
           defaultDbPath() +
           ")\n"
           "  --seed N            seed for the generated names of a new database (default 1)\n"
           "  --rows N            names on the drop list of a new database (default 200000)\n"
           "  --idle-exit SECONDS end after this long without a request (default: never;\n"
           "                      with --user " +
           std::to_string(kIdleExitSeconds) +
           ")\n"
           "  --log FILE          write the log (one line per request) to FILE instead of stderr;\n"
           "                      when it reaches 4 MiB it becomes FILE.1, replacing the one before\n"
           "  -h, --help          this text\n"
           "Prints \"listening on HOST:PORT\" on stdout once it serves, one line per request on stderr.\n";
}

std::string defaultDbPath() {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return QDir(folder).filePath(QStringLiteral("yuming-service/domains.sqlite")).toStdString();
}

std::string userDbPath() {
    return (user_service::dataFolder() + u'/' + QLatin1String(user_service::kDatabaseName)).toStdString();
}

std::string hostPort(const std::string& host, int port) {
    const std::string shown = host.find(':') == std::string::npos ? host : '[' + host + ']';
    return shown + ':' + std::to_string(port);
}

OptionsResult parseOptions(const std::vector<std::string>& args) {
    OptionsResult result;
    ServiceOptions& options = result.options;
    int idleExit = -1;
    std::size_t i = 0;
    if (!args.empty() && args.front() == "check") {
        options.command = ServiceOptions::Command::Check;
        i = 1;
    }
    const bool checking = options.command == ServiceOptions::Command::Check;
    for (; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
            continue;
        }
        if (arg == user_service::kUserOption) {
            options.user = true;
            continue;
        }
        if (!takesValue(arg)) {
            result.error = "unknown option: " + arg;
            return result;
        }
        if (checking && arg != "--db") {
            result.error = "check takes only --db or --user, not " + arg;
            return result;
        }
        if (i + 1 >= args.size()) {
            result.error = "missing value: " + arg;
            return result;
        }
        const std::string& value = args[++i];
        bool good = true;
        if ((arg == "--db" || arg == user_service::kLogOption) && value.empty()) {
            result.error = "bad option: " + arg + ": the file name is empty";
            return result;
        }
        if (arg == "--listen")
            good = parseListen(value, options);
        else if (arg == "--db")
            options.dbPath = value;
        else if (arg == user_service::kLogOption)
            options.logPath = value;
        // Not in the usage: the size is for tests, which cannot wait for 4 MiB of requests.
        else if (arg == "--log-limit")
            good = number<std::int64_t>(value, options.logLimit, 1, std::int64_t(1) << 40);
        else if (arg == "--idle-exit")
            good = number(value, idleExit, 0, 365 * 24 * 3600);
        else if (arg == "--seed")
            good = number<std::uint64_t>(value, options.seed.seed, 0, UINT64_MAX);
        else
            good = number(value, options.seed.rows, 1, 5'000'000);
        if (!good) {
            result.error = "bad option: " + arg + ' ' + value;
            return result;
        }
    }
    if (options.dbPath.empty()) options.dbPath = options.user ? userDbPath() : defaultDbPath();
    options.idleExitSeconds = idleExit >= 0 ? idleExit : options.user ? user_service::kIdleExitSeconds : 0;
    return result;
}

} // namespace yuming::service
