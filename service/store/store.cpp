#include "store/store.h"

#include "store/meta.h"
#include "store/sample_mark.h"
#include "store/shown_dates.h"
#include "store/sqlite_util.h"

#include "protocol/moment.h"

#include <cstdio>
#include <cstdlib>
#include <thread>

namespace yuming::service {

namespace {

// listedAnyDay as a condition on the origin column: "origin IN (1, 3)".
const std::string& listedAnyDaySql() {
    static const std::string sql = [] {
        std::string in;
        for (const Origin origin : kOrigins)
            if (listedAnyDay(origin))
                in += (in.empty() ? "" : ", ") + std::to_string(static_cast<int>(origin));
        return "origin IN (" + in + ')';
    }();
    return sql;
}

// The drop list: names deleted from now on; those listedAnyDay whenever they go, the others
// (generated demo names, renewed names a registry told of) before listEnd. Generated names are
// held to the same bounds moved back by the shown shift (?3, ?4), so their rows are compared as
// stored. A whole-table scan reads the file in order, which beats the deletion index when most
// rows are wanted.
const std::string& listedSql() {
    static const std::string sql = "SELECT name, suffix, deletion, origin FROM domains NOT INDEXED "
                                   "WHERE (origin = 0 AND deletion >= ?3 AND deletion < ?4) OR "
                                   "(origin <> 0 AND deletion >= ?1 AND (" +
                                   listedAnyDaySql() + " OR deletion < ?2))";
    return sql;
}

std::string eachListedBy(Statement& select, const QDateTime& now, int shift, const ListedUse& use) {
    select.reset();
    select.bind(1, Moment::of(now).text());
    select.bind(2, dayText(listEnd(now.date())));
    select.bind(3, Moment::of(now.addDays(-shift)).text());
    select.bind(4, dayText(listEnd(now.date()).addDays(-shift)));
    DayMover shown(shift);
    Step step;
    while ((step = select.step()) == Step::Row)
        if (const auto suffix = suffixNamed(select.text(1)))
            use(select.text(0), *suffix, select.integer(3) == 0 ? shown(select.text(2)) : select.text(2));
    std::string error = step == Step::Failed ? select.error() : std::string{};
    select.reset();
    return error;
}

// Stored in parts: SQLite keeps no value over 1 GB, and smaller ones are written and read in
// steps of a few pages anyway.
constexpr std::size_t kPartBytes = 16 << 20;

// How the stored index showed the generated names' dates (the shown shift it was made with) and
// whether every name was generated then, kept beside it as "GENERATION SHIFT ONLY-GENERATED".
struct IndexDates {
    int shift = 0;
    std::optional<bool> onlyGenerated; // none: not known, the names say
};

// An older build stores its index without these (and leaves ours, of an earlier generation, as
// they were): its index was made from rows moved to the day it was made.
ReadResult<IndexDates> indexDates(sqlite3* db, std::int64_t generation) {
    const auto kept = metaValue(db, "catalogue_dates");
    if (!kept.ok()) return {{}, kept.error};
    long long of = 0;
    int shift = 0, only = 0;
    if (!kept.value || std::sscanf(kept.value->c_str(), "%lld %d %d", &of, &shift, &only) != 3 ||
        of != generation)
        return {};
    return {{shift, only != 0}, {}};
}

ReadResult<bool> onlyGenerated(sqlite3* db) {
    Statement any(db, "SELECT NOT EXISTS (SELECT 1 FROM domains WHERE origin <> 0)");
    if (any.step() != Step::Row) return {false, any.error()};
    return {any.integer(0) != 0, {}};
}

// Why an index whose generated dates are to move by whole days cannot be moved, so that it lists
// the names as of `movedTo`, while the list is today's; empty when it can. Moving every date of
// the index by the same days keeps their order and their days apart, so it serves as one built
// afresh, as long as every name in it moves.
ReadResult<std::string> whyNotMovable(sqlite3* db, const IndexDates& dates, QDate movedTo, QDate today) {
    if (movedTo > today) return {"the search index was stored for a later day", {}};
    const auto generated =
        dates.onlyGenerated ? ReadResult<bool>{*dates.onlyGenerated, {}} : onlyGenerated(db);
    if (!generated.ok()) return {{}, generated.error};
    if (!generated.value) return {"the generated names' dates moved and other names are kept with them", {}};
    return {};
}

// Whether names joined the list since an index was made on `builtOn` (its generated names then
// moved by `moveDays`): those not listedAnyDay whose deletion came within the list's 30 days.
ReadResult<bool> joinedSince(sqlite3* db, QDate builtOn, int moveDays, int shift, QDate today) {
    Statement joined(db, "SELECT EXISTS (SELECT 1 FROM domains WHERE deletion >= ?1 AND deletion < ?2 "
                         "AND origin <> 0 AND NOT " +
                             listedAnyDaySql() +
                             ") OR EXISTS (SELECT 1 FROM domains WHERE deletion >= ?3 AND deletion < ?4 "
                             "AND origin = 0)");
    joined.bind(1, dayText(listEnd(builtOn)));
    joined.bind(2, dayText(listEnd(today)));
    // The generated names as stored: the index held them up to its list's end moved by
    // `moveDays`, the list wants them up to today's.
    joined.bind(3, dayText(listEnd(builtOn).addDays(moveDays - shift)));
    joined.bind(4, dayText(listEnd(today).addDays(-shift)));
    if (joined.step() != Step::Row) return {false, joined.error()};
    return {joined.integer(0) != 0, {}};
}

ReadResult<StoredImage> readStoredImage(sqlite3* db, const QDateTime& now, std::optional<QDate> shownOn,
                                        const ImageRoom& room) {
    ReadResult<StoredImage> result;
    const auto generation = namesGeneration(db);
    if (!generation.ok()) return {{}, generation.error};
    const auto stored = metaValue(db, "catalogue_generation");
    if (!stored.ok()) return {{}, stored.error};
    const auto day = metaValue(db, "catalogue_day");
    if (!day.ok()) return {{}, day.error};
    result.value.generation = generation.value;
    if (!stored.value || std::strtoll(stored.value->c_str(), nullptr, 10) != generation.value || !day.value) {
        result.value.note = "the names changed since the search index was stored";
        return result;
    }
    // Names that are not imported join the list 30 days before they go; an index stored on an
    // earlier day lacks those that joined since.
    const QDate builtOn = QDate::fromString(QString::fromStdString(*day.value), Qt::ISODate);
    if (!builtOn.isValid()) {
        result.value.note = "the search index's date is damaged";
        return result;
    }
    const auto shift = shownShift(db, shownOn);
    if (!shift.ok()) return {{}, shift.error};
    const auto dates = indexDates(db, generation.value);
    if (!dates.ok()) return {{}, dates.error};
    const int moveDays = shift.value - dates.value.shift;
    if (moveDays != 0) {
        const auto why = whyNotMovable(db, dates.value, builtOn.addDays(moveDays), now.date());
        if (!why.ok()) return {{}, why.error};
        if (!why.value.empty()) {
            result.value.note = why.value;
            return result;
        }
    }
    if (builtOn != now.date() || moveDays != 0) {
        const auto joined = joinedSince(db, builtOn, moveDays, shift.value, now.date());
        if (!joined.ok()) return {{}, joined.error};
        if (joined.value) {
            result.value.note = "names joined the list since the search index was stored";
            return result;
        }
    }
    result.value.moveDays = moveDays;
    // Each part is read straight into its place, without SQLite's own copy of it.
    Statement parts(db, "SELECT part, length(data) FROM catalogue_parts ORDER BY part");
    std::vector<std::pair<std::int64_t, std::size_t>> sizes;
    std::size_t total = 0;
    Step step;
    while ((step = parts.step()) == Step::Row) {
        sizes.emplace_back(parts.integer(0), static_cast<std::size_t>(parts.integer(1)));
        total += sizes.back().second;
    }
    if (step == Step::Failed) return {{}, parts.error()};
    char* image = room(total);
    std::size_t filled = 0;
    for (const auto& [part, bytes] : sizes) {
        sqlite3_blob* blob = nullptr;
        int rc = sqlite3_blob_open(db, "main", "catalogue_parts", "data", part, 0, &blob);
        if (rc == SQLITE_OK && static_cast<std::size_t>(sqlite3_blob_bytes(blob)) != bytes)
            rc = SQLITE_CORRUPT;
        if (rc == SQLITE_OK) rc = sqlite3_blob_read(blob, image + filled, static_cast<int>(bytes), 0);
        const std::string why = rc == SQLITE_OK ? std::string{} : std::string(sqlite3_errstr(rc));
        sqlite3_blob_close(blob);
        if (!why.empty()) return {{}, "cannot read the search index: " + why};
        filled += bytes;
    }
    result.value.fits = true;
    return result;
}

} // namespace

std::string eachListed(sqlite3* db, const QDateTime& now, const ListedUse& use) {
    const auto shift = shownShift(db);
    if (!shift.ok()) return shift.error;
    Statement select(db, listedSql());
    return eachListedBy(select, now, shift.value, use);
}

bool storeCatalogueImage(sqlite3* db, std::string_view image, std::int64_t generation, QDate day,
                         std::string& error) {
    if (!execute(db, "DELETE FROM catalogue_parts", error)) return false;
    Statement insert(db, "INSERT INTO catalogue_parts(part, data) VALUES (?, ?)");
    for (std::size_t at = 0, part = 0; at < image.size(); at += kPartBytes, ++part) {
        insert.reset();
        insert.bind(1, static_cast<std::int64_t>(part));
        insert.bindBlob(2, image.substr(at, kPartBytes));
        if (insert.step() != Step::Done) {
            error = insert.error();
            return false;
        }
    }
    const auto shift = shownShift(db);
    if (!shift.ok()) {
        error = shift.error;
        return false;
    }
    const auto generated = onlyGenerated(db);
    if (!generated.ok()) {
        error = generated.error;
        return false;
    }
    const std::string dates =
        std::to_string(generation) + ' ' + std::to_string(shift.value) + ' ' + (generated.value ? '1' : '0');
    return setMeta(db, "catalogue_generation", std::to_string(generation), error) &&
           setMeta(db, "catalogue_day", dayText(day), error) && setMeta(db, "catalogue_dates", dates, error);
}

struct Store::Statements {
    explicit Statements(sqlite3* db)
        : listed(db, listedSql()),
          registration(db, "SELECT expiry, deletion, origin FROM domains WHERE name = ? AND suffix = ?"),
          answer(db, "SELECT fetched, found, record FROM rdap_answers WHERE domain = ?") {}
    Statement listed;
    Statement registration;
    Statement answer;
};

Store::Store(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) !=
        SQLITE_OK) {
        m_error = sqliteError(m_db);
        m_code = m_db ? sqlite3_extended_errcode(m_db) : SQLITE_NOMEM;
        sqlite3_close(m_db);
        m_db = nullptr;
        return;
    }
    sqlite3_busy_timeout(m_db, 2000);
    // Every serving thread has a connection of its own; a lookup reads a handful of index
    // pages, so a small cache each keeps many threads from adding up to much memory.
    std::string ignored;
    execute(m_db, "PRAGMA cache_size = -256", ignored);
    m_statements = std::make_unique<Statements>(m_db);
    for (Statement* statement : {&m_statements->listed, &m_statements->registration, &m_statements->answer})
        if (!statement->valid() && m_error.empty()) {
            m_error = statement->error();
            m_code = statement->code();
        }
    if (!m_error.empty()) {
        m_statements.reset();
        sqlite3_close(m_db);
        m_db = nullptr;
    }
}

