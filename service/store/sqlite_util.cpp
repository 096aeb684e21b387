#include "store/sqlite_util.h"

#include <signal.h>

#include <atomic>

namespace yuming::service {

std::string sqliteError(sqlite3* db) {
    return db ? sqlite3_errmsg(db) : "no database";
}

bool isBusy(int code) {
    const int primary = code & 0xff;
    return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

Statement::Statement(sqlite3* db, std::string_view sql) : m_db(db) {
    const int rc = sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT,
                                      &m_statement, nullptr);
    if (rc != SQLITE_OK) {
        m_error = sqliteError(db);
        m_code = db ? sqlite3_extended_errcode(db) : rc;
        sqlite3_finalize(m_statement);
        m_statement = nullptr;
    }
}

Statement::~Statement() {
    sqlite3_finalize(m_statement);
}

void Statement::reset() {
    sqlite3_reset(m_statement);
    sqlite3_clear_bindings(m_statement);
}

void Statement::bind(int index, std::string_view text) {
    sqlite3_bind_text(m_statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

void Statement::bind(int index, std::int64_t value) {
    sqlite3_bind_int64(m_statement, index, value);
}

void Statement::bindBlob(int index, std::string_view bytes) {
    sqlite3_bind_blob64(m_statement, index, bytes.data(), bytes.size(), SQLITE_STATIC);
}

Step Statement::step() {
    // A statement that did not compile keeps the reason it was given then.
    if (!m_statement) {
        if (m_error.empty()) m_error = "no statement to run";
        if (m_code == SQLITE_OK) m_code = SQLITE_MISUSE;
        return Step::Failed;
    }
    switch (sqlite3_step(m_statement)) {
    case SQLITE_ROW:
        return Step::Row;
    case SQLITE_DONE:
        return Step::Done;
    default:
        m_error = sqliteError(m_db);
        m_code = sqlite3_extended_errcode(m_db);
        return Step::Failed;
    }
}

std::string_view Statement::text(int column) const {
    const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(m_statement, column));
    return data ? std::string_view(data, static_cast<std::size_t>(sqlite3_column_bytes(m_statement, column)))
                : std::string_view{};
}

std::int64_t Statement::integer(int column) const {
    return sqlite3_column_int64(m_statement, column);
}

std::string_view Statement::blob(int column) const {
    const auto* data = static_cast<const char*>(sqlite3_column_blob(m_statement, column));
    return data ? std::string_view(data, static_cast<std::size_t>(sqlite3_column_bytes(m_statement, column)))
                : std::string_view{};
}

namespace {

std::atomic<bool> fileSizeLimitReached = false;

void noteFileSizeLimit(int) {
    fileSizeLimitReached.store(true, std::memory_order_relaxed);
}

} // namespace

void failWritesPastFileSizeLimit() {
    struct sigaction action {};
    action.sa_handler = noteFileSizeLimit;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGXFSZ, &action, nullptr);
}

std::string writeFailure(sqlite3* db, const std::string& error) {
    // SQLite keeps no errno of its own that outlives the calls made after the failing write, so the
    // signal the write raised is what tells.
    const int primary = sqlite3_extended_errcode(db) & 0xff;
    const bool written = primary == SQLITE_IOERR || primary == SQLITE_FULL;
    return written && fileSizeLimitReached.load(std::memory_order_relaxed)
               ? std::string("the file-size limit was reached")
               : error;
}

bool execute(sqlite3* db, std::string_view sql, std::string& error) {
    char* message = nullptr;
    if (sqlite3_exec(db, std::string(sql).c_str(), nullptr, nullptr, &message) == SQLITE_OK) return true;
    error = message ? message : sqliteError(db);
    sqlite3_free(message);
    return false;
}

sqlite3* openForWriting(const std::string& path, int flags, int busyMs, std::string& error) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | flags, nullptr) != SQLITE_OK) {
        error = sqliteError(db);
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, busyMs);
    std::string ignored;
    execute(db, "PRAGMA journal_mode = WAL; PRAGMA journal_size_limit = 67108864", ignored);
    return db;
}

void foldLog(sqlite3* db) {
    sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
}

} // namespace yuming::service
