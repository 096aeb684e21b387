#include "cli/cli_options.h"

#include "lookup/app_path.h"
#include "lookup/lookup_log.h"
#include "search/search_state.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

namespace yuming::cli {
namespace {

template <typename T> struct Named {
    QLatin1StringView name;
    T value;
};

// Each option's names for the values it takes, in the order the usage lists them.
constexpr Named<KeyPosition> kPositions[] = {{QLatin1StringView("any"), KeyPosition::Anywhere},
                                             {QLatin1StringView("left"), KeyPosition::Starts},
                                             {QLatin1StringView("right"), KeyPosition::Ends},
                                             {QLatin1StringView("both"), KeyPosition::StartsOrEnds}};
constexpr Named<CharKind> kKinds[] = {{QLatin1StringView("any"), CharKind::Any},
                                      {QLatin1StringView("letters"), CharKind::Letters},
                                      {QLatin1StringView("digits"), CharKind::Digits}};
constexpr Named<SortKey> kSorts[] = {{QLatin1StringView("time"), SortKey::DeletionTime},
                                     {QLatin1StringView("letters"), SortKey::Alphabetical},
                                     {QLatin1StringView("suffix"), SortKey::Suffix},
                                     {QLatin1StringView("length"), SortKey::Length},
                                     {QLatin1StringView("date"), SortKey::DeletionDateThenLength}};
constexpr Named<Suffix> kSuffixes[] = {
    {QLatin1StringView("com"), Com}, {QLatin1StringView("net"), Net}, {QLatin1StringView("org"), Org}};
constexpr Named<row_format::Format> kFormats[] = {{QLatin1StringView("tsv"), row_format::Format::Tsv},
                                                  {QLatin1StringView("csv"), row_format::Format::Csv},
                                                  {QLatin1StringView("json"), row_format::Format::Json}};

template <typename T, size_t N> std::optional<T> named(const Named<T> (&names)[N], const QString& value) {
    for (const Named<T>& n : names)
        if (n.name == value) return n.value;
    return std::nullopt;
}

template <typename T, size_t N> QString choices(const Named<T> (&names)[N]) {
    QStringList list;
    for (const Named<T>& n : names)
        list << n.name;
    return list.join(QLatin1Char('|'));
}

} // namespace

QString usage() {
    return QStringLiteral(
        "usage: yuming-cli [--service HOST[:PORT]] search [options]\n"
        "       yuming-cli [--service HOST[:PORT]] preset [--page N | --all-pages]\n"
        "       yuming-cli [--service HOST[:PORT]] lookup DOMAIN [--log FILE]\n"
        "       yuming-cli [--service HOST[:PORT]] lookup --file FILE|- [--delay MS] [--log FILE]\n"
        "       yuming-cli [--service HOST[:PORT]] watch add NAME...|--file FILE|-\n"
        "       yuming-cli [--service HOST[:PORT]] watch remove NAME...\n"
        "       yuming-cli [--service HOST[:PORT]] watch list [--format tsv|csv|json]\n"
        "       yuming-cli [--service HOST[:PORT]] watch check [NAME...]\n"
        "       yuming-cli [--service HOST[:PORT]] watch history NAME\n"
        "       yuming-cli [--service HOST[:PORT]] watch ics [--out FILE]\n"
        "search options (defaults are the window's):\n"
        "  --key TEXT            keyword\n"
        "  --pos any|left|right|both\n"
        "  --min N  --max N      total length range, 0 = no bound\n"
        "  --kind any|letters|digits\n"
        "  --sort time|letters|suffix|length|date\n"
        "  --suffix LIST         comma-separated from com,net,org (default com,net; empty = none)\n"
        "  --page N              result page, counted from 1\n"
        "  --all-pages           every page of the search, one after another (search and preset)\n"
        "  --format tsv|csv|json rows as tab-separated lines (default), CSV (UTF-8 with a byte-order\n"
        "                        mark, a header row) or one JSON object per row and a last summary\n"
        "  --delay MS            pause between the requests of --all-pages and --file (default 300)\n"
        "  --quiet               no progress on stderr\n"
        "lookup options:\n"
        "  --file FILE           look up one domain per line (blank lines and # comments skipped;\n"
        "                        - reads stdin); prints domain, outcome (registered, not-registered,\n"
        "                        refused, error, timeout), expiry and deletion, tab-separated\n"
        "  --log FILE            the file each lookup page is appended to (default xxx.txt beside\n"
        "                        the program, or in the user's data folder where that is read-only)\n"
        "watch (the names this user's service keeps checking):\n"
        "  add                   adds names (--file FILE or -: one per line, blank lines and # comments\n"
        "                        skipped); prints added and already-watched counts. Any name the\n"
        "                        service refuses is named on stderr and nothing is added\n"
        "  remove                stops watching names; prints how many were removed\n"
        "  list                  name, status, expiry, deletion, basis, seconds left, checked at;\n"
        "                        times in UTC (ISO 8601), empty (JSON: null) when unknown\n"
        "  check                 checks the names (default: all) now and waits for the answers;\n"
        "                        prints name, changed|unchanged|error, from, to for each\n"
        "  history               the name's status changes, oldest first: time, from, to\n"
        "  ics                   an iCalendar file of the deletion estimates (--out FILE, default\n"
        "                        stdout), one event each with an alarm an hour before\n"
        "  --token TOKEN         with --service: the service's token (default: $YUMING_TOKEN; the\n"
        "                        environment keeps it out of the process list). This user's own\n"
        "                        service needs none: its token is read from its record\n"
        "  -h, --help, help      this text\n"
        "Without --service the commands use this user's own yuming-service: the running one, or\n"
        "one they start (it seeds its database on first start and ends after 30 minutes without a\n"
        "request while its watchlist is empty). --service HOST[:PORT] uses exactly that address and starts nothing.\n"
        "Status texts go to stderr; the page count and rows, or the lookup result, to stdout.\n"
        "Exit status: 0 done, 1 failed or timed out (for --file: any domain not answered), 2 refused\n"
        "or bad usage, 130 stopped by Ctrl+C (after the request in flight; output ends on a whole line).\n"
        "watch: 0 done, 1 failed (the service refused the request or a name's check failed; the\n"
        "service's reason on stderr), 2 bad usage.\n");
}

namespace {

constexpr QLatin1StringView kFlags[] = {QLatin1StringView("all-pages"), QLatin1StringView("quiet")};
constexpr QLatin1StringView kValued[] = {
    QLatin1StringView("service"), QLatin1StringView("key"),    QLatin1StringView("pos"),
    QLatin1StringView("min"),     QLatin1StringView("max"),    QLatin1StringView("kind"),
    QLatin1StringView("sort"),    QLatin1StringView("suffix"), QLatin1StringView("page"),
    QLatin1StringView("log"),     QLatin1StringView("file"),   QLatin1StringView("delay"),
    QLatin1StringView("format"),  QLatin1StringView("out"),    QLatin1StringView("token")};

template <size_t N> bool listed(const QLatin1StringView (&names)[N], QStringView name) {
    for (QLatin1StringView n : names)
        if (n == name) return true;
    return false;
}

std::optional<std::uint8_t> suffixSet(const QString& list, QString& error) {
    std::uint8_t set = 0;
    for (const QString& s : list.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const auto suffix = named(kSuffixes, s.trimmed());
        if (!suffix) {
            error = QStringLiteral("unknown suffix: ") + s;
            return std::nullopt;
        }
        set |= *suffix;
    }
    return set;
}

// As the page box counts them, from 1, written as digits alone: the box's other readings (a sign,
// blanks, a fraction, an exponent) are not what a script means by a page.
bool isPageNumber(const QString& text) {
    if (text.isEmpty()) return false;
    bool nonZero = false;
    for (QChar c : text) {
        if (c < u'0' || c > u'9') return false;
        nonZero = nonZero || c != u'0';
    }
    return nonZero;
}

// The window's length boxes hold any text up to the line edit's own limit, and send it as it
// stands; longer text is what the window could never send.
constexpr qsizetype kLongestBoxText = 32767;

std::optional<int> delayOf(const QString& text) {
    bool ok = false;
    const int ms = text.toInt(&ok);
    if (!ok || ms < 0 || ms > 3600000) return std::nullopt;
    return ms;
}

// The service's token: 256 bits in lower-case hex.
bool isToken(QStringView text) {
    if (text.size() != 64) return false;
    for (QChar c : text)
        if (!(c >= u'0' && c <= u'9') && !(c >= u'a' && c <= u'f')) return false;
    return true;
}

QString tokenProblem(const QString& source) {
    return source + QStringLiteral(" takes the service's token: 64 hex digits, lower case");
}

// Why an option's value is no good, or nothing.
QString valueProblem(QStringView name, const QString& value) {
    const QString option = QStringLiteral("--") + name.toString();
    QString error;
    if (name == u"service" && !ServiceAddress::parse(value))
        return QStringLiteral("bad service address: ") + value;
    if (name == u"pos" && !named(kPositions, value))
        return option + QStringLiteral(" takes one of ") + choices(kPositions);
    if (name == u"kind" && !named(kKinds, value))
        return option + QStringLiteral(" takes one of ") + choices(kKinds);
    if (name == u"sort" && !named(kSorts, value))
        return option + QStringLiteral(" takes one of ") + choices(kSorts);
    if (name == u"suffix" && !suffixSet(value, error)) return error;
    if (name == u"delay" && !delayOf(value)) return QStringLiteral("--delay takes milliseconds");
    if (name == u"page" && !isPageNumber(value))
        return QStringLiteral("--page takes a page number from 1, in digits");
    if ((name == u"min" || name == u"max") && value.size() > kLongestBoxText)
        return option + QStringLiteral(" takes at most ") + QString::number(kLongestBoxText) +
               QStringLiteral(" characters, as the window's box does");
    if (name == u"log" && value.isEmpty()) return option + QStringLiteral(" takes a file name");
    if (name == u"out" && value.isEmpty()) return option + QStringLiteral(" takes a file name");
    if (name == u"token" && !isToken(value)) return tokenProblem(option);
    if (name == u"format" && !named(kFormats, value))
        return QStringLiteral("--format takes one of ") + choices(kFormats);
    return {};
}

std::optional<Job> jobNamed(QStringView name) {
    if (name == u"search") return Job::Search;
    if (name == u"preset") return Job::Preset;
    if (name == u"lookup") return Job::Lookup;
    if (name == u"watch") return Job::Watch;
    return std::nullopt;
}

std::optional<WatchCommand> watchCommandNamed(QStringView name) {
    if (name == u"add") return WatchCommand::Add;
    if (name == u"remove") return WatchCommand::Remove;
    if (name == u"list") return WatchCommand::List;
    if (name == u"check") return WatchCommand::Check;
    if (name == u"history") return WatchCommand::History;
    if (name == u"ics") return WatchCommand::Ics;
    return std::nullopt;
}

// The arguments in their order, checked one by one: the first that is wrong is the one reported,
// and a request for help counts only if it comes before any. What passes is handed to the parser
// in a form it cannot read otherwise: every option with its value, then the plain arguments.
struct Walk {
    QStringList forParser{QStringLiteral("yuming-cli")};
    QStringList plain;
    bool help = false;
    QString error;
};

Walk walk(const QStringList& args) {
    Walk w;
    std::optional<Job> job;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h") || arg == QLatin1String("help")) {
            w.help = true;
            return w;
        }
        if (!arg.startsWith(QLatin1String("--"))) {
            if (!job) job = jobNamed(arg);
            if (!job) {
                w.error = QStringLiteral("unknown command: ") + arg;
                return w;
            }
            // The command, then a lookup's one domain; watch's own command and its names.
            const qsizetype most = *job == Job::Lookup ? 2 : *job == Job::Watch ? args.size() : 1;
            if (w.plain.size() >= most) {
                w.error = QStringLiteral("unexpected argument: ") + arg;
                return w;
            }
            w.plain << arg;
            continue;
        }
        // --name=value is the same as --name value; the value may itself hold '='.
        QStringView name = QStringView(arg).mid(2);
        const qsizetype equals = name.indexOf(u'=');
        const bool joined = equals >= 0;
        if (joined) name = name.first(equals);
        const QString option = QStringLiteral("--") + name.toString();
        if (listed(kFlags, name)) {
            if (joined) {
                w.error = option + QStringLiteral(" takes no value");
                return w;
            }
            w.forParser << option;
            continue;
        }
        if (!joined && i + 1 >= args.size()) {
            w.error = arg + QStringLiteral(" needs a value");
            return w;
        }
        const QString value = joined ? arg.mid(2 + equals + 1) : args[++i];
        if (!listed(kValued, name)) {
            w.error = QStringLiteral("unknown option: ") + option;
            return w;
        }
        if (w.error = valueProblem(name, value); !w.error.isEmpty()) return w;
        w.forParser << option << value;
    }
    w.forParser << QStringLiteral("--") << w.plain;
    return w;
}

