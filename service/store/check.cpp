#include "store/check.h"

#include "store/schema_mark.h"
#include "store/sqlite_util.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string_view>
#include <thread>

namespace yuming::service {

namespace {

// SQLite may report several problems in one row, a line each, under a heading naming the schema.
void addProblems(std::string_view text, std::vector<std::string>& problems) {
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (!line.empty() && !line.starts_with("*** in database")) problems.emplace_back(line);
    }
}

// Interrupts what `db` runs once `budget` has passed, unless dismissed first. A progress handler
// would not do: SQLite calls it between the steps of a statement, and its walk over every page of
// a check is a single step.
class Watchdog {
public:
    Watchdog(sqlite3* db, std::chrono::milliseconds budget)
        : m_thread([this, db, budget] {
              std::unique_lock lock(m_mutex);
              if (!m_wake.wait_for(lock, budget, [this] { return m_dismissed; })) sqlite3_interrupt(db);
          }) {}
    ~Watchdog() {
        {
            const std::lock_guard lock(m_mutex);
            m_dismissed = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_dismissed = false;
    std::thread m_thread;
};

} // namespace

CheckResult checkDatabase(const std::string& path, CheckDepth depth,
                          std::optional<std::chrono::milliseconds> budget) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    CheckResult result;
    const auto finish = [&](CheckResult::Outcome outcome) {
        result.outcome = outcome;
        result.took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        return result;
    };
    // SQLite would open a folder's name or an unreadable file only to fail later; say so plainly.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        result.problems.push_back(fd < 0 ? std::strerror(errno) : "not a regular file");
        if (fd >= 0) ::close(fd);
        return finish(CheckResult::Outcome::Unreadable);
    }
    // What the file is comes first, read without leaving anything beside it; a file whose tables
    // cannot even be listed is left to SQLite's check to describe.
    // (An empty file is the one a service seeds.)
    if (const auto held = whatFileHolds(path);
        info.st_size > 0 && held.ok() && !writable(held.value, false)) {
        const bool damaged = held.value.kind == Holding::Kind::Damaged;
        result.problems = damaged ? missingTables(held.value) : std::vector{refusal(path, held.value)};
        ::close(fd);
        return finish(damaged ? CheckResult::Outcome::Damaged : CheckResult::Outcome::NotOurs);
    }
    // A check walks the pages in tree order, on a cold disk nearly a seek a page; reading the
    // file front to back first brings it in at the disk's streaming rate (a few times faster).
    const auto deadline = budget ? start + *budget : Clock::time_point::max();
    std::vector<char> buffer(1 << 20);
    while (Clock::now() < deadline && ::read(fd, buffer.data(), buffer.size()) > 0) {
    }
    ::close(fd);
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        result.problems.push_back(sqliteError(db));
        sqlite3_close(db);
        return finish(CheckResult::Outcome::Unreadable);
    }
    // Another service may be seeding the same file; a check waits for it as preparing does.
    sqlite3_busy_timeout(db, 10000);
    auto outcome = CheckResult::Outcome::Sound;
    {
        std::optional<Watchdog> watchdog;
        if (budget)
            watchdog.emplace(
                db, std::max(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()),
                             std::chrono::milliseconds::zero()));
        Statement check(db, depth == CheckDepth::Quick ? "PRAGMA quick_check" : "PRAGMA integrity_check");
        Step step;
        while ((step = check.step()) == Step::Row)
            if (check.text(0) != "ok") addProblems(check.text(0), result.problems);
        if (step == Step::Failed) {
            const int code = sqlite3_errcode(db);
            result.problems.push_back(check.error());
            // A file that is no database at all (SQLITE_NOTADB) is unreadable rather than damaged.
            outcome = code == SQLITE_INTERRUPT ? CheckResult::Outcome::CutShort
                      : code == SQLITE_CORRUPT ? CheckResult::Outcome::Damaged
                                               : CheckResult::Outcome::Unreadable;
        } else if (!result.problems.empty()) {
            outcome = CheckResult::Outcome::Damaged;
        }
    }
    sqlite3_close(db);
    return finish(outcome);
}

} // namespace yuming::service
