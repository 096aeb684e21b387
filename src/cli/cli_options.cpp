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
        "       yuming-cli [--service HOST[:PORT]] preset [--page N]\n"
        "       yuming-cli [--service HOST[:PORT]] lookup DOMAIN [--log FILE]\n"
        "search options (defaults are the window's):\n"
        "  --key TEXT            keyword\n"
        "  --pos any|left|right|both\n"
        "  --min N  --max N      total length range, 0 = no bound\n"
        "  --kind any|letters|digits\n"
        "  --sort time|letters|suffix|length|date\n"
        "  --suffix LIST         comma-separated from com,net,org (default com,net; empty = none)\n"
        "  --page N              result page, counted from 1\n"
        "lookup options:\n"
        "  --log FILE            the file each lookup page is appended to (default xxx.txt beside\n"
        "                        the program, or in the user's data folder where that is read-only)\n"
        "  -h, --help, help      this text\n"
        "Without --service the commands use this user's own yuming-service: the running one, or\n"
        "one they start (it seeds its database on first start and ends after 30 minutes without a\n"
        "request). --service HOST[:PORT] uses exactly that address and starts nothing.\n"
        "Status texts go to stderr; the page count and rows, or the lookup result, to stdout.\n"
        "Exit status: 0 done, 1 failed or timed out, 2 refused or bad usage.\n");
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
    if (o.job == Job::Lookup && !haveDomain) return fail(QStringLiteral("lookup needs a DOMAIN"));
    return o;
}

} // namespace yuming::cli