// Fills in a watch command from the arguments after "watch", or says why they are no good.
QString watchProblem(Options& o, const QStringList& plain, bool formatGiven, bool tokenGiven) {
    if (plain.isEmpty()) return QStringLiteral("watch needs one of add, remove, list, check, history, ics");
    const auto command = watchCommandNamed(plain[0]);
    if (!command) return QStringLiteral("unknown watch command: ") + plain[0];
    o.watch = *command;
    o.names = plain.mid(1);
    const bool fromFile = !o.lookupFile.isEmpty();
    if (fromFile && o.watch != WatchCommand::Add) return QStringLiteral("--file is for lookup and watch add");
    if (!o.outPath.isEmpty() && o.watch != WatchCommand::Ics) return QStringLiteral("--out is for watch ics");
    if (formatGiven && o.watch != WatchCommand::List) return QStringLiteral("--format is for watch list");
    if (o.service.userService && tokenGiven) return QStringLiteral("--token goes with --service");
    if (!o.service.userService && !tokenGiven) {
        o.token = qgetenv("YUMING_TOKEN");
        if (!o.token.isEmpty() && !isToken(QString::fromLatin1(o.token)))
            return QStringLiteral("YUMING_TOKEN holds no token: 64 hex digits, lower case");
    }
    switch (o.watch) {
    case WatchCommand::Add:
        if (!fromFile && o.names == QStringList{QStringLiteral("-")}) {
            o.names.clear();
            o.lookupFile = QStringLiteral("-");
            return {};
        }
        if (o.names.contains(QStringLiteral("-")))
            return QStringLiteral("- reads the names from stdin, alone");
        if (o.names.isEmpty() == !fromFile)
            return QStringLiteral("watch add takes NAME..., --file FILE or -");
        return {};
    case WatchCommand::Remove:
        return o.names.isEmpty() ? QStringLiteral("watch remove needs names") : QString();
    case WatchCommand::History:
        return o.names.size() == 1 ? QString() : QStringLiteral("watch history takes one name");
    case WatchCommand::Check:
        return {};
    case WatchCommand::List:
    case WatchCommand::Ics:
        return o.names.isEmpty() ? QString() : QStringLiteral("unexpected argument: ") + o.names[0];
    }
    return {};
}

} // namespace

