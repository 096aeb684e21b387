#include "catalog.h"
#include "http_front.h"
#include "service_options.h"
#include "store.h"

#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <pthread.h>
#include <thread>

using namespace yuming::service;

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

    const QDate today = QDate::currentDate();
    if (!prepare(options, today)) return 1;
    Store store(options.dbPath);
    if (!store.isOpen()) {
        std::cerr << "yuming-service: cannot open " << options.dbPath << ": " << store.error() << '\n';
        return 1;
    }
    const Catalog catalog(store.listed(today));

    HttpFront front(catalog, options.dbPath);
    const int port = front.bind(options.host, options.port);
    if (port < 0) {
        std::cerr << "yuming-service: cannot listen on " << options.host << ':' << options.port << '\n';
        return 1;
    }
    std::cerr << catalog.size() << " names on the drop list\n";
    std::cout << "listening on " << options.host << ':' << port << std::endl;

    std::atomic<bool> finished = false;
    std::thread waiter([&front, &stopSet, &finished] {
        int signal = 0;
        sigwait(&stopSet, &signal);
        // A signal can come before the server has begun to accept, when stopping does nothing
        // yet; so ask again until serving has ended.
        while (!finished) {
            front.stop();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
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