Store::~Store() {
    m_statements.reset();
    sqlite3_close(m_db);
}

ReadResult<std::vector<ListedName>> Store::listed(QDate today) {
    if (!isOpen()) return {{}, m_error};
    const auto shift = service::shownShift(m_db, m_shownOn);
    if (!shift.ok()) return {{}, shift.error};
    ReadResult<std::vector<ListedName>> result;
    result.error =
        eachListedBy(m_statements->listed, QDateTime(today, QTime(0, 0)), shift.value,
                     [&](std::string_view name, Suffix suffix, std::string_view deletion) {
                         result.value.push_back({std::string(name), suffix, std::string(deletion)});
                     });
    if (!result.ok()) result.value.clear();
    return result;
}

std::string Store::eachListed(const QDateTime& now, const ListedUse& use) {
    if (!isOpen()) return m_error;
    const auto shift = service::shownShift(m_db, m_shownOn);
    if (!shift.ok()) return shift.error;
    return eachListedBy(m_statements->listed, now, shift.value, use);
}

ReadResult<std::int64_t> Store::generation() {
    if (!isOpen()) return {0, m_error, m_code};
    return namesGeneration(m_db);
}

ReadResult<bool> Store::sample() {
    if (!isOpen()) return {false, m_error, m_code};
    return isSample(m_db);
}

