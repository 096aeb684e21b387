#include "catalog/catalog.h"
#include "catalog/catalog_keeper.h"
#include "import/drop_import.h"
#include "http/http_front.h"
#include "registry/online_lookups.h"
#include "service_record.h"
#include "app/service_options.h"
#include "store/store.h"

#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTimeZone>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <memory>
#include <optional>
#include <pthread.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace yuming::service;
namespace user_service = yuming::user_service;

namespace {

// SIGINT and SIGTERM are taken by one thread with sigwait, outside any signal handler, so
// stopping the server runs as ordinary code.
sigset_t stopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

// Being this user's own service: only one at a time, found by the tools through its record.
class UserClaim {
public:
    ~UserClaim() {
        withdraw();
        if (m_lock >= 0) ::close(m_lock);
    }

    enum class Outcome { Taken, Held, Failed };
    Outcome take() {
        const QString folder = user_service::runtimeFolder();
        m_record = folder + u'/' + QLatin1String(user_service::kRecordName);
        const QString lockPath = folder + u'/' + QLatin1String(user_service::kLockName);
        if (!user_service::makePrivateFolder(folder)) {
            std::cerr << "yuming-service: cannot create " << folder.toStdString() << '\n';
            return Outcome::Failed;
        }
        m_lock = user_service::takeLock(lockPath);
        if (m_lock >= 0) {
            // A record here was left by a service that died; with the lock taken it would pass
            // for this one's until publish(), and a tool would call on a port nobody serves.
            QFile::remove(m_record);
            return Outcome::Taken;
        }
        const qint64 holder = user_service::lockHolder(lockPath);
        if (holder <= 0) {
            std::cerr << "yuming-service: cannot lock " << lockPath.toStdString() << '\n';
            return Outcome::Failed;
        }
        std::cerr << "yuming-service: this user's service is already running (pid " << holder << ")";
        QFile record(m_record);
        if (record.open(QIODevice::ReadOnly))
            if (const auto published = user_service::parseRecord(record.read(256)))
                std::cerr << " on " << published->host.toStdString() << ':' << published->port;
        std::cerr << '\n';
        return Outcome::Held;
    }

    // Written whole or not at all: a tool never reads half an address.
    bool publish(const std::string& host, int port) {
        QSaveFile file(m_record);
        const user_service::Record record{QString::fromStdString(host), static_cast<quint16>(port),
                                          static_cast<qint64>(::getpid())};
        if (!file.open(QIODevice::WriteOnly) || file.write(user_service::formatRecord(record)) < 0 ||
            !file.commit()) {
            std::cerr << "yuming-service: cannot write " << m_record.toStdString() << '\n';
            return false;
        }
        m_published = true;
        return true;
    }

    // Taken back before the service stops, so a tool that looks now waits for the next one.
    void withdraw() {
        if (m_published) QFile::remove(m_record);
        m_published = false;
    }

private:
    QString m_record;
    int m_lock = -1;
    bool m_published = false;
};

// The log in a file of the service's own: stderr is the file, and once the file has reached its
// limit it becomes FILE.1 (replacing the one before) and a new FILE is begun. Every log line is
// one write to stderr, so a line lands whole in one file or the other.
class LogFile {
public:
    bool open(const std::string& path, std::int64_t limit) {
        m_path = path;
        m_limit = limit;
        std::string error;
        if (reopen(error)) return true;
        std::cerr << "yuming-service: cannot open the log " << path << ": " << error << '\n';
        return false;
    }

    // Called about once a second: a busy service may pass the limit by a second's lines.
    void rotateIfFull() {
        struct stat current {};
        if (m_path.empty() || !m_regular || ::fstat(STDERR_FILENO, &current) != 0 ||
            current.st_size < m_limit)
            return;
        // Another service logging to the same file may have moved it already; then the name
        // is a new file (or none) and only needs opening.
        struct stat named {};
        if (::stat(m_path.c_str(), &named) == 0 && named.st_dev == current.st_dev &&
            named.st_ino == current.st_ino)
            ::rename(m_path.c_str(), (m_path + ".1").c_str());
        std::string error;
        if (reopen(error)) return;
        // With no fresh file to go on in, the full one starts again rather than grow for ever;
        // a file that cannot even be emptied is left alone from now on.
        if (::ftruncate(STDERR_FILENO, 0) != 0) m_regular = false;
    }

private:
    bool reopen(std::string& error) {
        // Non-blocking, so a FIFO nobody reads is an error here instead of a hang.
        const int fd =
            ::open(m_path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0600);
        if (fd < 0) {
            error = errno == ENXIO ? "a pipe that nobody reads" : std::strerror(errno);
            return false;
        }
        struct stat info {};
        const bool ok = ::fstat(fd, &info) == 0 && ::fcntl(fd, F_SETFL, O_APPEND) == 0 &&
                        ::dup2(fd, STDERR_FILENO) == STDERR_FILENO;
        if (!ok) error = std::strerror(errno);
        ::close(fd);
        // Only a regular file is rotated: a device or a pipe given as the log keeps no size.
        m_regular = ok && S_ISREG(info.st_mode);
        return ok;
    }

