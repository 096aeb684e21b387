#include "app/database_start.h"

#include "store/schema_mark.h"
#include "store/store.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

#include <chrono>
#include <iostream>
#include <thread>
#include <vector>

namespace yuming::service {

namespace {

// The quick check reads every page; on a very large file it is cut short so the service still
// starts in time.
constexpr std::chrono::seconds kStartCheckBudget{2};

void reportDamaged(const std::string& path, const std::vector<std::string>& problems) {
    std::cerr << "yuming-service: " << path << " is damaged: " << problems.front();
    if (problems.size() > 1) std::cerr << " (" << problems.size() << " problems in all)";
    std::cerr << ". Not serving it: \"yuming-service check --db " << path
              << "\" lists what is wrong; move the file away to start with a new database\n";
}

void reportNotOurs(const std::string& why) {
    std::cerr << "yuming-service: " << why
              << ". Not serving it: --db takes this service's own database, or the name of a new file\n";
}

// Before anything reads the file as this service's: another program's file is refused as it is,
// and one with this service's mark that lost tables is damaged.
bool admitAtStart(const std::string& path) {
    const auto held = whatFileHolds(path);
    // One whose tables cannot be listed is for the check to describe.
    if (!held.ok() || writable(held.value, false)) return true;
    if (held.value.kind == Holding::Kind::Damaged)
        reportDamaged(path, missingTables(held.value));
    else
        reportNotOurs(refusal(path, held.value));
    return false;
}

bool checkAtStart(const std::string& path) {
    const QFileInfo file(QString::fromStdString(path));
    if (!file.exists() || file.size() == 0) return true; // new: prepared and seeded below
    const CheckResult check = checkDatabase(path, CheckDepth::Quick, kStartCheckBudget);
    switch (check.outcome) {
    case CheckResult::Outcome::Sound:
        std::cerr << "database " << path << " checked in " << check.took.count() << " ms\n";
        return true;
    case CheckResult::Outcome::CutShort:
        std::cerr << "yuming-service: the check of " << path << " was cut short after " << check.took.count()
                  << " ms; serving it only partly checked (\"yuming-service check --db " << path
                  << "\" checks it all)\n";
        return true;
    case CheckResult::Outcome::Damaged:
        reportDamaged(path, check.problems);
        return false;
    case CheckResult::Outcome::NotOurs:
        reportNotOurs(check.problems.front());
        return false;
    case CheckResult::Outcome::Unreadable:
        break;
    }
    std::cerr << "yuming-service: cannot check " << path << ": " << check.problems.front() << '\n';
    return false;
}

bool prepare(const ServiceOptions& options, QDate today) {
    QDir().mkpath(QFileInfo(QString::fromStdString(options.dbPath)).absolutePath());
    QElapsedTimer timer;
    timer.start();
    std::string error;
    if (!prepareDatabase(options.dbPath, options.seed, today, error)) {
        std::cerr << "yuming-service: cannot prepare " << options.dbPath << ": " << error << '\n';
        return false;
    }
    std::cerr << "database " << options.dbPath << " ready in " << timer.elapsed() << " ms\n";
    return true;
}

} // namespace

int runCheck(const ServiceOptions& options) {
    const CheckResult check = checkDatabase(options.dbPath, CheckDepth::Full);
    if (check.outcome == CheckResult::Outcome::Unreadable) {
        std::cerr << "yuming-service: cannot check " << options.dbPath << ": " << check.problems.front()
                  << '\n';
        return 1;
    }
    if (check.outcome == CheckResult::Outcome::NotOurs) {
        std::cerr << "yuming-service: " << check.problems.front() << '\n';
        return 1;
    }
    if (check.outcome == CheckResult::Outcome::Sound) {
        std::cout << "ok" << std::endl;
        return 0;
    }
    for (const std::string& problem : check.problems)
        std::cout << problem << '\n';
    std::cout.flush();
    std::cerr << "yuming-service: " << options.dbPath << " is damaged\n";
    return 1;
}

std::optional<OpenedCatalogue> openForServing(const ServiceOptions& options) {
    const QDate today = QDate::currentDate();
    // The stored catalogue is read while the database is checked; a damaged file is still refused
    // before anything is written to it or served from it.
    std::optional<OpenedCatalogue> early;
    std::thread reader;
    const bool existing = QFileInfo(QString::fromStdString(options.dbPath)).size() > 0;
    if (existing && !admitAtStart(options.dbPath)) return std::nullopt;
    if (existing)
        reader =
            std::thread([&] { early = openCatalogue(options.dbPath, QDateTime::currentDateTime(), false); });
    const bool sound = checkAtStart(options.dbPath);
    if (reader.joinable()) reader.join();
    if (!sound || !prepare(options, today)) return std::nullopt;
    // Preparing shows generated names at today's dates; a catalogue read before that is not theirs.
    const bool unchanged = early && early->catalog && stillCurrent(*early, options.dbPath);
    OpenedCatalogue opened =
        unchanged ? std::move(*early) : openCatalogue(options.dbPath, QDateTime::currentDateTime());
    if (!opened.catalog) {
        std::cerr << "yuming-service: cannot load the drop list from " << options.dbPath << ": "
                  << opened.error << '\n';
        return std::nullopt;
    }
    if (opened.sample)
        std::cerr
            << "yuming-service: " << options.dbPath
            << " holds sample data (示例数据): generated names, not a real drop list; import a real one "
               "with \"yuming-service import FILE --db "
            << options.dbPath << "\"\n";
    return opened;
}

} // namespace yuming::service
