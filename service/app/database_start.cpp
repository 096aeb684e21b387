#include "app/database_start.h"

#include "store/store.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

#include <chrono>
#include <iostream>
#include <thread>

namespace yuming::service {

namespace {

// The quick check reads every page; on a very large file it is cut short so the service still
// starts in time.
constexpr std::chrono::seconds kStartCheckBudget{2};

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
        std::cerr << "yuming-service: " << path << " is damaged: " << check.problems.front();
        if (check.problems.size() > 1) std::cerr << " (" << check.problems.size() << " problems in all)";
        std::cerr << ". Not serving it: \"yuming-service check --db " << path
                  << "\" lists what is wrong; move the file away to start with a new database\n";
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
    if (QFileInfo(QString::fromStdString(options.dbPath)).size() > 0)
        reader =
            std::thread([&] { early = openCatalogue(options.dbPath, QDateTime::currentDateTime(), false); });
    const bool sound = checkAtStart(options.dbPath);
    if (reader.joinable()) reader.join();
    if (!sound || !prepare(options, today)) return std::nullopt;
    // Preparing moves generated names to today's dates; a catalogue read before that is not theirs.
    const bool unchanged =
        early && early->catalog && Store(options.dbPath).generation().value == early->generation;
    OpenedCatalogue opened =
        unchanged ? std::move(*early) : openCatalogue(options.dbPath, QDateTime::currentDateTime());
    if (!opened.catalog) {
        std::cerr << "yuming-service: cannot load the drop list from " << options.dbPath << ": "
                  << opened.error << '\n';
        return std::nullopt;
    }
    return opened;
}

} // namespace yuming::service
