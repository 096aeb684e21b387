#include "cli/cli_options.h"

#include "lookup/app_path.h"
#include "lookup/lookup_log.h"

namespace yuming::cli {
namespace {

// Each option group's names, in the order of the window's buttons.
const QStringList kPositions{"any", "left", "right", "both"};
const QStringList kKinds{"any", "letters", "digits"};
const QStringList kSorts{"time", "letters", "suffix", "length", "date"};
const QStringList kSuffixes{"com", "net", "org"};

std::optional<int> choice(const QStringList& names, const QString& value) {
    const qsizetype i = names.indexOf(value);
    if (i >= 0) return static_cast<int>(i);
    return std::nullopt;
}

} // namespace

QString usage() {
    return QStringLiteral(
        "usage: yuming-cli [--service HOST[:PORT]] search [options]\n"
        "       yuming-cli [--service HOST[:PORT]] preset [--page N | --all-pages]\n"
        "       yuming-cli [--service HOST[:PORT]] lookup DOMAIN [--log FILE]\n"
        "       yuming-cli [--service HOST[:PORT]] lookup --file FILE|- [--delay MS] [--log FILE]\n"
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
        "  -h, --help, help      this text\n"
        "Without --service the commands use this user's own yuming-service: the running one, or\n"
        "one they start (it seeds its database on first start and ends after 30 minutes without a\n"
        "request). --service HOST[:PORT] uses exactly that address and starts nothing.\n"
        "Status texts go to stderr; the page count and rows, or the lookup result, to stdout.\n"
        "Exit status: 0 done, 1 failed or timed out (for --file: any domain not answered), 2 refused\n"
        "or bad usage, 130 stopped by Ctrl+C (after the request in flight; output ends on a whole line).\n");
}

std::optional<Options> parseOptions(const QStringList& args, QString& error) {
    Options o;
    o.logPath = lookupLogPath(GetAppPath());
    bool haveJob = false;
    bool haveDomain = false;
    auto fail = [&error](const QString& why) {
        error = why;
        return std::nullopt;
    };
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        auto value = [&]() -> std::optional<QString> {
            if (i + 1 >= args.size()) return std::nullopt;
            return args[++i];
        };
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h") || arg == QLatin1String("help")) {
            o.help = true;
            return o;
        }
        if (!arg.startsWith(QLatin1String("--"))) {
            if (!haveJob) {
                if (arg == QLatin1String("search")) o.job = Job::Search;
                else if (arg == QLatin1String("preset")) o.job = Job::Preset;
                else if (arg == QLatin1String("lookup")) o.job = Job::Lookup;
                else return fail(QStringLiteral("unknown command: ") + arg);
                haveJob = true;
                continue;
            }
            if (o.job == Job::Lookup && !haveDomain) {
                o.domain = arg;
                haveDomain = true;
                continue;
            }
            return fail(QStringLiteral("unexpected argument: ") + arg);
        }
        if (arg == QLatin1String("--all-pages")) {
            o.allPages = true;
            continue;
        }
        if (arg == QLatin1String("--quiet")) {
            o.quiet = true;
            continue;
        }
        const auto v = value();
        if (!v) return fail(arg + QStringLiteral(" needs a value"));
        if (arg == QLatin1String("--service")) {
            const auto s = ServiceAddress::parse(*v);
            if (!s) return fail(QStringLiteral("bad service address: ") + *v);
            o.service = *s;
        } else if (arg == QLatin1String("--key")) {
            o.controls.Text1 = *v;
        } else if (arg == QLatin1String("--min")) {
            o.controls.Text2 = *v;
        } else if (arg == QLatin1String("--max")) {
            o.controls.Text3 = *v;
        } else if (arg == QLatin1String("--pos") || arg == QLatin1String("--kind") || arg == QLatin1String("--sort")) {
            const QStringList& names = arg == QLatin1String("--pos") ? kPositions
                                       : arg == QLatin1String("--kind") ? kKinds : kSorts;
            const auto c = choice(names, *v);
            if (!c) return fail(arg + QStringLiteral(" takes one of ") + names.join(QLatin1Char('|')));
            (arg == QLatin1String("--pos") ? o.controls.Option1
             : arg == QLatin1String("--kind") ? o.controls.Option2 : o.controls.Option3) = *c;
        } else if (arg == QLatin1String("--suffix")) {
            o.controls.Check1 = {false, false, false};
            for (const QString& s : v->split(QLatin1Char(','), Qt::SkipEmptyParts)) {
                const auto c = choice(kSuffixes, s.trimmed());
                if (!c) return fail(QStringLiteral("unknown suffix: ") + s);
                o.controls.Check1[static_cast<size_t>(*c)] = true;
            }
        } else if (arg == QLatin1String("--page")) {
            o.page = *v;
        } else if (arg == QLatin1String("--log")) {
            o.logPath = *v;
        } else if (arg == QLatin1String("--file")) {
            o.lookupFile = *v;
        } else if (arg == QLatin1String("--delay")) {
            bool ok = false;
            o.delayMs = v->toInt(&ok);
            if (!ok || o.delayMs < 0 || o.delayMs > 3600000) return fail(QStringLiteral("--delay takes milliseconds"));
        } else if (arg == QLatin1String("--format")) {
            static const QStringList formats{"tsv", "csv", "json"};
            const auto c = choice(formats, *v);
            if (!c) return fail(QStringLiteral("--format takes one of tsv|csv|json"));
            o.format = static_cast<row_format::Format>(*c);
        } else {
            return fail(QStringLiteral("unknown option: ") + arg);
        }
    }
    if (!haveJob) return fail(QStringLiteral("no command given"));
    // Paging after a preset search reads the filter controls, as the window does; for the
    // preset those are the window's start state with org ticked as well, which is what the
    // preset itself asks for.
    if (o.job == Job::Preset) {
        o.controls = SearchControls();
        o.controls.Check1 = {true, true, true};
    }
    if (o.job == Job::Lookup && haveDomain == !o.lookupFile.isEmpty())
        return fail(QStringLiteral("lookup needs a DOMAIN or --file, not both"));
    if (o.job != Job::Lookup && !o.lookupFile.isEmpty()) return fail(QStringLiteral("--file is for lookup"));
    if (o.job == Job::Lookup && o.allPages) return fail(QStringLiteral("--all-pages is for search and preset"));
    if (o.allPages && !o.page.isEmpty()) return fail(QStringLiteral("--all-pages and --page do not go together"));
    return o;
}

} // namespace yuming::cli
