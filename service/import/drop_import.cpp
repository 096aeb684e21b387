#include "import/drop_import.h"

#include "catalog/catalog_store.h"
#include "import/url_lists.h"
#include "protocol/moment.h"
#include "store/bulk_names.h"
#include "store/feed_names.h"
#include "store/meta.h"
#include "store/sample_mark.h"
#include "store/sqlite_util.h"
#include "store/store.h"
#include "text/gbk.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <memory>
#include <new>
#include <stdexcept>

namespace yuming::service {

namespace {

// The page cache while rows are written: room for the pages a merge touches all over a table of
// millions of names, so none is read twice. Taken only as pages are used.
constexpr std::string_view kWritingCache = "PRAGMA cache_size = -262144";
// While indexes are built: SQLite sorts their keys in runs of about the cache's size, and runs that
// fit the processor's caches sort several times faster than one huge run.
constexpr std::string_view kSortingCache = "PRAGMA cache_size = -8192";

// The sorted import as a table SQLite reads (an eponymous virtual table), so that one INSERT ...
// SELECT writes every row, in the key's order, without the names being staged in a table first.
namespace names_table {

struct Table {
    sqlite3_vtab base{};
    const ImportedNames* names = nullptr;
};

struct Cursor {
    sqlite3_vtab_cursor base{};
    const ImportedNames* names = nullptr;
    std::size_t at = 0;
};

int connect(sqlite3* db, void* names, int, const char* const*, sqlite3_vtab** out, char**) {
    const int status = sqlite3_declare_vtab(
        db, "CREATE TABLE x(name TEXT, suffix TEXT, rname TEXT, length INTEGER, expiry TEXT, deletion TEXT)");
    if (status != SQLITE_OK) return status;
    auto table = std::make_unique<Table>();
    table->names = static_cast<const ImportedNames*>(names);
    *out = &table.release()->base;
    return SQLITE_OK;
}

int disconnect(sqlite3_vtab* table) {
    delete reinterpret_cast<Table*>(table);
    return SQLITE_OK;
}

int bestIndex(sqlite3_vtab* vtab, sqlite3_index_info* info) {
    const auto& order = info->aOrderBy;
    info->orderByConsumed = info->nOrderBy == 2 && order[0].iColumn == 0 && !order[0].desc &&
                            order[1].iColumn == 1 && !order[1].desc;
    const auto rows = static_cast<sqlite3_int64>(reinterpret_cast<Table*>(vtab)->names->size());
    info->estimatedRows = rows;
    info->estimatedCost = static_cast<double>(rows);
    return SQLITE_OK;
}

int open(sqlite3_vtab* table, sqlite3_vtab_cursor** out) {
    auto cursor = std::make_unique<Cursor>();
    cursor->names = reinterpret_cast<Table*>(table)->names;
    *out = &cursor.release()->base;
    return SQLITE_OK;
}

int close(sqlite3_vtab_cursor* cursor) {
    delete reinterpret_cast<Cursor*>(cursor);
    return SQLITE_OK;
}

int filter(sqlite3_vtab_cursor* cursor, int, const char*, int, sqlite3_value**) {
    reinterpret_cast<Cursor*>(cursor)->at = 0;
    return SQLITE_OK;
}

int next(sqlite3_vtab_cursor* cursor) {
    ++reinterpret_cast<Cursor*>(cursor)->at;
    return SQLITE_OK;
}

int eof(sqlite3_vtab_cursor* cursor) {
    const auto* c = reinterpret_cast<Cursor*>(cursor);
    return c->at >= c->names->size();
}

int column(sqlite3_vtab_cursor* cursor, sqlite3_context* context, int index) {
    const auto* c = reinterpret_cast<Cursor*>(cursor);
    const ImportedNames::Row& row = (*c->names)[c->at];
    const std::string_view label = c->names->label(row);
    // The names and suffixes stay where they are for the whole import.
    const auto text = [context](std::string_view value, sqlite3_destructor_type kept) {
        sqlite3_result_text(context, value.data(), static_cast<int>(value.size()), kept);
    };
    char buffer[sizeof ListName::label];
    switch (index) {
    case 0:
        text(label, SQLITE_STATIC);
        break;
    case 1:
        text(suffixName(row.suffix), SQLITE_STATIC);
        break;
    case 2:
        std::reverse_copy(label.begin(), label.end(), buffer);
        text({buffer, label.size()}, SQLITE_TRANSIENT);
        break;
    case 3:
        sqlite3_result_int64(context, static_cast<sqlite3_int64>(label.size()));
        break;
    default:
        formatWallTime(index == 4 ? row.expiry : row.deletion, buffer);
        text({buffer, Moment::kTextSize}, SQLITE_TRANSIENT);
        break;
    }
    return SQLITE_OK;
}

int rowid(sqlite3_vtab_cursor* cursor, sqlite3_int64* out) {
    *out = static_cast<sqlite3_int64>(reinterpret_cast<Cursor*>(cursor)->at);
    return SQLITE_OK;
}

sqlite3_module module() {
    sqlite3_module m{};
    m.xConnect = connect;
    m.xBestIndex = bestIndex;
    m.xDisconnect = disconnect;
    m.xOpen = open;
    m.xClose = close;
    m.xFilter = filter;
    m.xNext = next;
    m.xEof = eof;
    m.xColumn = column;
    m.xRowid = rowid;
    return m;
}

} // namespace names_table

struct Kept {
    std::int64_t rows = 0;
    std::int64_t matched = 0;         // kept rows that are in the import
    std::vector<std::int64_t> others; // ids of those that are not, when asked for
};

// One walk of the names' unique index beside the sorted import, which is in the same order.
bool compareKept(sqlite3* db, const ImportedNames& names, bool collectOthers, Kept& kept,
                 std::string& error) {
    std::size_t next = 0;
    return eachKeptName(
        db,
        [&](std::int64_t id, std::string_view name, std::string_view suffix) {
            ++kept.rows;
            const auto order = [&](std::size_t i) {
                const std::string_view label = names.label(names[i]);
                return label != name ? label.compare(name) : suffixName(names[i].suffix).compare(suffix);
            };
            while (next < names.size() && order(next) < 0)
                ++next;
            if (next < names.size() && order(next) == 0) {
                ++kept.matched;
                ++next;
            } else if (collectOthers) {
                kept.others.push_back(id);
            }
        },
        error);
}

// A feed's list with fewer than half the names it gave last time is more likely a publisher's
// fault than the names' sudden end.
bool feedTakes(sqlite3* db, const ImportRequest::Feed& feed, std::size_t names, std::string& error) {
    Statement last(db, "SELECT coalesce(names, -1) FROM feeds WHERE id = ?");
    last.bind(1, feed.id);
    const Step step = last.step();
    if (step == Step::Failed) {
        error = last.error();
        return false;
    }
    if (step != Step::Row) {
        error = "the feed was removed meanwhile";
        return false;
    }
    const std::int64_t before = last.integer(0);
    if (feed.acceptShrink || before < 0 || static_cast<std::int64_t>(names) * 2 >= before) return true;
    error = "the list shrank from " + std::to_string(before) + " names last time to " +
            std::to_string(names) + " (fewer than half); --accept-shrink takes it";
    return false;
}

bool noteFeedNames(sqlite3* db, const ImportRequest::Feed& feed, std::size_t names, std::string& error) {
    Statement note(db, "UPDATE feeds SET names = ? WHERE id = ?");
    note.bind(1, static_cast<std::int64_t>(names));
    note.bind(2, feed.id);
    if (note.step() == Step::Done) return true;
    error = note.error();
    return false;
}

// When the list was last refreshed and from how many sources, for the banner.
bool noteRefreshed(sqlite3* db, std::string& error) {
    std::int64_t sources = 0;
    return countSources(db, sources, error) &&
           setMeta(db, "refreshed", std::to_string(QDateTime::currentSecsSinceEpoch()), error) &&
           setMeta(db, "sources", std::to_string(sources), error);
}

bool writeNames(sqlite3* db, const ImportedNames& names, const ImportRequest& request, ImportCounts& counts,
                std::string& error) {
    bool fresh = false;
    if (!prepareForNames(db, request.today, fresh, error)) return false;
    if (request.feed && !feedTakes(db, *request.feed, names.size(), error)) return false;
    Kept kept;
    if (!fresh && !compareKept(db, names, request.replace, kept, error)) return false;
    const auto total = static_cast<std::int64_t>(names.size());
    counts.added = total - kept.matched;
    counts.removed = static_cast<std::int64_t>(kept.others.size());
    // Many rows go in faster when the secondary indexes are sorted once afterwards than when each
    // row finds its place in them.
    const bool rebuild = fresh || (counts.added + counts.removed) * 4 > kept.rows;
    if (rebuild && !dropNameIndexes(db, error)) return false;
    if (!removeNames(db, std::move(kept.others), error)) return false;
    static const sqlite3_module module = names_table::module();
    if (sqlite3_create_module_v2(db, "imported_names", &module, const_cast<ImportedNames*>(&names),
                                 nullptr) != SQLITE_OK) {
        error = sqliteError(db);
        return false;
    }
    // A feed's list is its publisher's latest word on its names.
    const Merge merge = fresh                             ? Merge::Add
                        : request.replace || request.feed ? Merge::Different
                                                          : Merge::Later;
    std::int64_t changed = 0;
    if (!execute(db, kWritingCache, error) ||
        (request.feed && !noteOthersNames(db, "imported_names", error)) ||
        !mergeNames(db, "imported_names", Origin::Imported, merge, changed, error))
        return false;
    counts.updated = changed - counts.added;
    counts.unchanged = total - changed;
    if (request.feed) {
        if (!takeFeedNames(db, request.feed->id, "imported_names", counts.removed, error) ||
            !noteFeedNames(db, *request.feed, names.size(), error))
            return false;
    } else if (!noteImportedNames(db, "imported_names", error)) {
        return false;
    }
    if (rebuild && !(execute(db, kSortingCache, error) && createNameIndexes(db, error))) return false;
    // A list of real names ends the sample data, whether or not it changed a name: the service
    // sees that with the next generation of the names.
    bool sampleEnded = false;
    if (!endSample(db, sampleEnded, error)) return false;
    // The search index goes in with the names, so a service reads it at once, now or at its next start.
    return (changed + counts.removed == 0 && !sampleEnded) ||
           (noteDropListChanged(db, error) && noteRefreshed(db, error) &&
            saveCatalogue(db, QDateTime::currentDateTime(), error));
}

bool writeDatabase(const ImportRequest& request, const ImportedNames& names, ImportCounts& counts,
                   std::string& error) {
    const QString path = QString::fromStdString(request.dbPath);
    if (!QFileInfo::exists(path)) QDir().mkpath(QFileInfo(path).absolutePath());
    // A running service may be writing a registry's answer; the import waits for it a while.
    Admitted admitted;
    if (!admitFile(request.dbPath, 10000, admitted, error)) return false;
    const bool existed = !admitted.made;
    sqlite3* db = openForWriting(request.dbPath, 0, 10000, error);
    if (!db) {
        if (admitted.made) unmakeFile(request.dbPath, admitted);
        error = "cannot open " + request.dbPath + ": " + error;
        return false;
    }
    std::string ignored;
    // Index keys are sorted by two threads where the processor has them.
    execute(db, "PRAGMA threads = 2", ignored);
    const bool ok = execute(db, "BEGIN IMMEDIATE", error) && writeNames(db, names, request, counts, error) &&
                    execute(db, "COMMIT", error);
    if (!ok) {
        error = writeFailure(db, error);
        execute(db, "ROLLBACK", ignored);
    }
    if (ok) foldLog(db);
    sqlite3_close(db);
    // After a failed write (a full disk) SQLite leaves the rollback to the next connection, which
    // finds the journal: open one now, so the file is as it was before the import ends.
    if (!ok && existed) {
        if (sqlite3_open_v2(request.dbPath.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
            sqlite3_busy_timeout(db, 10000);
            execute(db, "PRAGMA schema_version", ignored);
        }
        sqlite3_close(db);
    }
    if (!ok && !existed) unmakeFile(request.dbPath, admitted);
    if (!ok) error = request.dbPath + ": " + error;
    return ok;
}

} // namespace

ImportResult importDropLists(const ImportRequest& request, ImportObserver& observer) {
    ImportResult result;
    const auto failed = [&result](std::string why) {
        result.error = std::move(why);
        return result;
    };
    std::vector<std::unique_ptr<ListFile>> files;
    std::uint64_t bytes = 0;
    for (const std::string& path : request.files) {
        files.push_back(std::make_unique<ListFile>(path));
        if (!files.back()->isOpen()) return failed("cannot read " + path + ": " + files.back()->error());
        bytes += files.back()->size();
    }
    observer.reading(bytes);
    ImportedNames names;
    try {
        // A line of a list is some 30 bytes; a compressed file holds more, and the rest is grown to.
        names.reserve(std::min<std::uint64_t>(bytes / 32, 20'000'000));
        ZoneClock clock(request.zone);
        const ListDates dates{request.today, request.bareDay, request.dateOrder};
        for (const auto& file : files) {
            const std::string error =
                readDropList(*file, names, clock, dates, result.counts.skipped, observer);
            if (!error.empty()) return failed(error);
        }
        files.clear();
        if (names.size() == 0) return failed("no names to import");
        names.sort();
    } catch (const std::bad_alloc&) {
        return failed("not enough memory for the names read");
    } catch (const std::length_error& e) {
        return failed(e.what());
    }
    observer.writing();
    std::string error;
    if (!writeDatabase(request, names, result.counts, error)) return failed(error);
    return result;
}

std::string importSummary(const ImportCounts& counts, std::size_t files, bool replace) {
    std::string text = "imported " + std::to_string(files) + (files == 1 ? " file: " : " files: ") +
                       std::to_string(counts.added) + " added, " + std::to_string(counts.updated) +
                       " updated, " + std::to_string(counts.unchanged) + " unchanged, ";
    if (replace) text += std::to_string(counts.removed) + " removed, ";
    std::int64_t skipped = 0;
    std::string reasons;
    for (std::size_t i = 0; i < kSkipReasons; ++i) {
        if (counts.skipped[i] == 0) continue;
        skipped += counts.skipped[i];
        reasons += (reasons.empty() ? "" : ", ") + std::to_string(counts.skipped[i]) + ' ' +
                   std::string(skipReasonText(static_cast<SkipReason>(i)));
    }
    text += std::to_string(skipped) + " skipped";
    if (skipped > 0) text += " (" + reasons + ')';
    return text;
}

namespace {

// What a person at a terminal sees while an import runs: the first skipped lines, and a bar by
// the bytes read.
class TerminalReport : public ImportObserver {
public:
    explicit TerminalReport(const FetchedLists& fetched)
        : m_fetched(fetched), m_terminal(::isatty(STDERR_FILENO) == 1) {}

