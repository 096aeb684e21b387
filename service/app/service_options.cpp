#include "app/service_options.h"

#include "import/drop_list.h"
#include "service_record.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimeZone>

#include <charconv>
#include <iostream>

namespace yuming::service {

namespace {

std::string_view trimmedView(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

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

// Every option of the command line; those with a value name take a value. The usage below
// describes them: the parser is only told their names.
const QList<QCommandLineOption>& commandLineOptions() {
    const auto name = [](const char* option) { return QString::fromLatin1(option + 2); };
    static const QList<QCommandLineOption> options = {
        QCommandLineOption(QStringList{QStringLiteral("h"), QStringLiteral("help")}),
        QCommandLineOption(name(user_service::kUserOption)),
        QCommandLineOption(QStringLiteral("listen"), {}, QStringLiteral("HOST:PORT")),
        QCommandLineOption(QStringLiteral("db"), {}, QStringLiteral("FILE")),
        QCommandLineOption(QStringLiteral("seed"), {}, QStringLiteral("N")),
        QCommandLineOption(QStringLiteral("rows"), {}, QStringLiteral("N")),
        QCommandLineOption(QStringLiteral("idle-exit"), {}, QStringLiteral("SECONDS")),
        QCommandLineOption(name(user_service::kLogOption), {}, QStringLiteral("FILE")),
        QCommandLineOption(QStringLiteral("log-limit"), {}, QStringLiteral("BYTES")),
        QCommandLineOption(QStringLiteral("rdap")),
        QCommandLineOption(QStringLiteral("no-rdap")),
        QCommandLineOption(QStringLiteral("rdap-bootstrap"), {}, QStringLiteral("FILE")),
        QCommandLineOption(QStringLiteral("rdap-ca"), {}, QStringLiteral("FILE")),
        QCommandLineOption(QStringLiteral("rdap-rate"), {}, QStringLiteral("N")),
        QCommandLineOption(QStringLiteral("rdap-pause"), {}, QStringLiteral("SECONDS")),
        QCommandLineOption(QStringLiteral("time-zone"), {}, QStringLiteral("ZONE")),
        QCommandLineOption(QStringLiteral("watch-remind"), {}, QStringLiteral("LEADS")),
        QCommandLineOption(QStringLiteral("watch-pending"), {}, QStringLiteral("TIME")),
        QCommandLineOption(QStringLiteral("watch-grace"), {}, QStringLiteral("TIME")),
        QCommandLineOption(QStringLiteral("watch-expiring"), {}, QStringLiteral("TIME")),
        QCommandLineOption(QStringLiteral("watch-settled"), {}, QStringLiteral("TIME")),
        QCommandLineOption(QStringLiteral("notify-command"), {}, QStringLiteral("CMD")),
        QCommandLineOption(QStringLiteral("replace")),
        QCommandLineOption(QStringLiteral("date"), {}, QStringLiteral("YYYY-MM-DD")),
        QCommandLineOption(QStringLiteral("date-order"), {}, QStringLiteral("mdy|dmy")),
        QCommandLineOption(QStringLiteral("every"), {}, QStringLiteral("TIME")),
        QCommandLineOption(QStringLiteral("at"), {}, QStringLiteral("HH:MM")),
        QCommandLineOption(QStringLiteral("accept-shrink")),
    };
    return options;
}

// `arg` is "--NAME" of an option that takes a value.
bool takesValue(std::string_view arg) {
    if (!arg.starts_with("--")) return false;
    const QString name = QString::fromUtf8(arg.substr(2));
    for (const QCommandLineOption& option : commandLineOptions())
        if (option.names().contains(name)) return !option.valueName().isEmpty();
    return false;
}

// "90s", "10m", "6h", "2d" (a bare number is seconds), from a second to a year.
bool duration(std::string_view text, std::chrono::seconds& out) {
    constexpr std::string_view kUnits = "smhd";
    constexpr std::int64_t kSeconds[] = {1, 60, 3600, 86400};
    constexpr std::int64_t kLongest = std::int64_t(366) * 86400;
    std::int64_t unit = 1;
    if (const auto found = text.empty() ? std::string_view::npos : kUnits.find(text.back());
        found != std::string_view::npos) {
        unit = kSeconds[found];
        text.remove_suffix(1);
    }
    std::int64_t count = 0;
    if (!number(std::string(text), count, std::int64_t(1), kLongest / unit)) return false;
    out = std::chrono::seconds(count * unit);
    return true;
}

// "24h,1h": the leads of the reminders; "none" for no reminders.
bool reminders(std::string_view text, std::vector<std::chrono::seconds>& out) {
    std::vector<std::chrono::seconds> leads;
    if (text == "none") {
        out = {};
        return true;
    }
    while (true) {
        const auto comma = text.find(',');
        std::chrono::seconds lead{};
        const std::string part(trimmedView(text.substr(0, comma)));
        if (!duration(part, lead)) return false;
        leads.push_back(lead);
        if (comma == std::string_view::npos) break;
        text = text.substr(comma + 1);
    }
    out = std::move(leads);
    return true;
}

// "auto", or the words for on and off that the setting took before it had a third value.
bool rdapMode(std::string_view text, ServiceOptions::Rdap& out) {
    using Rdap = ServiceOptions::Rdap;
    if (text == "auto") {
        out = Rdap::Auto;
        return true;
    }
    if (text == "on" || text == "yes" || text == "true" || text == "1") {
        out = Rdap::On;
        return true;
    }
    if (text == "off" || text == "no" || text == "false" || text == "0") {
        out = Rdap::Off;
        return true;
    }
    return false;
}

// One option with its value (none for a switch); an error text, or empty.
std::string apply(const std::string& arg, const std::string* value, ServiceOptions& options, int& idleExit) {
    if (!value) {
        if (arg == user_service::kUserOption)
            options.user = true;
        else if (arg == "--rdap")
            options.rdap = ServiceOptions::Rdap::On;
        else if (arg == "--no-rdap")
            options.rdap = ServiceOptions::Rdap::Off;
        else
            return "unknown option: " + arg;
        return {};
    }
    if (arg == "--rdap")
        return rdapMode(*value, options.rdap) ? "" : "bad option: rdap " + *value + " (auto, on or off)";
    if ((arg == "--db" || arg == user_service::kLogOption) && value->empty())
        return "bad option: " + arg + ": the file name is empty";
    bool good = true;
    if (arg == "--listen")
        good = parseListen(*value, options);
    else if (arg == "--db")
        options.dbPath = *value;
    else if (arg == user_service::kLogOption)
        options.logPath = *value;
    // Not in the usage: the size is for tests, which cannot wait for 4 MiB of requests.
    else if (arg == "--log-limit")
        good = number<std::int64_t>(*value, options.logLimit, 1, std::int64_t(1) << 40);
    else if (arg == "--idle-exit")
        good = number(*value, idleExit, 0, 365 * 24 * 3600);
    else if (arg == "--seed")
        good = number<std::uint64_t>(*value, options.seed.seed, 0, UINT64_MAX);
    else if (arg == "--rows")
        good = number(*value, options.seed.rows, 1, 5'000'000);
    else if (arg == "--rdap-bootstrap")
        options.rdapBootstrap = *value;
    else if (arg == "--rdap-ca")
        options.rdapCa = *value;
    else if (arg == "--rdap-rate")
        good = number(*value, options.rdapRate, 0.001, 1000.0);
    else if (arg == "--rdap-pause")
        good = number(*value, options.rdapPauseSeconds, 0, 3600);
    else if (arg == "--watch-remind")
        good = reminders(*value, options.watch.reminders);
    else if (arg == "--watch-pending")
        good = duration(*value, options.watch.pendingDelete);
    else if (arg == "--watch-grace")
        good = duration(*value, options.watch.grace);
    else if (arg == "--watch-expiring")
        good = duration(*value, options.watch.expiring);
    else if (arg == "--watch-settled")
        good = duration(*value, options.watch.settled);
    else if (arg == "--notify-command")
        options.notifyCommand = *value;
    else if (arg == "--time-zone")
        good = QTimeZone(QByteArray::fromStdString(*value)).isValid();
    else
        return "unknown option: " + arg;
    if (arg == "--time-zone" && good) options.timeZone = *value;
    return good ? "" : "bad option: " + arg + ' ' + *value;
}

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// A feed's interval: from an hour (a publisher's list changes no faster) to a year.
bool feedEvery(std::string_view text, std::chrono::seconds& out) {
    std::chrono::seconds every{};
    if (!duration(text, every) || every < std::chrono::hours(1)) return false;
    out = every;
    return true;
}

// "06:30": minutes after midnight.
// "mdy" or "dmy", the order of a/b/yyyy dates.
bool dateOrderOf(std::string_view text, DateOrder& out) {
    if (text != "mdy" && text != "dmy") return false;
    out = text == "mdy" ? DateOrder::MonthFirst : DateOrder::DayFirst;
    return true;
}

bool timeOfDay(std::string_view text, std::optional<int>& out) {
    int hours = 0;
    int minutes = 0;
    if (text.size() != 5 || text[2] != ':' || !number(std::string(text.substr(0, 2)), hours, 0, 23) ||
        !number(std::string(text.substr(3)), minutes, 0, 59))
        return false;
    out = hours * 60 + minutes;
    return true;
}

bool feedUrl(std::string_view url) {
    const QString text = QString::fromUtf8(url).toLower();
    return (text.startsWith(QLatin1String("http://")) && text.size() > 7) ||
           (text.startsWith(QLatin1String("https://")) && text.size() > 8);
}

// "URL [at HH:MM] [every TIME] [date-order mdy|dmy]", a feed line of service.conf; `every` false when it gave
// none.
std::string confFeed(std::string_view value, FeedPlan& plan, bool& every) {
    std::vector<std::string> words;
    for (const QString& word :
         QString::fromUtf8(value).split(QRegularExpression(QStringLiteral("[ \t]+")), Qt::SkipEmptyParts))
        words.push_back(word.toStdString());
    if (words.empty() || !feedUrl(words[0]))
        return "bad setting: feed " + std::string(value) + " (an http or https URL)";
    plan.url = words[0];
    every = false;
    for (std::size_t i = 1; i < words.size(); i += 2) {
        const bool last = i + 1 >= words.size();
        if (words[i] == "at" && !last && timeOfDay(words[i + 1], plan.at)) continue;
        if (words[i] == "date-order" && !last && dateOrderOf(words[i + 1], plan.dateOrder)) continue;
        if (words[i] == "every" && !last && feedEvery(words[i + 1], plan.every)) {
            every = true;
            continue;
        }
        return "bad setting: feed " + std::string(value) +
               " (after the URL: at HH:MM, every TIME of 1h or more, date-order mdy|dmy)";
    }
    return {};
}

// The feed lines, with feed-every for those that name no interval of their own.
struct ConfFeeds {
    std::vector<std::pair<FeedPlan, bool>> lines;
    std::optional<std::chrono::seconds> every;
};

std::string feedSetting(const std::string& name, const std::string& value, ConfFeeds& feeds) {
    if (name == "feed-every") {
        std::chrono::seconds every{};
        if (!feedEvery(value, every)) return "bad setting: feed-every " + value + " (a TIME of 1h or more)";
        feeds.every = every;
        return {};
    }
    FeedPlan plan;
    bool every = false;
    std::string error = confFeed(value, plan, every);
    if (error.empty()) feeds.lines.emplace_back(std::move(plan), every);
    return error;
}

// "name = value", "name value" or a bare "name" per line; '#' begins a comment line.
std::string applyConfig(std::string_view text, std::string_view fileName, ServiceOptions::Command command,
                        ServiceOptions& options, int& idleExit) {
    int lineNo = 0;
    ConfFeeds feeds;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view line = trimmed(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        ++lineNo;
        if (line.empty() || line.starts_with('#')) continue;
        const auto split = line.find_first_of("= \t");
        std::string name(trimmed(line.substr(0, split)));
        std::string value(split == std::string_view::npos ? std::string_view{} : trimmed(line.substr(split)));
        if (value.starts_with('=')) value = std::string(trimmed(std::string_view(value).substr(1)));
        if (name.starts_with("--")) name.erase(0, 2);
        const std::string arg = "--" + name;
        const bool bare = split == std::string_view::npos;
        std::string error;
        if (name == "help" || name == "h" || arg == user_service::kUserOption)
            error = "not a setting: " + name;
        else if (name == "feed" || name == "feed-every")
            error = feedSetting(name, value, feeds);
        else if (command == ServiceOptions::Command::Check && arg != "--db")
            continue; // a check reads only where the database is
        else if (command == ServiceOptions::Command::Import && arg != "--db" && arg != "--time-zone" &&
                 arg != "--rdap-ca")
            continue; // an import, that, the zone its times are in and the CA its URLs may need
        else if (command == ServiceOptions::Command::Feed && arg != "--db" && arg != "--time-zone" &&
                 arg != "--rdap-ca")
            continue; // a feed's fetch also the CA it may be served under
        else
            error = apply(arg, bare && !takesValue(arg) ? nullptr : &value, options, idleExit);
        if (!error.empty()) return std::string(fileName) + ':' + std::to_string(lineNo) + ": " + error;
    }
    for (auto& [plan, every] : feeds.lines) {
        if (!every && feeds.every) plan.every = *feeds.every;
        options.confFeeds.push_back(std::move(plan));
    }
    return {};
}

} // namespace

std::string usage() {
    using namespace user_service;
    return "usage: yuming-service [--user] [--listen HOST:PORT] [--db FILE] [--seed N] [--rows N]\n"
           "                      [--idle-exit SECONDS] [--log FILE] [--rdap auto|on|off]\n"
           "                      [--no-rdap] [--rdap-bootstrap FILE] [--rdap-ca FILE] [--rdap-rate N]\n"
           "                      [--rdap-pause SECONDS] [--time-zone ZONE] [--watch-remind LEADS]\n"
           "                      [--watch-pending TIME] [--watch-grace TIME] [--watch-expiring TIME]\n"
           "                      [--watch-settled TIME] [--notify-command CMD]\n"
           "       yuming-service check [--user | --db FILE]\n"
           "       yuming-service import FILE|URL... [--user | --db FILE] [--replace]\n"
           "                      [--date YYYY-MM-DD] [--date-order mdy|dmy] [--time-zone ZONE]\n"
           "                      [--rdap-ca FILE]\n"
           "       yuming-service feed add URL [--every TIME] [--at HH:MM] [--date-order mdy|dmy]\n"
           "                      [--user | --db FILE]\n"
           "       yuming-service feed remove URL | list | fetch [URL] [--accept-shrink]\n"
           "                      [--user | --db FILE] [--rdap-ca FILE]\n"
           "The local domain search service of yuming, the expiring-domain tool: HTTP on loopback\n"
           "over a SQLite database of names about to be deleted. At start it checks the database\n"
           "(for at most 2 s) and refuses one that is damaged; \"check\" checks it in full, prints\n"
           "\"ok\" or what is wrong, and exits with 0 or 1.\n"
           "\"import\" reads drop lists into the database (a new one holds only their names): one\n"
           "name a line with its deletion time after a tab, a comma or blanks, or CSV with a header\n"
           "(perhaps under a title) naming the domain, deletion and expiry columns; UTF-8 or GBK,\n"
           "plain, gzip or zip (every CSV or text file in it; at most 64 files, 1 GiB unpacked).\n"
           "Dates as 2026-12-15, 12/15/2026, 15-Dec-2026 or seconds since 1970; a list whose a/b/yyyy\n"
           "dates never show which number is the month fails unless --date-order says. A date\n"
           "without a time of day is taken at the suffix's deletion time (com, net, org 02:30, cn\n"
           "04:30); dates before 1985-01-01 or more than 100 years ahead are skipped (\"bad date\").\n"
           "Bare names (no time at all) take their day from --date. Without it, a file of nothing\n"
           "but bare names takes the one date in its file name (2026-12-15, 12-15-2026 or 20261215)\n"
           "and fails, saying a bare list needs --date, when the name holds no one date; in a file\n"
           "whose other lines have times, bare names are skipped (\"no date\").\n"
           "A name already kept takes a later deletion time; with --replace the lists become the\n"
           "drop list. All or nothing: exits with 0, or 1 and the database as it was.\n"
           "An http or https URL is fetched once (at most 1 GiB, within 30 minutes) into a file\n"
           "beside the database, imported as a file would be, and the file removed whatever happens.\n"
           "A feed is a list's URL (http or https) the database keeps and the service fetches on\n"
           "schedule and imports: every 24 hours unless --every says (1h or more), at a time of day\n"
           "with --at, always a little later at random; conditionally (If-Modified-Since,\n"
           "If-None-Match), so an unchanged list costs a 304; one fetch at a time per host, a\n"
           "failure tried again after 30 minutes, then 1 hour, 2 ... up to the interval, or after\n"
           "the server's Retry-After. A feed's list replaces the names it gave last time: a name it\n"
           "no longer lists leaves unless another feed or an import lists it. A fetch that fails, is\n"
           "cut short (bounds: 1 GiB, 30 minutes, 60 s without a byte), yields no usable name or\n"
           "fewer than half the names of the feed's last list is refused and the list kept as it was\n"
           "(fetch --accept-shrink takes a shrunken list). \"feed fetch\" fetches every feed (or URL)\n"
           "now and exits with 0 when each was taken or unchanged; \"feed list\" shows each feed's\n"
           "last fetch, last change, next fetch and last error. In " +
           configPath() +
           ", \"feed = URL\n"
           "[at HH:MM] [every TIME] [date-order mdy|dmy]\" lines name feeds as well (\"feed-every =\n"
           "TIME\" for those without their own interval); the service keeps them among the database's\n"
           "feeds when it starts.\n"
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
           "  --rdap auto|on|off  where lookups of com, net and org names are answered from\n"
           "                      (--rdap alone is on, --no-rdap is off). auto, the default: from\n"
           "                      the registries' RDAP servers, each answer cached in the database\n"
           "                      and names found about to be deleted put on the drop list; when a\n"
           "                      registry cannot be reached, a name the database holds is answered\n"
           "                      from it, its deletion time marked \"本地数据，注册局暂时无法访问\",\n"
           "                      and any other name is an error (never \"not registered\"), as is a\n"
           "                      name of another suffix (cn) the database does not hold. on: the\n"
           "                      registries alone, an error when they cannot be reached. off: the\n"
           "                      database alone, a name it does not hold reported not registered\n"
           "                      (for a demonstration, or a machine that must not reach out)\n"
           "  --rdap-bootstrap FILE  the registries' servers by suffix, in IANA's bootstrap format,\n"
           "                      instead of the list built in\n"
           "  --rdap-ca FILE      trust this CA certificate (PEM) as well as the system's\n"
           "  --rdap-rate N       requests per second to one RDAP server (default 1)\n"
           "  --rdap-pause SECONDS  auto: how long a registry that could not be reached is left\n"
           "                      alone (default 60); lookups then are answered at once, and the\n"
           "                      first one after it asks the registry again in the background\n"
           "  --time-zone ZONE    the zone lookup times are shown in, e.g. Asia/Shanghai, and that\n"
           "                      an import turns times with an offset into (default: the system's)\n"
           "  --watch-remind LEADS  reminders before a watched name's estimated drop (default\n"
           "                      24h,1h; none for no reminders)\n"
           "  --watch-pending TIME  how often a watched name is checked in pending delete and in\n"
           "                      its last day before the drop (default 10m; TIME as 90s, 10m, 6h, 2d)\n"
           "  --watch-grace TIME  ... in redemption and auto-renew grace (default 1h)\n"
           "  --watch-expiring TIME  ... with its expiry within 45 days (default 6h)\n"
           "  --watch-settled TIME  ... otherwise, and when not registered (default 1d)\n"
           "  --notify-command CMD  run CMD with /bin/sh for each event of the watchlist, besides the\n"
           "                      desktop notification, with the event in YUMING_NAME, YUMING_EVENT\n"
           "                      (status, deletion or reminder), YUMING_FROM, YUMING_TO, YUMING_STATUS,\n"
           "                      YUMING_DELETION (UTC, ISO 8601) and YUMING_TEXT; one still running\n"
           "                      after 10 s is killed, and one that fails is logged\n"
           "  --replace           import: the lists become the drop list; names not in them go\n"
           "  --date YYYY-MM-DD   import: the deletion day of bare names\n"
           "  --date-order mdy|dmy  import, feed add: dates written 12/05/2026 are month first\n"
           "                      (mdy) or day first (dmy); without it a list's own dates must say\n"
           "  --every TIME        feed add: how often the feed is fetched (default 24h)\n"
           "  --at HH:MM          feed add: the time of day its fetches are lined up on\n"
           "  --accept-shrink     feed fetch: take a list with fewer than half the names of the last\n"
           "  -h, --help          this text\n"
           "Settings can also be kept in " +
           configPath() +
           ",\n"
           "one per line as NAME = VALUE (rdap = off, rdap-rate = 2, ...); the command line wins.\n"
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

std::string configPath() {
    QString folder = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (folder.isEmpty() || !QDir::isAbsolutePath(folder))
        folder = user_service::homeFolder() + QStringLiteral("/.config");
    return (folder + QStringLiteral("/yuming/service.conf")).toStdString();
}

bool readConfig(const std::string& path, std::string& text) {
    QFile file(QString::fromStdString(path));
    if (!file.exists()) return true;
    constexpr qint64 kLargest = 64 * 1024;
    if (!file.open(QIODevice::ReadOnly) || file.size() > kLargest) {
        std::cerr << "yuming-service: cannot read " << path << ": "
                  << (file.size() > kLargest ? "larger than 64 KiB" : file.errorString().toStdString())
                  << '\n';
        return false;
    }
    text = file.readAll().toStdString();
    return true;
}

namespace {

// import --date: a day written YYYY-MM-DD, one a list's own dates could be.
std::string bareDate(const std::string& text, ServiceOptions& options) {
    const QDate date = QDate::fromString(QString::fromStdString(text), QStringLiteral("yyyy-MM-dd"));
    if (text.size() != 10 || !date.isValid())
        return "bad option: --date " + text + " (a day, written YYYY-MM-DD)";
    if (!saneListDate(date, QDate::currentDate()))
        return "bad option: --date " + text + " (from 1985-01-01 to 100 years from today)";
    options.bareDate = text;
    return {};
}

constexpr std::string_view kNotFeeds = "-";

// --every, --at and --accept-shrink, which only some feed commands take; kNotFeeds for another option.
std::string feedOption(const std::string& name, const std::string& arg, const std::vector<std::string>& args,
                       std::size_t& i, ServiceOptions& options) {
    using Action = ServiceOptions::FeedAction;
    const bool feeding = options.command == ServiceOptions::Command::Feed;
    if (name == "accept-shrink") {
        if (!feeding || options.feedAction != Action::Fetch) return "unknown option: " + arg;
        options.acceptShrink = true;
        return {};
    }
    if (name != "every" && name != "at") return std::string(kNotFeeds);
    if (!feeding || options.feedAction != Action::Add) return "unknown option: " + arg;
    if (i + 1 >= args.size()) return "missing value: " + arg;
    const std::string& value = args[++i];
    if (name == "every" && !feedEvery(value, options.feed.every))
        return "bad option: --every " + value + " (a TIME of 1h or more: 6h, 1d)";
    if (name == "at" && !timeOfDay(value, options.feed.at))
        return "bad option: --at " + value + " (a time of day, written HH:MM)";
    return {};
}

// The URLs after the feed command's word: one for add and remove, none or one for fetch.
std::string feedUrls(const std::vector<std::string>& urls, ServiceOptions& options) {
    using Action = ServiceOptions::FeedAction;
    const Action action = options.feedAction;
    const std::string word = action == Action::Add      ? "add"
                             : action == Action::Remove ? "remove"
                             : action == Action::List   ? "list"
                                                        : "fetch";
    if (action == Action::List && !urls.empty()) return "feed list takes no URL: " + urls.front();
    if ((action == Action::Add || action == Action::Remove) && urls.size() != 1)
        return "feed " + word + " needs one URL";
    if (action == Action::Fetch && urls.size() > 1) return "feed fetch takes one URL or none";
    if (urls.empty()) return {};
    if (!feedUrl(urls.front())) return "not an http or https URL: " + urls.front();
    options.feed.url = urls.front();
    return {};
}

// The options and import files after the command word, read by QCommandLineParser. It says in
// which order it found which options; the arguments are walked in step with that, so the first
// one that is wrong is the one named, as written. An option is written "--NAME" (or "-h"): the
// parser's other forms ("-NAME", "--NAME=VALUE") are not options here.
std::string applyCommandLine(const std::vector<std::string>& args, std::size_t from, ServiceOptions& options,
                             int& idleExit) {
    const bool checking = options.command == ServiceOptions::Command::Check;
    const bool importing = options.command == ServiceOptions::Command::Import;
    const bool feeding = options.command == ServiceOptions::Command::Feed;
    std::vector<std::string> urls;
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions(commandLineOptions());
    QStringList arguments{QStringLiteral("yuming-service")};
    for (std::size_t i = from; i < args.size(); ++i)
        arguments.append(QString::fromStdString(args[i]));
    // Its own errors are not the ones said: they are found again below, in the arguments' order.
    parser.parse(arguments);
    const QStringList found = parser.optionNames();
    qsizetype nextFound = 0;
    bool filesOnly = false;
    for (std::size_t i = from; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (feeding && (arg.size() < 2 || !arg.starts_with('-'))) {
            urls.push_back(arg);
            continue;
        }
        if (filesOnly || arg.size() < 2 || !arg.starts_with('-') || arg == "--") {
            if (!importing) return "unknown option: " + arg;
            if (!filesOnly && arg == "--")
                filesOnly = true;
            else
                options.importFiles.push_back(arg);
            continue;
        }
        const std::size_t dashes = arg.starts_with("--") ? 2 : 1;
        const std::string name = arg.substr(dashes, arg.find('=') - dashes);
        const bool known = nextFound < found.size() && found[nextFound].toStdString() == name;
        nextFound += known;
        const bool asWritten = (arg == "--" + name && name.size() > 1) || arg == "-h";
        if (!known || !asWritten) return "unknown option: " + arg;
        if (name == "h" || name == "help") {
            options.help = true;
            continue;
        }
        if (name == "replace") {
            if (!importing) return "unknown option: " + arg;
            options.replace = true;
            continue;
        }
        if (name == "date") {
            if (!importing) return "unknown option: " + arg;
            if (i + 1 >= args.size()) return "missing value: " + arg;
            if (std::string error = bareDate(args[++i], options); !error.empty()) return error;
            continue;
        }
        if (std::string error = feedOption(name, arg, args, i, options); error != kNotFeeds) {
            if (!error.empty()) return error;
            continue;
        }
        if (name == "date-order") {
            const bool adding = feeding && options.feedAction == ServiceOptions::FeedAction::Add;
            if (!importing && !adding) return "unknown option: " + arg;
            if (i + 1 >= args.size()) return "missing value: " + arg;
            const std::string& order = args[++i];
            if (!dateOrderOf(order, adding ? options.feed.dateOrder : options.dateOrder))
                return "bad option: --date-order " + order + " (mdy or dmy)";
            continue;
        }
        // What the feed commands and import take besides their own options.
        const bool common =
            name == "db" || arg == user_service::kUserOption || name == "time-zone" || name == "rdap-ca";
        if (feeding && !common)
            return "feed takes only --db, --user, --every, --at, --date-order, --accept-shrink, --rdap-ca or "
                   "--time-zone, not " +
                   arg;
        if (importing && !common)
            return "import takes only --db, --user, --replace, --date, --date-order, --time-zone or "
                   "--rdap-ca, "
                   "not " +
                   arg;
        if (checking && name != "db" && arg != user_service::kUserOption)
            return "check takes only --db or --user, not " + arg;
        // --rdap alone is on; a word after it that is no option is its value.
        if (name == "rdap" && i + 1 < args.size() && !args[i + 1].starts_with('-')) {
            if (std::string error = apply(arg, &args[++i], options, idleExit); !error.empty()) return error;
            continue;
        }
        const bool valued = takesValue(arg);
        if (valued && i + 1 >= args.size()) return "missing value: " + arg;
        if (std::string error = apply(arg, valued ? &args[++i] : nullptr, options, idleExit); !error.empty())
            return error;
    }
    if (importing && options.importFiles.empty() && !options.help) return "import needs at least one file";
    if (feeding && !options.help) return feedUrls(urls, options);
    return {};
}

} // namespace

OptionsResult parseOptions(const std::vector<std::string>& args, std::string_view configText,
                           std::string_view configName) {
    OptionsResult result;
    ServiceOptions& options = result.options;
    int idleExit = -1;
    std::size_t from = 0;
    if (!args.empty() && (args.front() == "check" || args.front() == "import")) {
        options.command =
            args.front() == "check" ? ServiceOptions::Command::Check : ServiceOptions::Command::Import;
        from = 1;
    } else if (!args.empty() && args.front() == "feed") {
        options.command = ServiceOptions::Command::Feed;
        from = 2;
        using Action = ServiceOptions::FeedAction;
        const std::string word = args.size() > 1 ? args[1] : std::string();
        if (word == "add")
            options.feedAction = Action::Add;
        else if (word == "remove")
            options.feedAction = Action::Remove;
        else if (word == "list")
            options.feedAction = Action::List;
        else if (word == "fetch")
            options.feedAction = Action::Fetch;
        else if (word == "-h" || word == "--help")
            from = 1;
        else {
            result.error = "feed needs add, remove, list or fetch" + (word.empty() ? "" : ", not " + word);
            return result;
        }
    }
    result.error = applyConfig(configText, configName, options.command, options, idleExit);
    if (result.ok()) result.error = applyCommandLine(args, from, options, idleExit);
    if (!result.ok()) return result;
    if (options.dbPath.empty()) options.dbPath = options.user ? userDbPath() : defaultDbPath();
    options.idleExitSeconds = idleExit >= 0 ? idleExit : options.user ? user_service::kIdleExitSeconds : 0;
    return result;
}

} // namespace yuming::service
