#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace yuming::service {

// Whether the database file is whole, as SQLite sees it.

enum class CheckDepth {
    Quick, // every page and b-tree is whole (PRAGMA quick_check)
    Full,  // and every index agrees with its table (PRAGMA integrity_check)
};

struct CheckResult {
    enum class Outcome {
        Sound,
        Damaged,    // `problems` says what SQLite found
        CutShort,   // the time allowed ran out before the check ended
        Unreadable, // the file could not be checked at all: `problems` holds why
        NotOurs,    // a database of another program (or of a later version): `problems` holds what
                    // it is, after the file's name
    };
    Outcome outcome = Outcome::Unreadable;
    std::vector<std::string> problems;
    std::chrono::milliseconds took{};
};

// Checks the structure of the existing database at `path`, read-only: never creates, seeds or
// changes the file. One with this service's mark that lacks some of its tables is damaged. With a `budget`,
// the check stops when that time has passed.
CheckResult checkDatabase(const std::string& path, CheckDepth depth,
                          std::optional<std::chrono::milliseconds> budget = std::nullopt);

} // namespace yuming::service
