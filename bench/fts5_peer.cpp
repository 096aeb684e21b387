// The search catalogue against what a user would build instead: the same drop list in a SQLite
// table with an FTS5 trigram index on the name, asked with MATCH for keywords of three letters
// or more and LIKE '%key%' for shorter ones (trigrams cannot serve those). Every search runs on
// both sides first and must give the same count and the same page of rows; then each side is
// timed on its own.
#include "catalog/catalog.h"
#include "http/pages.h"
#include "store/store.h"

#include <QDate>
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

using namespace yuming;
using namespace yuming::service;
namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<bool> g_stop = false;
std::atomic<sqlite3*> g_busy = nullptr;

void onSignal(int) {
    g_stop = true;
    if (sqlite3* db = g_busy.load()) sqlite3_interrupt(db);
}

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Thousands apart with commas, as the tables show counts.
std::string grouped(std::int64_t value) {
    std::string digits = std::to_string(value < 0 ? -value : value);
    for (auto i = static_cast<std::ptrdiff_t>(digits.size()) - 3; i > 0; i -= 3)
        digits.insert(static_cast<std::size_t>(i), ",");
    return value < 0 ? "-" + digits : digits;
}

struct Options {
    std::string database;
    int generate = 0;
    QDate today = QDate::currentDate();
    fs::path work;
    double budgetMs = 1000;
    bool keep = false;
    bool checkOnly = false;
};

constexpr std::string_view kUsage =
    "usage: fts5_peer (DATABASE | --generate N) [--today yyyy-MM-dd] [--work DIR] [--budget-ms MS] [--check] "
    "[--keep]\n"
    "  DATABASE        a yuming-service database; its drop list of --today (default: today) is read,\n"
    "                  never changed\n"
    "  --generate N    instead, a new database of N generated names in the work folder\n"
    "  --work DIR      where the peer's SQLite file goes (default $TMPDIR or /tmp); removed at the\n"
    "                  end unless --keep\n"
    "  --budget-ms MS  time each side spends on one search (default 1000; at least 3 runs)\n"
    "  --check         compare the answers only, time nothing\n";

std::optional<Options> parseOptions(int argc, char** argv, std::string& error) {
    Options options;
    const char* tmp = std::getenv("TMPDIR");
    options.work = tmp && *tmp ? tmp : "/tmp";
    const auto number = [&](std::string_view text, auto& out, std::string_view name) {
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
        if (ec == std::errc{} && end == text.data() + text.size() && out >= 0) return true;
        error = std::string(name) + " wants a whole number from 0 up, not '" + std::string(text) + "'";
        return false;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool takesValue =
            arg == "--generate" || arg == "--today" || arg == "--work" || arg == "--budget-ms";
        if (takesValue && i + 1 == argc) {
            error = std::string(arg) + " needs a value";
            return std::nullopt;
        }
        if (arg == "--generate") {
            if (!number(argv[++i], options.generate, arg)) return std::nullopt;
            if (options.generate == 0) {
                error = "--generate wants at least one name";
                return std::nullopt;
            }
        } else if (arg == "--today") {
            options.today = QDate::fromString(QString::fromUtf8(argv[++i]), Qt::ISODate);
            if (!options.today.isValid()) {
                error = std::string("--today wants a date like 2026-12-09, not '") + argv[i] + "'";
                return std::nullopt;
            }
        } else if (arg == "--work") {
            options.work = argv[++i];
        } else if (arg == "--budget-ms") {
            int budget = 0;
            if (!number(argv[++i], budget, arg)) return std::nullopt;
            options.budgetMs = budget;
        } else if (arg == "--check") {
            options.checkOnly = true;
        } else if (arg == "--keep") {
            options.keep = true;
        } else if (arg.starts_with("-") || !options.database.empty()) {
            error = "unexpected argument: " + std::string(arg);
            return std::nullopt;
        } else {
            options.database = arg;
        }
    }
    if (options.database.empty() == (options.generate == 0)) {
        error = "give either a database or --generate N";
        return std::nullopt;
    }
    return options;
}