std::optional<Options> parseOptions(const QStringList& args, QString& error) {
    const Walk w = walk(args);
    Options o;
    o.logPath = lookupLogPath(GetAppPath());
    if (w.help) {
        o.help = true;
        return o;
    }
    if (!w.error.isEmpty()) {
        error = w.error;
        return std::nullopt;
    }
    QCommandLineParser parser;
    for (QLatin1StringView flag : kFlags)
        parser.addOption(QCommandLineOption(flag));
    for (QLatin1StringView valued : kValued)
        parser.addOption(QCommandLineOption(valued, {}, QStringLiteral("value")));
    parser.addPositionalArgument(QStringLiteral("command"), {});
    // Every argument is checked above; this cannot fail.
    const bool parsed = parser.parse(w.forParser);
    Q_ASSERT(parsed);
    Q_UNUSED(parsed);
    const auto value = [&parser](const char* name) { return parser.value(QLatin1StringView(name)); };
    const auto given = [&parser](const char* name) { return parser.isSet(QLatin1StringView(name)); };

    const QStringList plain = parser.positionalArguments();
    if (plain.isEmpty()) {
        error = QStringLiteral("no command given");
        return std::nullopt;
    }
    o.job = *jobNamed(plain[0]);
    const bool haveDomain = plain.size() > 1;
    if (haveDomain) o.domain = plain[1];
    if (given("service")) o.service = *ServiceAddress::parse(value("service"));
    if (given("key")) o.filters.keyword = value("key");
    if (given("min")) o.filters.minLength = value("min");
    if (given("max")) o.filters.maxLength = value("max");
    if (given("pos")) o.filters.position = *named(kPositions, value("pos"));
    if (given("kind")) o.filters.kind = *named(kKinds, value("kind"));
    if (given("sort")) o.filters.sort = *named(kSorts, value("sort"));
    if (given("suffix")) o.filters.suffixes = *suffixSet(value("suffix"), error);
    if (given("format")) o.format = *named(kFormats, value("format"));
    if (given("delay")) o.delayMs = *delayOf(value("delay"));
    if (given("log")) o.logPath = value("log");
    o.page = value("page");
    o.lookupFile = value("file");
    o.allPages = given("all-pages");
    o.quiet = given("quiet");
    o.outPath = value("out");
    o.token = value("token").toLatin1();

    const auto fail = [&error](const QString& why) {
        error = why;
        return std::nullopt;
    };
    // Paging after a preset search reads the filter controls, as the window does; for the
    // preset those are the window's start state with org ticked as well, which is what the
    // preset itself asks for.
    if (o.job == Job::Preset) o.filters = presetQuery();
    if (o.job == Job::Lookup && haveDomain == !o.lookupFile.isEmpty())
        return fail(QStringLiteral("lookup needs a DOMAIN or --file, not both"));
    if (o.job == Job::Watch) {
        if (const QString problem = watchProblem(o, plain.mid(1), given("format"), given("token"));
            !problem.isEmpty())
            return fail(problem);
        return o;
    }
    if (!o.outPath.isEmpty()) return fail(QStringLiteral("--out is for watch ics"));
    if (given("token")) return fail(QStringLiteral("--token is for watch"));
    if (o.job != Job::Lookup && !o.lookupFile.isEmpty()) return fail(QStringLiteral("--file is for lookup"));
    if (o.job == Job::Lookup && o.allPages)
        return fail(QStringLiteral("--all-pages is for search and preset"));
    if (o.allPages && !o.page.isEmpty())
        return fail(QStringLiteral("--all-pages and --page do not go together"));
    return o;
}

} // namespace yuming::cli