ReadResult<std::optional<ListRefresh>> Store::refresh() {
    if (!isOpen()) return {std::nullopt, m_error, m_code};
    return listRefresh(m_db);
}

ReadResult<int> Store::shownShift() {
    if (!isOpen()) return {0, m_error, m_code};
    return service::shownShift(m_db, m_shownOn);
}

ReadResult<bool> Store::shownGeneratedIn(const std::string& from, const std::string& to) {
    if (!isOpen()) return {false, m_error};
    const auto shift = service::shownShift(m_db, m_shownOn);
    if (!shift.ok()) return {false, shift.error};
    Statement any(
        m_db, "SELECT EXISTS (SELECT 1 FROM domains WHERE deletion >= ? AND deletion < ? AND origin = 0)");
    any.bind(1, movedByDays(from, -shift.value));
    any.bind(2, movedByDays(to, -shift.value));
    if (any.step() != Step::Row) return {false, any.error()};
    return {any.integer(0) != 0, {}};
}

ReadResult<StoredImage> Store::storedImage(const QDateTime& now, const ImageRoom& room) {
    if (!isOpen()) return {{}, m_error};
    std::string error;
    // One read transaction, so that a writer cannot change the parts between two reads.
    if (!execute(m_db, "BEGIN", error)) return {{}, error};
    ReadResult<StoredImage> result = readStoredImage(m_db, now, m_shownOn, room);
    std::string ignored;
    execute(m_db, "COMMIT", ignored);
    return result;
}

