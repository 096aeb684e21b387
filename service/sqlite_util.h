#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace yuming::service {

std::string sqliteError(sqlite3* db);

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
    int step();
    std::string_view text(int column) const;
    std::int64_t integer(int column) const;

private:
    sqlite3_stmt* m_statement = nullptr;
};

// Runs statements without results; false (and `error`) on the first failure.
bool execute(sqlite3* db, std::string_view sql, std::string& error);

} // namespace yuming::service