// A folder of this run's own, removed with everything in it at the end.
class WorkFolder {
public:
    bool make(const fs::path& parent, bool keep, std::string& error) {
        std::string pattern = (parent / "fts5-peer.XXXXXX").string();
        if (!::mkdtemp(pattern.data())) {
            error = "cannot make a folder in " + parent.string() + ": " + std::strerror(errno);
            return false;
        }
        m_path = pattern;
        m_keep = keep;
        return true;
    }
    ~WorkFolder() {
        if (m_path.empty()) return;
        if (m_keep) {
            std::cerr << "work folder kept: " << m_path.string() << '\n';
            return;
        }
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    const fs::path& path() const { return m_path; }

private:
    fs::path m_path;
    bool m_keep = false;
};

struct Statement {
    sqlite3_stmt* handle = nullptr;
    Statement() = default;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    Statement(Statement&& other) noexcept : handle(std::exchange(other.handle, nullptr)) {}
    ~Statement() { sqlite3_finalize(handle); }
};

using Rows = std::vector<std::tuple<std::string, std::string, std::string>>;

struct Answer {
    std::int64_t total = 0;
    Rows rows;
    std::string error;
};

// The peer: the names in a plain table, and an external-content FTS5 index over the name with
// the trigram tokenizer.
class Peer {
public:
    ~Peer() {
        g_busy = nullptr;
        sqlite3_close(m_db);
    }

    bool open(const fs::path& file, std::string& error) {
        if (sqlite3_open(file.c_str(), &m_db) != SQLITE_OK) return fail(error);
        g_busy = m_db;
        // A copy made for searching and thrown away: no journal, no syncing while it is built;
        // then the whole file mapped, and sorts kept in memory.
        return run("PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF; PRAGMA temp_store = MEMORY;"
                   "PRAGMA cache_size = -262144; PRAGMA mmap_size = 2147418112;"
                   "CREATE TABLE names(id INTEGER PRIMARY KEY, name TEXT NOT NULL, suffix TEXT NOT NULL,"
                   " deletion TEXT NOT NULL)",
                   error);
    }

    bool fill(const std::vector<ListedName>& names, std::string& error) {
        Statement insert;
        if (!run("BEGIN", error) ||
            !prepare("INSERT INTO names(name, suffix, deletion) VALUES (?, ?, ?)", insert, error))
            return false;
        for (const ListedName& row : names) {
            const std::string_view suffix = suffixName(row.suffix);
            sqlite3_bind_text(insert.handle, 1, row.name.data(), static_cast<int>(row.name.size()),
                              SQLITE_STATIC);
            sqlite3_bind_text(insert.handle, 2, suffix.data(), static_cast<int>(suffix.size()),
                              SQLITE_STATIC);
            sqlite3_bind_text(insert.handle, 3, row.deletion.data(), static_cast<int>(row.deletion.size()),
                              SQLITE_STATIC);
            if (sqlite3_step(insert.handle) != SQLITE_DONE) return fail(error);
            sqlite3_reset(insert.handle);
        }
        return run("COMMIT", error);
    }

    bool index(std::string& error) {
        if (!run("CREATE VIRTUAL TABLE names_fts USING fts5(name, content='names', content_rowid='id',"
                 " tokenize='trigram')",
                 error)) {
            if (error.find("trigram") != std::string::npos)
                error +=
                    " (this SQLite, " + std::string(sqlite3_libversion()) + ", has no trigram tokenizer)";
            return false;
        }
        return run("INSERT INTO names_fts(names_fts) VALUES ('rebuild')", error);
    }

    bool optimize(std::string& error) {
        return run("INSERT INTO names_fts(names_fts) VALUES ('optimize')", error);
    }

    // The count and the page of one search, the way the tool asks for them: two statements.
    struct Search {
        Statement count;
        Statement page;
        std::string pattern;
    };

    bool prepare(const SearchFilters& filters, Search& search, std::string& error) {
        std::string from = "names n";
        std::string where;
        const auto also = [&](const std::string& clause) {
            where += (where.empty() ? " WHERE " : " AND ") + clause;
        };
        if (filters.keyword.size() >= 3) {
            from = "names_fts JOIN names n ON n.id = names_fts.rowid";
            also("names_fts MATCH ?1");
            search.pattern = '"' + filters.keyword + '"';
        } else if (!filters.keyword.empty()) {
            also("n.name LIKE ?1");
            search.pattern = '%' + filters.keyword + '%';
        }
        std::string suffixes;
        for (Suffix s : {Com, Net, Org, Cn})
            if (filters.suffixes & s)
                suffixes += (suffixes.empty() ? "'" : ", '") + std::string(suffixName(s)) + "'";
        also("n.suffix IN (" + suffixes + ")");
        if (filters.kind == CharKind::Letters) also("n.name NOT GLOB '*[^a-z]*'");
        if (filters.kind == CharKind::Digits) also("n.name NOT GLOB '*[^0-9]*'");
        if (filters.minLength > 0) also("length(n.name) >= " + std::to_string(filters.minLength));
        if (filters.maxLength > 0) also("length(n.name) <= " + std::to_string(filters.maxLength));
        return prepare("SELECT count(*) FROM " + from + where, search.count, error) &&
               prepare("SELECT n.name, n.suffix, n.deletion FROM " + from + where +
                           " ORDER BY substr(n.deletion, 1, 10), length(n.name), n.name, n.suffix"
                           " LIMIT " +
                           std::to_string(kPageSize) + " OFFSET ?2",
                       search.page, error);
    }

