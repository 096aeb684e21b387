#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace yuming::service {

std::string sqliteError(sqlite3* db);

// Whether SQLite's result code (extended or not) says another connection holds the file or a table
// of it (SQLITE_BUSY, SQLITE_LOCKED): a failure that passes, worth asking again shortly.
bool isBusy(int code);

// What one step of a statement gave. Row and Done are the only answers that are not errors:
// anything else SQLite says (a damaged page, a full disk, a lock held too long, a statement
// that never compiled) is Failed, never taken for "no more rows".
enum class Step { Row, Done, Failed };

// One prepared statement; every value goes in through a bound parameter.
class Statement {
public:
    Statement(sqlite3* db, std::string_view sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool valid() const { return m_statement != nullptr; }
    void reset();
    void bind(int index, std::string_view text);
    void bind(int index, std::int64_t value);
    // Bytes that must stay unchanged until the statement is stepped or reset.
    void bindBlob(int index, std::string_view bytes);
    Step step();
    // Why the last step failed, or why the statement could not be prepared.
    const std::string& error() const { return m_error; }
    // SQLite's extended result code of that failure; SQLITE_OK when there was none.
    int code() const { return m_code; }
    std::string_view text(int column) const;
    std::int64_t integer(int column) const;
    std::string_view blob(int column) const;

private:
    sqlite3* m_db;
    sqlite3_stmt* m_statement = nullptr;
    std::string m_error;
    int m_code = SQLITE_OK;
};

// A write past the process's file-size limit (ulimit -f) raises SIGXFSZ, which by default ends the
// process without a word. From this call on the signal is only noted, the write fails with EFBIG,
// and SQLite reports that as a disk I/O error or a full disk.
void failWritesPastFileSizeLimit();
// `error` of a failed write on `db`, or, when the file-size limit stopped it, that.
std::string writeFailure(sqlite3* db, const std::string& error);

// Runs statements without results; false (and `error`) on the first failure.
bool execute(sqlite3* db, std::string_view sql, std::string& error);

// A connection that writes (`flags` besides SQLITE_OPEN_READWRITE), waiting up to `busyMs` for
// another writer; null, and `error`, when the file cannot be opened. The file is kept with a
// write-ahead log, so a long write (an import of millions of names) never stops the service's
// readers, and the log is cut back to a modest size once it has been copied into the file.
// Where the file system cannot share the log's index, the file stays as it was.
sqlite3* openForWriting(const std::string& path, int flags, int busyMs, std::string& error);
// After a large write: copies the log into the file and empties it, so that the log does not
// keep the size of the write beside the file. Waits for the readers under way; a busy file is
// left for later.
void foldLog(sqlite3* db);

} // namespace yuming::service