    std::string m_path;
    std::int64_t m_limit = 0;
    bool m_regular = false;
};

// A damaged database is refused before anything is written to it or served from it. The quick check
// reads every page; on a very large file it is cut short so the service still starts in time.
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

// The user's settings file, when there is one; a file that cannot be read is an error, not an
// empty file.
bool readConfig(const std::string& path, std::string& text) {
    QFile file(QString::fromStdString(path));
    if (!file.exists()) return true;
    constexpr qint64 kLargest = 64 * 1024;
    if (!file.open(QIODevice::ReadOnly) || file.size() > kLargest) {
        std::cerr << "yuming-service: cannot read " << path << ": "
                  << (file.size() > kLargest ? "larger than 64 KiB" : file.errorString().toStdString())
                  << '\n';
        return false;
    }
    text = file.readAll().toStdString();
    return true;
}

std::optional<OnlineOptions> onlineOptions(const ServiceOptions& options) {
    OnlineOptions online;
    online.dbPath = options.dbPath;
    online.rate = options.rdapRate;
    online.http.caFile = options.rdapCa;
    if (!options.timeZone.empty()) online.zone = QTimeZone(QByteArray::fromStdString(options.timeZone));
    if (options.rdapBootstrap.empty()) {
        online.bootstrap = RdapBootstrap::builtIn();
        return online;
    }
    auto loaded = RdapBootstrap::load(options.rdapBootstrap);
    if (!loaded.ok()) {
        std::cerr << "yuming-service: cannot use the bootstrap file " << options.rdapBootstrap << ": "
                  << loaded.error << '\n';
        return std::nullopt;
    }
    online.bootstrap = std::move(loaded.bootstrap);
    return online;
}

} // namespace

int main(int argc, char* argv[]) {
    const std::string config = configPath();
    std::string configText;
    if (!readConfig(config, configText)) return 2;
    const OptionsResult parsed =
        parseOptions(std::vector<std::string>(argv + 1, argv + argc), configText, config);
    if (!parsed.ok() || parsed.options.help) {
        std::fputs(usage().c_str(), parsed.ok() ? stdout : stderr);
        if (!parsed.ok()) std::cerr << "yuming-service: " << parsed.error << '\n';
        return parsed.ok() ? 0 : 2;
    }
    const ServiceOptions& options = parsed.options;
    if (options.command == ServiceOptions::Command::Check) return runCheck(options);
    if (options.command == ServiceOptions::Command::Import)
        return runImport(options.importFiles, options.dbPath, options.replace, options.timeZone);
    LogFile log;
    if (!options.logPath.empty() && !log.open(options.logPath, options.logLimit)) return 1;
    const sigset_t stopSet = stopSignals();
    pthread_sigmask(SIG_BLOCK, &stopSet, nullptr);

    std::optional<UserClaim> claim;
    if (options.user) {
        switch (claim.emplace().take()) {
        case UserClaim::Outcome::Taken:
            break;
        case UserClaim::Outcome::Held:
            return 0;
        case UserClaim::Outcome::Failed:
            return 1;
        }
    }

    const QDate today = QDate::currentDate();
    // The stored catalogue is read while the database is checked; a damaged file is still refused
    // before anything is written to it or served from it.
    std::optional<OpenedCatalogue> early;
    std::thread reader;
    if (QFileInfo(QString::fromStdString(options.dbPath)).size() > 0)
        reader = std::thread([&] { early = openCatalogue(options.dbPath, QDateTime::currentDateTime(), false); });
    const bool sound = checkAtStart(options.dbPath);
    if (reader.joinable()) reader.join();
    if (!sound || !prepare(options, today)) return 1;
    // Preparing moves generated names to today's dates; a catalogue read before that is not theirs.
    const bool unchanged = early && early->catalog && Store(options.dbPath).generation().value == early->generation;
    OpenedCatalogue opened =
        unchanged ? std::move(*early) : openCatalogue(options.dbPath, QDateTime::currentDateTime());
    early.reset();
    if (!opened.catalog) {
        std::cerr << "yuming-service: cannot load the drop list from " << options.dbPath << ": "
                  << opened.error << '\n';
        return 1;
    }
    CatalogHolder catalogs(opened.catalog);
    CatalogKeeper keeper(options.dbPath, catalogs, opened);
    opened = {};
    std::unique_ptr<OnlineLookups> online;
    if (options.rdap) {
        auto settings = onlineOptions(options);
        if (!settings) return 1;
        online = std::make_unique<OnlineLookups>(std::move(*settings), [&keeper](std::function<void()> inCatalogue) { keeper.refresh(std::move(inCatalogue)); });
    }

    HttpFront front(Routes(catalogs, options.dbPath, online.get()));
    const int port = front.bind(options.host, options.port);
    if (port < 0) {
        std::cerr << "yuming-service: cannot listen on " << hostPort(options.host, options.port) << '\n';
        return 1;
    }
    if (claim && !claim->publish(options.host, port)) return 1;
    std::cerr << catalogs.current()->size() << " names on the drop list"
              << (online ? "; lookups ask the registries' RDAP servers" : "") << '\n';
    std::cout << "listening on " << hostPort(options.host, port) << std::endl;

    std::atomic<bool> finished = false;
    std::thread waiter([&] {
        const auto idleLimit = std::chrono::seconds(options.idleExitSeconds);
        bool stopping = false;
        while (!finished) {
            // A signal can come before the server has begun to accept, when stopping does
            // nothing yet; so once stopping, ask again until serving has ended.
            const timespec wait = stopping ? timespec{0, 20'000'000} : timespec{1, 0};
            if (sigtimedwait(&stopSet, nullptr, &wait) > 0) {
                stopping = true;
            } else if (!stopping && options.idleExitSeconds > 0 && front.idleFor() >= idleLimit) {
                std::cerr << "yuming-service: no request for " << options.idleExitSeconds << " s; stopping\n";
                stopping = true;
            }
            log.rotateIfFull();
            if (!stopping) continue;
            if (claim) claim->withdraw();
            front.stop();
        }
    });
    const bool served = front.run();
    if (online) online->stop();
    keeper.stop();
    finished = true;
    // If serving ended by itself, wake the waiter so it can be joined.
    pthread_kill(waiter.native_handle(), SIGTERM);
    waiter.join();
    std::cerr << "yuming-service: stopped\n";
    return served ? 0 : 1;
}