    Answer ask(Search& search, std::int64_t page) {
        Answer answer;
        for (sqlite3_stmt* statement : {search.count.handle, search.page.handle}) {
            sqlite3_reset(statement);
            if (!search.pattern.empty())
                sqlite3_bind_text(statement, 1, search.pattern.data(),
                                  static_cast<int>(search.pattern.size()), SQLITE_STATIC);
        }
        sqlite3_bind_int64(search.page.handle, 2, page * kPageSize);
        if (sqlite3_step(search.count.handle) != SQLITE_ROW) return failed(answer);
        answer.total = sqlite3_column_int64(search.count.handle, 0);
        int step = 0;
        while ((step = sqlite3_step(search.page.handle)) == SQLITE_ROW)
            answer.rows.emplace_back(text(search.page.handle, 0), text(search.page.handle, 1),
                                     text(search.page.handle, 2));
        if (step != SQLITE_DONE) return failed(answer);
        return answer;
    }

private:
    static std::string text(sqlite3_stmt* statement, int column) {
        const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
        return bytes ? std::string(bytes, static_cast<std::size_t>(sqlite3_column_bytes(statement, column)))
                     : "";
    }
    bool fail(std::string& error) {
        error = m_db ? sqlite3_errmsg(m_db) : "out of memory";
        return false;
    }
    Answer& failed(Answer& answer) {
        answer.error = sqlite3_errmsg(m_db);
        return answer;
    }
    bool run(const std::string& sql, std::string& error) {
        char* message = nullptr;
        if (sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return true;
        error = message ? message : sqlite3_errmsg(m_db);
        sqlite3_free(message);
        return false;
    }
    bool prepare(const std::string& sql, Statement& statement, std::string& error) {
        if (sqlite3_prepare_v2(m_db, sql.c_str(), -1, &statement.handle, nullptr) == SQLITE_OK) return true;
        error = std::string(sqlite3_errmsg(m_db)) + " in: " + sql;
        return false;
    }

    sqlite3* m_db = nullptr;
};

Answer ours(const Catalog& catalog, const SearchFilters& filters) {
    const Catalog::Page page = catalog.search(filters, kPageSize);
    Answer answer;
    answer.total = page.total;
    answer.rows.reserve(page.rows.size());
    for (std::uint32_t id : page.rows) {
        const Catalog::Row row = catalog.row(id);
        answer.rows.emplace_back(std::string(row.name), std::string(suffixName(row.suffix)),
                                 std::string(row.deletion));
    }
    return answer;
}

// One search of the comparison: a contains search with the tool's default filters (com and
// net, sorted by deletion day then length) unless it says otherwise.
struct Case {
    std::string label;
    std::string keyword;
    CharKind kind = CharKind::Any;
    int minLength = 0;
    int maxLength = 0;
};

const std::vector<Case>& cases() {
    static const std::vector<Case> list = {
        {"1 letter, common", "a"},
        {"1 letter, rare", "v"},
        {"1 digit", "8"},
        {"2 letters, common", "an"},
        {"2 letters, rare", "qz"},
        {"2 digits", "88"},
        {"3 letters, common", "ang"},
        {"3 letters, rare", "xyz"},
        {"3 with a hyphen", "t-s"},
        {"4 letters, common", "shop"},
        {"5 letters", "cloud"},
        {"6 letters, rare", "dragon"},
        {"4 letters, none", "qqqq"},
        {"2 letters, letters only", "an", CharKind::Letters},
        {"1 digit, digits only", "8", CharKind::Digits},
        {"3 letters, length 5-8", "hao", CharKind::Any, 5, 8},
        {"1 letter, length 12 up", "e", CharKind::Any, 12, 0},
    };
    return list;
}

SearchFilters filtersOf(const Case& c, std::int64_t page) {
    SearchFilters filters;
    filters.keyword = c.keyword;
    filters.position = KeyPosition::Anywhere;
    filters.kind = c.kind;
    filters.minLength = c.minLength;
    filters.maxLength = c.maxLength;
    filters.sort = SortKey::DeletionDateThenLength;
    filters.suffixes = Com | Net;
    filters.page = page;
    return filters;
}

std::string rowText(const Rows& rows, std::size_t i) {
    if (i >= rows.size()) return "(none)";
    const auto& [name, suffix, deletion] = rows[i];
    return name + '.' + suffix + ' ' + deletion;
}

// Prints where the two answers part; true when they agree.
bool agree(const std::string& what, const Answer& mine, const Answer& peer) {
    if (mine.total == peer.total && mine.rows == peer.rows) return true;
    std::cout << "DIFFERENT: " << what << ": count " << mine.total << " (catalogue) vs " << peer.total
              << " (FTS5), " << mine.rows.size() << " vs " << peer.rows.size() << " rows\n";
    int shown = 0;
    for (std::size_t i = 0; i < std::max(mine.rows.size(), peer.rows.size()) && shown < 5; ++i) {
        if (i < mine.rows.size() && i < peer.rows.size() && mine.rows[i] == peer.rows[i]) continue;
        std::cout << "  row " << i << ": " << rowText(mine.rows, i) << "  |  " << rowText(peer.rows, i)
                  << '\n';
        ++shown;
    }
    return false;
}

struct Timing {
    std::size_t runs = 0;
    double p50 = 0;
    double p99 = 0;
};

// Runs `once` for `budgetMs` (at least three times, at most 5,000), in microseconds.
template <typename Once> Timing timed(Once once, double budgetMs) {
    std::vector<double> us;
    const auto start = Clock::now();
    while (!g_stop && (us.size() < 3 || (msSince(start) < budgetMs && us.size() < 5000))) {
        const auto t0 = Clock::now();
        once();
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    if (us.empty()) return {};
    std::sort(us.begin(), us.end());
    const auto rank = [&](double q) {
        return us[std::min(us.size() - 1,
                           static_cast<std::size_t>(std::ceil(q * static_cast<double>(us.size()))) - 1)];
    };
    return {us.size(), rank(0.5), rank(0.99)};
}

// Microseconds: whole ones, with a decimal below 10.
std::string micro(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", value < 10 ? 1 : 0, value);
    return text;
}

std::string fixed(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

int fail(const std::string& message) {
    std::cerr << "fts5_peer: " << message << '\n';
    return 1;
}

// A stop asked for by a signal takes effect between steps (reading the list and building the
// catalogue are not cut short); SQLite's own work is interrupted.
int stopped() {
    std::cerr << "fts5_peer: stopped\n";
    return 130;
}

} // namespace

int main(int argc, char** argv) {
    std::string error;
    const auto options = parseOptions(argc, argv, error);
    if (!options) {
        std::cerr << kUsage << "fts5_peer: " << error << '\n';
        return 2;
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    WorkFolder work;
    if (!work.make(options->work, options->keep, error)) return fail(error);

    std::string database = options->database;
    if (options->generate > 0) {
        database = (work.path() / "generated.sqlite").string();
        const auto t0 = Clock::now();
        if (!prepareDatabase(database, SeedOptions{1, options->generate}, options->today, error))
            return fail("cannot make a database of " + std::to_string(options->generate) +
                        " names: " + error);
        if (g_stop) return stopped();
        std::cout << "generated " << grouped(options->generate) << " names in " << fixed(msSince(t0), 0)
                  << " ms\n";
    } else if (!fs::is_regular_file(database)) {
        return fail("no database at " + database);
    }

    auto t0 = Clock::now();
    Store store(database);
    if (!store.isOpen()) return fail("cannot open " + database + ": " + store.error());
    auto listed = store.listed(options->today);
    if (g_stop) return stopped();
    if (!listed.ok()) return fail("cannot read the drop list of " + database + ": " + listed.error);
    const std::vector<ListedName>& names = listed.value;
    const QByteArray day = options->today.toString(Qt::ISODate).toUtf8();
    if (names.empty())
        return fail("no names drop from " + day.toStdString() + " on in " + database +
                    " (a database last dated earlier moves to today when yuming-service next starts on it;"
                    " or give --today)");
    std::cout << "drop list of " << day.constData() << ": "
              << grouped(static_cast<std::int64_t>(names.size())) << " names read in "
              << fixed(msSince(t0), 0) << " ms\n";

    t0 = Clock::now();
    const Catalog catalog(names);
    if (g_stop) return stopped();
    std::cout << "catalogue built in " << fixed(msSince(t0), 0) << " ms\n";

    Peer peer;
    const auto peerFailed = [&](const std::string& what) { return g_stop ? stopped() : fail(what + error); };
    const fs::path peerFile = work.path() / "fts5.sqlite";
    t0 = Clock::now();
    if (!peer.open(peerFile, error) || !peer.fill(names, error))
        return peerFailed("cannot fill the peer's table: ");
    const double fillMs = msSince(t0);
    const auto tableBytes = fs::file_size(peerFile);
    t0 = Clock::now();
    if (!peer.index(error)) return peerFailed("cannot build the FTS5 index: ");
    const double indexMs = msSince(t0);
    t0 = Clock::now();
    if (!peer.optimize(error)) return peerFailed("cannot optimize the FTS5 index: ");
    const double optimizeMs = msSince(t0);
    const auto allBytes = fs::file_size(peerFile);
    std::cout << "peer (SQLite " << sqlite3_libversion() << "): table filled in " << fixed(fillMs, 0)
              << " ms (" << tableBytes / (1 << 20) << " MiB), FTS5 trigram index built in "
              << fixed(indexMs, 0) << " ms and optimized in " << fixed(optimizeMs, 0) << " ms (+"
              << (allBytes - tableBytes) / (1 << 20) << " MiB)\n";

    struct Search {
        std::string label;
        SearchFilters filters;
        Peer::Search peer;
        std::int64_t total = 0;
    };
    std::vector<Search> searches;
    bool same = true;
    for (const Case& c : cases()) {
        const Answer first = ours(catalog, filtersOf(c, 0));
        const std::int64_t lastPage = first.total == 0 ? 0 : (first.total - 1) / kPageSize;
        std::vector<std::int64_t> pages{0};
        if (lastPage > 0) pages.push_back(std::min<std::int64_t>(200, lastPage));
        for (const std::int64_t page : pages) {
            Search s{c.label + ", page " + std::to_string(page), filtersOf(c, page), {}, 0};
            if (!peer.prepare(s.filters, s.peer, error)) return fail(error);
            const Answer mine = ours(catalog, s.filters);
            const Answer theirs = peer.ask(s.peer, page);
            if (g_stop) return stopped();
            if (!theirs.error.empty())
                return fail("the peer's search for " + s.label + " failed: " + theirs.error);
            same = agree("\"" + c.keyword + "\" " + s.label, mine, theirs) && same;
            s.total = mine.total;
            searches.push_back(std::move(s));
        }
    }
    if (!same) return fail("the catalogue and SQLite disagree (above)");
    std::cout << "all " << searches.size() << " searches agree, count and page of rows\n";
    if (options->checkOnly) return 0;

    std::cout << "\n| search | key | count | runs ours/peer | ours p50 µs | ours p99 µs | peer p50 µs | peer "
                 "p99 µs "
                 "| peer/ours |\n|---|---|---|---|---|---|---|---|---|\n";
    double logSum = 0;
    for (Search& s : searches) {
        const Timing mine = timed([&] { ours(catalog, s.filters); }, options->budgetMs);
        const Timing theirs = timed([&] { peer.ask(s.peer, s.filters.page); }, options->budgetMs);
        if (g_stop) return stopped();
        const double ratio = theirs.p50 / std::max(mine.p50, 0.001);
        logSum += std::log(ratio);
        std::cout << "| " << s.label << " | " << s.filters.keyword << " | " << grouped(s.total) << " | "
                  << mine.runs << '/' << theirs.runs << " | " << micro(mine.p50) << " | " << micro(mine.p99)
                  << " | " << micro(theirs.p50) << " | " << micro(theirs.p99) << " | " << fixed(ratio, 1)
                  << " |" << std::endl;
    }
    std::cout << "\noverall peer/ours (geometric mean of " << searches.size()
              << " medians): " << fixed(std::exp(logSum / static_cast<double>(searches.size())), 1) << "x\n";
    return 0;
}