namespace {

// Steps a bound select to its first row, if any, and makes the value from it.
template <class Value, class Make> ReadResult<std::optional<Value>> readOne(Statement& select, Make make) {
    ReadResult<std::optional<Value>> result;
    switch (select.step()) {
    case Step::Row:
        result.value = make(select);
        break;
    case Step::Done:
        break;
    case Step::Failed:
        result.error = select.error();
        break;
    }
    // A statement left on a row keeps its read transaction open, and with it a lock that would
    // stop another service from preparing the same file.
    select.reset();
    return result;
}

} // namespace

ReadResult<std::optional<Registration>> Store::registration(std::string_view name, std::string_view suffix) {
    if (!isOpen()) return {std::nullopt, m_error};
    const auto shift = service::shownShift(m_db, m_shownOn);
    if (!shift.ok()) return {std::nullopt, shift.error};
    Statement& select = m_statements->registration;
    select.reset();
    select.bind(1, name);
    select.bind(2, suffix);
    return readOne<Registration>(select, [&](Statement& row) {
        const int days = row.integer(2) == 0 ? shift.value : 0;
        return Registration{movedByDays(row.text(0), days), movedByDays(row.text(1), days)};
    });
}

ReadResult<std::optional<RegistryAnswer>> Store::answer(std::string_view domain) {
    if (!isOpen()) return {std::nullopt, m_error};
    Statement& select = m_statements->answer;
    select.reset();
    select.bind(1, domain);
    return readOne<RegistryAnswer>(select, [](Statement& row) {
        return RegistryAnswer{row.integer(0), row.integer(1) != 0, std::string(row.text(2))};
    });
}

namespace {

// The drop list's rule (listedSql) for one name.
bool listedOn(std::string_view deletion, Origin origin, QDate today) {
    return deletion >= dayText(today) && (listedAnyDay(origin) || deletion < dayText(listEnd(today)));
}

} // namespace

StoreWriter::StoreWriter(const std::string& path) {
    m_db = openForWriting(path, SQLITE_OPEN_NOMUTEX, 5000, m_error);
}

StoreWriter::~StoreWriter() {
    sqlite3_close(m_db);
}

void StoreWriter::waitWhileBusy(std::chrono::milliseconds longest, const std::atomic<bool>& stop) {
    if (!m_db) return;
    m_busy = {longest, &stop, {}};
    sqlite3_busy_handler(
        m_db,
        [](void* state, int attempts) {
            auto& busy = *static_cast<BusyWait*>(state);
            const auto now = std::chrono::steady_clock::now();
            if (attempts == 0) busy.began = now;
            if (*busy.stop || now - busy.began >= busy.longest) return 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            return 1;
        },
        &m_busy);
}