    void reading(std::uint64_t bytes) override { m_total = bytes; }

    void skipped(const SkippedLine& line) override {
        if (++m_skipped > kShown) return;
        QString text =
            line.gbk ? fromGbk(QByteArrayView(line.text.data(), static_cast<qsizetype>(line.text.size())))
                     : QString::fromUtf8(line.text.data(), static_cast<qsizetype>(line.text.size()));
        if (text.size() > 200) text = text.left(200) + QChar(0x2026);
        clear();
        std::cerr << m_fetched.shown(line.file) << ':' << line.line << ": " << skipReasonText(line.reason)
                  << ": " << text.toStdString() << '\n';
        if (m_skipped == kShown) std::cerr << "(further skipped lines are only counted)\n";
        m_shown = -1;
    }

    void read(std::uint64_t bytes) override {
        m_done += bytes;
        if (!m_terminal || m_total == 0) return;
        const int percent = static_cast<int>(std::min<std::uint64_t>(100, m_done * 100 / m_total));
        if (percent == m_shown) return;
        m_shown = percent;
        constexpr int kWidth = 30;
        const int filled = percent * kWidth / 100;
        std::cerr << "\rreading [" << std::string(static_cast<std::size_t>(filled), '#')
                  << std::string(static_cast<std::size_t>(kWidth - filled), '-') << "] " << percent << '%'
                  << std::flush;
        m_drawn = true;
    }

