#include "watch/watch_table.h"

#include "store/sqlite_util.h"

#include <QTimeZone>

#include <functional>

namespace yuming::service {

namespace {

constexpr int kBusyMs = 10000;

void bindTime(Statement& statement, int index, const QDateTime& when) {
    if (when.isValid()) statement.bind(index, std::int64_t(when.toSecsSinceEpoch()));
}

QDateTime timeOf(const Statement& statement, int column, bool present) {
    return present ? QDateTime::fromSecsSinceEpoch(statement.integer(column), QTimeZone::utc()) : QDateTime();
}

std::string remindedText(const std::vector<std::int64_t>& leads) {
    std::string text;
    for (const std::int64_t lead : leads)
        text += (text.empty() ? "" : ",") + std::to_string(lead);
    return text;
}

std::vector<std::int64_t> remindedOf(std::string_view text) {
    std::vector<std::int64_t> leads;
    while (!text.empty()) {
        const auto comma = text.find(',');
        leads.push_back(std::stoll(std::string(text.substr(0, comma))));
        text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
    }
    return leads;
}

} // namespace

WatchTable::WatchTable(const std::string& dbPath) {
    m_db = openForWriting(dbPath, 0, kBusyMs, m_error);
}

WatchTable::~WatchTable() {
    sqlite3_close(m_db);
}

bool WatchTable::inTransaction(const std::function<bool(std::string&)>& work, std::string& error) {
    if (!execute(m_db, "BEGIN IMMEDIATE", error)) return false;
    if (work(error) && execute(m_db, "COMMIT", error)) return true;
    error = writeFailure(m_db, error);
    std::string ignored;
    execute(m_db, "ROLLBACK", ignored);
    return false;
}

ReadResult<std::vector<WatchState>> WatchTable::load() {
    ReadResult<std::vector<WatchState>> result;
    Statement select(m_db, "SELECT name, added, status, expiry IS NOT NULL, expiry, deletion IS NOT NULL, "
                           "deletion, basis, checked IS NOT NULL, checked, next, failures, reminded, "
                           "COALESCE(basis, '') FROM watched");
    Step step;
    while ((step = select.step()) == Step::Row) {
        WatchState state;
        state.name = std::string(select.text(0));
        state.addedAt = timeOf(select, 1, true);
        state.status = statusNamed(select.text(2)).value_or(WatchStatus::Unknown);
        state.expiry = timeOf(select, 4, select.integer(3) != 0);
        state.deletion = timeOf(select, 6, select.integer(5) != 0);
        state.basis = std::string(select.text(13));
        state.checkedAt = timeOf(select, 9, select.integer(8) != 0);
        state.nextCheck = timeOf(select, 10, true);
        state.failures = static_cast<int>(select.integer(11));
        state.reminded = remindedOf(select.text(12));
        result.value.push_back(std::move(state));
    }
    if (step == Step::Failed) result.error = select.error();
    return result;
}

std::string WatchTable::insert(const std::vector<WatchState>& states) {
    std::string error;
    inTransaction(
        [&](std::string& failure) {
            Statement add(m_db, "INSERT OR IGNORE INTO watched (name, added, next) VALUES (?1, ?2, ?3)");
            for (const WatchState& state : states) {
                add.reset();
                add.bind(1, state.name);
                bindTime(add, 2, state.addedAt);
                bindTime(add, 3, state.nextCheck);
                if (add.step() != Step::Done) {
                    failure = add.error();
                    return false;
                }
            }
            return true;
        },
        error);
    return error;
}

std::string WatchTable::remove(const std::vector<std::string>& names) {
    std::string error;
    inTransaction(
        [&](std::string& failure) {
            Statement name(m_db, "DELETE FROM watched WHERE name = ?1");
            Statement changes(m_db, "DELETE FROM watch_changes WHERE name = ?1");
            for (const std::string& each : names)
                for (Statement* statement : {&name, &changes}) {
                    statement->reset();
                    statement->bind(1, each);
                    if (statement->step() != Step::Done) {
                        failure = statement->error();
                        return false;
                    }
                }
            return true;
        },
        error);
    return error;
}

std::string WatchTable::save(const WatchState& state, const std::optional<WatchChange>& change) {
    std::string error;
    inTransaction(
        [&](std::string& failure) {
            Statement update(m_db, "UPDATE watched SET status = ?2, expiry = ?3, deletion = ?4, basis = ?5, "
                                   "checked = ?6, next = ?7, failures = ?8, reminded = ?9 WHERE name = ?1");
            update.bind(1, state.name);
            update.bind(2, statusName(state.status));
            bindTime(update, 3, state.expiry);
            bindTime(update, 4, state.deletion);
            if (!state.basis.empty()) update.bind(5, state.basis);
            bindTime(update, 6, state.checkedAt);
            bindTime(update, 7, state.nextCheck);
            update.bind(8, std::int64_t(state.failures));
            update.bind(9, remindedText(state.reminded));
            if (update.step() != Step::Done) {
                failure = update.error();
                return false;
            }
            if (!change) return true;
            Statement note(m_db,
                           "INSERT INTO watch_changes (name, at, from_status, to_status) "
                           "SELECT ?1, ?2, ?3, ?4 WHERE EXISTS (SELECT 1 FROM watched WHERE name = ?1)");
            note.bind(1, state.name);
            bindTime(note, 2, change->at);
            note.bind(3, statusName(change->from));
            note.bind(4, statusName(change->to));
            if (note.step() == Step::Done) return true;
            failure = note.error();
            return false;
        },
        error);
    return error;
}

ReadResult<std::vector<WatchChange>> WatchTable::history(const std::string& name) {
    ReadResult<std::vector<WatchChange>> result;
    Statement select(m_db, "SELECT at, from_status, to_status FROM watch_changes WHERE name = ?1 "
                           "ORDER BY at, rowid");
    select.bind(1, name);
    Step step;
    while ((step = select.step()) == Step::Row)
        result.value.push_back({timeOf(select, 0, true),
                                statusNamed(select.text(1)).value_or(WatchStatus::Unknown),
                                statusNamed(select.text(2)).value_or(WatchStatus::Unknown)});
    if (step == Step::Failed) result.error = select.error();
    return result;
}

} // namespace yuming::service