std::string StoreWriter::saveAnswer(std::string_view domain, const RegistryAnswer& answer) {
    if (!m_db) return m_error;
    Statement upsert(
        m_db, "INSERT OR REPLACE INTO rdap_answers(domain, fetched, found, record) VALUES (?, ?, ?, ?)");
    upsert.bind(1, domain);
    upsert.bind(2, answer.fetched);
    upsert.bind(3, std::int64_t{answer.found});
    upsert.bind(4, answer.record);
    return upsert.step() == Step::Done ? std::string{} : std::string(upsert.error());
}

ReadResult<bool> StoreWriter::learn(std::string_view name, Suffix suffix,
                                    const std::optional<Registration>& now, bool list, QDate today) {
    if (!m_db) return {false, m_error};
    std::string error;
    if (!execute(m_db, "BEGIN IMMEDIATE", error)) return {false, error};
    const auto fail = [&](std::string_view why) {
        std::string ignored;
        execute(m_db, "ROLLBACK", ignored);
        return ReadResult<bool>{false, std::string(why)};
    };
    const auto shift = service::shownShift(m_db);
    if (!shift.ok()) return fail(shift.error);
    Statement select(m_db, "SELECT deletion, origin FROM domains WHERE name = ? AND suffix = ?");
    select.bind(1, name);
    select.bind(2, suffixName(suffix));
    std::optional<std::string> before;
    Origin beforeOrigin = Origin::Generated;
    switch (select.step()) {
    case Step::Row:
        beforeOrigin = static_cast<Origin>(select.integer(1));
        before = movedByDays(select.text(0), beforeOrigin == Origin::Generated ? shift.value : 0);
        break;
    case Step::Done:
        break;
    case Step::Failed:
        return fail(select.error());
    }
    select.reset();
    const Origin origin = list ? Origin::Deleting : Origin::Learned;
    if (now && (before || list)) {
        Statement upsert(m_db, "INSERT INTO domains(name, suffix, rname, length, expiry, deletion, origin) "
                               "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7) ON CONFLICT (name, suffix) DO UPDATE SET "
                               "expiry = ?5, deletion = ?6, origin = ?7");
        upsert.bind(1, name);
        upsert.bind(2, suffixName(suffix));
        upsert.bind(3, std::string(name.rbegin(), name.rend()));
        upsert.bind(4, static_cast<std::int64_t>(name.size()));
        upsert.bind(5, now->expiry);
        upsert.bind(6, now->deletion);
        upsert.bind(7, static_cast<std::int64_t>(origin));
        if (upsert.step() != Step::Done) return fail(upsert.error());
    } else if (!now && before) {
        Statement remove(m_db, "DELETE FROM domains WHERE name = ? AND suffix = ?");
        remove.bind(1, name);
        remove.bind(2, suffixName(suffix));
        if (remove.step() != Step::Done) return fail(remove.error());
    }
    const bool changed = (now && (before || list)) || before;
    if (changed && !noteDropListChanged(m_db, error)) return fail(error);
    if (!execute(m_db, "COMMIT", error)) return fail(error);
    const bool wasListed = before && listedOn(*before, beforeOrigin, today);
    const bool isListed = now && (before || list) && listedOn(now->deletion, origin, today);
    return {wasListed != isListed || (isListed && *before != now->deletion), {}};
}

std::string StoreWriter::saveCatalogue(std::string_view image, std::int64_t generation, QDate day) {
    if (!m_db) return m_error;
    std::string error;
    if (!execute(m_db, "BEGIN IMMEDIATE", error)) return error;
    const auto current = namesGeneration(m_db);
    const bool ok = current.ok() && current.value == generation &&
                    storeCatalogueImage(m_db, image, generation, day, error) &&
                    execute(m_db, "COMMIT", error);
    if (ok) {
        foldLog(m_db);
        return {};
    }
    std::string ignored;
    execute(m_db, "ROLLBACK", ignored);
    if (!current.ok()) return current.error;
    return current.value != generation ? std::string{} : error;
}

} // namespace yuming::service
