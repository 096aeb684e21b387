#include "service_options.h"

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

bool parseListen(const std::string& text, ServiceOptions& options) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    options.host = text.substr(0, colon);
    return number(text.substr(colon + 1), options.port, 0, 65535);
}

} // namespace

std::string usage() {
    return "usage: yuming-service [--listen HOST:PORT] [--db FILE] [--seed N] [--rows N]\n"
           "  --listen HOST:PORT  address to serve on (default 127.0.0.1:0, 0 picks a free port)\n"
           "  --db FILE           SQLite database, created and filled on first start\n"
           "                      (default " +
           defaultDbPath() +
           ")\n"
           "  --seed N            seed for the generated names of a new database (default 1)\n"
           "  --rows N            names on the drop list of a new database (default 200000)\n";
}

std::string defaultDbPath() {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return QDir(folder).filePath(QStringLiteral("yuming-service/domains.sqlite")).toStdString();
}

OptionsResult parseOptions(const std::vector<std::string>& args) {
    OptionsResult result;
    ServiceOptions& options = result.options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
            continue;
        }
        if (arg != "--listen" && arg != "--db" && arg != "--seed" && arg != "--rows") {
            result.error = "unknown option: " + arg;
            return result;
        }
        if (i + 1 >= args.size()) {
            result.error = "missing value: " + arg;
            return result;
        }
        const std::string& value = args[++i];
        bool good = true;
        if (arg == "--listen")
            good = parseListen(value, options);
        else if (arg == "--db")
            options.dbPath = value;
        else if (arg == "--seed")
            good = number<std::uint64_t>(value, options.seed.seed, 0, UINT64_MAX);
        else
            good = number(value, options.seed.rows, 1, 5'000'000);
        if (!good) {
            result.error = "bad option: " + arg + ' ' + value;
            return result;
        }
    }
    if (options.dbPath.empty()) options.dbPath = defaultDbPath();
    return result;
}

} // namespace yuming::service