    void writing() override {
        if (!m_terminal) return;
        clear();
        std::cerr << "writing the database..." << std::flush;
        m_drawn = true;
    }

    void clear() {
        if (m_drawn) std::cerr << "\r\033[K" << std::flush;
        m_drawn = false;
    }

private:
    static constexpr int kShown = 20;
    const FetchedLists& m_fetched;
    bool m_terminal;
    bool m_drawn = false;
    int m_shown = -1;
    int m_skipped = 0;
    std::uint64_t m_total = 0;
    std::uint64_t m_done = 0;
};

} // namespace

int runImport(const std::vector<std::string>& files, const std::string& dbPath, bool replace,
              const std::string& zoneName, const std::string& bareDate, DateOrder dateOrder,
              const std::string& caFile) {
    ImportRequest request{files,
                          dbPath,
                          replace,
                          zoneName.empty() ? QTimeZone::systemTimeZone()
                                           : QTimeZone(QByteArray::fromStdString(zoneName)),
                          QDate::currentDate(),
                          std::nullopt};
    if (!bareDate.empty()) request.bareDay = QDate::fromString(QString::fromStdString(bareDate), Qt::ISODate);
    request.dateOrder = dateOrder;
    FetchedLists fetched;
    if (const std::string error = fetched.fetch(request.files, dbPath, caFile); !error.empty()) {
        std::cerr << "yuming-service: import failed: " << error << "; the database is as it was\n";
        return 1;
    }
    TerminalReport report(fetched);
    const ImportResult result = importDropLists(request, report);
    report.clear();
    if (!result.ok()) {
        std::cerr << "yuming-service: import failed: " << fetched.shown(result.error)
                  << "; the database is as it was\n";
        return 1;
    }
    std::cout << importSummary(result.counts, request.files.size(), request.replace) << std::endl;
    return 0;
}

} // namespace yuming::service
