#include "catalog.h"
#include "http_front.h"
#include "protocol/user_service.h"
#include "service_options.h"
#include "store.h"

#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <optional>
#include <pthread.h>
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
        if (m_lock >= 0) return Outcome::Taken;
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

int main(int argc, char* argv[]) {
    const OptionsResult parsed = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.ok() || parsed.options.help) {
        std::fputs(usage().c_str(), parsed.ok() ? stdout : stderr);
        if (!parsed.ok()) std::cerr << "yuming-service: " << parsed.error << '\n';
        return parsed.ok() ? 0 : 2;
    }
    const ServiceOptions& options = parsed.options;
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
    if (!prepare(options, today)) return 1;
    Store store(options.dbPath);
    if (!store.isOpen()) {
        std::cerr << "yuming-service: cannot open " << options.dbPath << ": " << store.error() << '\n';
        return 1;
    }
    auto listed = store.listed(today);
    if (!listed.ok()) {
        std::cerr << "yuming-service: cannot load the drop list from " << options.dbPath << ": "
                  << listed.error << '\n';
        return 1;
    }
    const Catalog catalog(listed.value);
    listed.value = {};

    HttpFront front(catalog, options.dbPath);
    const int port = front.bind(options.host, options.port);
    if (port < 0) {
        std::cerr << "yuming-service: cannot listen on " << options.host << ':' << options.port << '\n';
        return 1;
    }
    if (claim && !claim->publish(options.host, port)) return 1;
    std::cerr << catalog.size() << " names on the drop list\n";
    std::cout << "listening on " << options.host << ':' << port << std::endl;

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
            if (!stopping) continue;
            if (claim) claim->withdraw();
            front.stop();
        }
    });
    const bool served = front.run();
    finished = true;
    // If serving ended by itself, wake the waiter so it can be joined.
    pthread_kill(waiter.native_handle(), SIGTERM);
    waiter.join();
    std::cerr << "yuming-service: stopped\n";
    return served ? 0 : 1;
}
