#include "app/database_start.h"
#include "app/log_file.h"
#include "app/service_options.h"
#include "app/user_claim.h"
#include "catalog/catalog.h"
#include "catalog/catalog_keeper.h"
#include "http/http_front.h"
#include "http/watch_api.h"
#include "import/drop_import.h"
#include "import/feed_command.h"
#include "import/feed_runner.h"
#include "registry/online_lookups.h"
#include "store/sqlite_util.h"
#include "watch/notifier.h"
#include "watch/watch_checks.h"
#include "watch/watchlist.h"

#include <QRandomGenerator>
#include <QTimeZone>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <memory>
#include <optional>
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

// The command line over the settings file; nothing when the service is not to run, with the exit
// status in `exitCode` (the usage on stdout for --help, on stderr with the error for a bad line).
std::optional<ServiceOptions> readOptions(int argc, char* argv[], int& exitCode) {
    const std::string config = configPath();
    std::string configText;
    exitCode = 2;
    if (!readConfig(config, configText)) return std::nullopt;
    OptionsResult parsed = parseOptions(std::vector<std::string>(argv + 1, argv + argc), configText, config);
    if (parsed.ok() && !parsed.options.help) return std::move(parsed.options);
    std::fputs(usage().c_str(), parsed.ok() ? stdout : stderr);
    if (!parsed.ok()) std::cerr << "yuming-service: " << parsed.error << '\n';
    exitCode = parsed.ok() ? 0 : 2;
    return std::nullopt;
}

std::optional<OnlineOptions> onlineOptions(const ServiceOptions& options) {
    OnlineOptions online;
    online.dbPath = options.dbPath;
    online.rate = options.rdapRate;
    // On asks the registry every time, as it always has; auto leaves one alone that is down.
    if (options.rdap == ServiceOptions::Rdap::Auto)
        online.unreachablePause = std::chrono::seconds(options.rdapPauseSeconds);
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

// What the service is while it serves, in the order it is built and the reverse of its end.
struct Serving {
    explicit Serving(const ServiceOptions& options) : options(options) {}
    const ServiceOptions& options;
    LogFile log;
    std::optional<UserClaim> claim;
    std::unique_ptr<CatalogHolder> catalogs;
    std::unique_ptr<CatalogKeeper> keeper;
    std::unique_ptr<OnlineLookups> online;
    // Before the watchlist, which tells it of events until it stops.
    std::unique_ptr<Notifier> notifier;
    std::unique_ptr<Watchlist> watchlist;
    std::unique_ptr<WatchApi> watchApi;
    std::unique_ptr<FeedRunner> feeds;
    std::unique_ptr<HttpFront> front;
};

// 256 random bits from the system's generator, as 64 lower-case hex digits.
std::string newToken() {
    quint32 words[8];
    QRandomGenerator::system()->fillRange(words);
    return QByteArray(reinterpret_cast<const char*>(words), sizeof words).toHex().toStdString();
}

QTimeZone zoneOf(const ServiceOptions& options) {
    return options.timeZone.empty() ? QTimeZone::systemTimeZone()
                                    : QTimeZone(QByteArray::fromStdString(options.timeZone));
}

// The watched names, checked through the registries when they are asked, and their API. A
// watchlist that cannot be read is said and left out: the search goes on.
void startWatchlist(Serving& serving) {
    const ServiceOptions& options = serving.options;
    WatchChecker checker = makeChecker(options.dbPath, serving.online.get(), zoneOf(options),
                                       options.rdap == ServiceOptions::Rdap::Auto);
    NotifierOptions told;
    told.command = options.notifyCommand;
    told.zone = zoneOf(options);
    serving.notifier = std::make_unique<Notifier>(std::move(told));
    const std::function<void(const WatchEvent&)> sink =
        [notifier = serving.notifier.get()](const WatchEvent& event) { notifier->notify(event); };
    auto watchlist =
        std::make_unique<Watchlist>(options.dbPath, WatchSchedule(options.watch), std::move(checker), sink);
    // A check waits its turn at the registry at most (checks under way) / rate seconds.
    watchlist->setInFlight(static_cast<std::size_t>(std::clamp(options.rdapRate * 10, 1.0, 4.0)));
    std::string error;
    if (!watchlist->start(error)) {
        std::cerr << "yuming-service: the watchlist cannot be read, and is not served: " << error << '\n';
        return;
    }
    serving.watchlist = std::move(watchlist);
    serving.watchApi = std::make_unique<WatchApi>(*serving.watchlist, newToken());
}

// service.conf's feeds among the database's, and the thread that fetches them all. Feeds that
// cannot be kept are said; the search goes on.
void startFeeds(Serving& serving) {
    const ServiceOptions& options = serving.options;
    const auto kept = readFeeds(options.dbPath);
    const bool confKept = kept.ok() && std::any_of(kept.value.begin(), kept.value.end(),
                                                   [](const Feed& feed) { return feed.conf; });
    std::string error;
    if ((!options.confFeeds.empty() || confKept) && !syncConfFeeds(options.dbPath, options.confFeeds, error))
        std::cerr << "yuming-service: the feeds of service.conf cannot be kept: " << error << '\n';
    serving.feeds = std::make_unique<FeedRunner>(FeedEnv{options.dbPath, options.rdapCa, zoneOf(options)},
                                                 [](const std::string& line) { std::cerr << line << '\n'; });
}

// This user's own service, when asked to be: false when the service is not to run, with
// `exitCode` 0 when another one already serves.
bool claimUser(Serving& serving, int& exitCode) {
    if (!serving.options.user) return true;
    switch (serving.claim.emplace().take()) {
    case UserClaim::Outcome::Taken:
        return true;
    case UserClaim::Outcome::Held:
        exitCode = 0;
        return false;
    case UserClaim::Outcome::Failed:
        break;
    }
    exitCode = 1;
    return false;
}

// The catalogue served and kept in step with the database, and the registries if they are asked.
bool startData(Serving& serving) {
    std::optional<OpenedCatalogue> opened = openForServing(serving.options);
    if (!opened) return false;
    serving.catalogs = std::make_unique<CatalogHolder>(opened->catalog);
    serving.keeper = std::make_unique<CatalogKeeper>(serving.options.dbPath, *serving.catalogs, *opened);
    opened.reset();
    if (serving.options.rdap == ServiceOptions::Rdap::Off) return true;
    auto settings = onlineOptions(serving.options);
    if (!settings) return false;
    CatalogKeeper& keeper = *serving.keeper;
    serving.online = std::make_unique<OnlineLookups>(std::move(*settings),
                                                     [&keeper](LearnedName learned, auto inCatalogue) {
                                                         keeper.learn(std::move(learned));
                                                         inCatalogue();
                                                     });
    return true;
}

// Listening, published where the tools look, and announced.
bool startFront(Serving& serving) {
    const ServiceOptions& options = serving.options;
    Routes routes(*serving.catalogs, options.dbPath, serving.online.get(),
                  options.rdap == ServiceOptions::Rdap::Auto, serving.watchApi.get());
    routes.setZone(zoneOf(options));
    serving.front = std::make_unique<HttpFront>(std::move(routes));
    const int port = serving.front->bind(options.host, options.port);
    if (port < 0) {
        std::cerr << "yuming-service: cannot listen on " << hostPort(options.host, options.port) << '\n';
        return false;
    }
    if (serving.watchApi) serving.watchApi->setPort(port);
    const std::string token = serving.watchApi ? serving.watchApi->token() : std::string();
    if (serving.claim && !serving.claim->publish(options.host, port, token)) return false;
    std::cerr << serving.catalogs->current()->size() << " names on the drop list"
              << (serving.online ? "; lookups ask the registries' RDAP servers" : "") << '\n';
    std::cout << "listening on " << hostPort(options.host, port) << std::endl;
    return true;
}

// Until `finished`: a stop signal or the idle limit stops the front; the log is rotated.
void watchForStop(Serving& serving, const sigset_t& stopSet, const std::atomic<bool>& finished) {
    const int idleExit = serving.options.idleExitSeconds;
    const auto idleLimit = std::chrono::seconds(idleExit);
    bool stopping = false;
    while (!finished) {
        // A signal can come before the server has begun to accept, when stopping does
        // nothing yet; so once stopping, ask again until serving has ended.
        const timespec wait = stopping ? timespec{0, 20'000'000} : timespec{1, 0};
        if (sigtimedwait(&stopSet, nullptr, &wait) > 0) {
            stopping = true;
        } else if (!stopping && idleExit > 0 && serving.front->idleFor() >= idleLimit &&
                   (!serving.watchlist || serving.watchlist->empty()) && !serving.feeds->any()) {
            // A watchlist with names in it is work to do, as are feeds: the service stays for them.
            std::cerr << "yuming-service: no request for " << idleExit << " s; stopping\n";
            stopping = true;
        }
        serving.log.rotateIfFull();
        if (!stopping) continue;
        if (serving.claim) serving.claim->withdraw();
        serving.front->stop();
    }
}

// Serves until stopped; the ending is the reverse of the start.
bool run(Serving& serving, const sigset_t& stopSet) {
    std::atomic<bool> finished = false;
    std::thread waiter([&] { watchForStop(serving, stopSet, finished); });
    const bool served = serving.front->run();
    // The lookups first: none answers a check once the watchlist is gone.
    if (serving.online) serving.online->stop();
    if (serving.watchlist) serving.watchlist->stop();
    if (serving.feeds) serving.feeds->stop();
    serving.keeper->stop();
    finished = true;
    // If serving ended by itself, wake the waiter so it can be joined.
    pthread_kill(waiter.native_handle(), SIGTERM);
    waiter.join();
    std::cerr << "yuming-service: stopped\n";
    return served;
}

int serve(const ServiceOptions& options) {
    Serving serving(options);
    if (!options.logPath.empty() && !serving.log.open(options.logPath, options.logLimit)) return 1;
    const sigset_t stopSet = stopSignals();
    pthread_sigmask(SIG_BLOCK, &stopSet, nullptr);
    int exitCode = 1;
    if (!claimUser(serving, exitCode)) return exitCode;
    if (!startData(serving)) return 1;
    startWatchlist(serving);
    startFeeds(serving);
    if (!startFront(serving)) return 1;
    return run(serving, stopSet) ? 0 : 1;
}

int runFeed(const ServiceOptions& options) {
    using Action = ServiceOptions::FeedAction;
    switch (options.feedAction) {
    case Action::Add:
        return runFeedAdd(options.dbPath, options.feed);
    case Action::Remove:
        return runFeedRemove(options.dbPath, options.feed.url);
    case Action::List:
        return runFeedList(options.dbPath, zoneOf(options));
    case Action::Fetch:
        break;
    }
    return runFeedFetch({options.dbPath, options.rdapCa, zoneOf(options)}, options.feed.url,
                        options.acceptShrink);
}

} // namespace

int main(int argc, char* argv[]) {
    // Every command writes files: one that reaches the file-size limit says so and takes its write
    // back, where the signal would have ended it silently.
    failWritesPastFileSizeLimit();
    int exitCode = 0;
    const std::optional<ServiceOptions> options = readOptions(argc, argv, exitCode);
    if (!options) return exitCode;
    switch (options->command) {
    case ServiceOptions::Command::Check:
        return runCheck(*options);
    case ServiceOptions::Command::Import:
        return runImport(options->importFiles, options->dbPath, options->replace, options->timeZone,
                         options->bareDate, options->dateOrder, options->rdapCa);
    case ServiceOptions::Command::Feed:
        return runFeed(*options);
    case ServiceOptions::Command::Serve:
        break;
    }
    return serve(*options);
}
