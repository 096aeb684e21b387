#include "registry/online_lookups.h"

#include "registry/rdap_record.h"
#include "registry/registry_estimate.h"
#include "store/listing_rule.h"
#include "store/meta.h"

#include "protocol/moment.h"
#include "text/gbk.h"

#include <QDateTime>
#include <QUrl>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <iostream>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace yuming::service {

namespace asio = boost::asio;

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::hours;
using std::chrono::seconds;

// However long a registry asks to be left alone, it is asked again after this.
constexpr seconds kLongestBackOff = hours(1);
// An import of millions of names holds the file for about a minute; an answer waits that long
// to be kept.
constexpr std::chrono::milliseconds kLongestWriteWait = std::chrono::minutes(2);

std::int64_t epochNow() {
    return QDateTime::currentSecsSinceEpoch();
}

// How long an answer is good for: names about to go change soon, settled ones seldom.
seconds freshness(bool found, const std::optional<RegistryEstimate>& estimate) {
    if (!found) return hours(1);
    if (!estimate) return hours(1);
    switch (estimate->basis) {
    case DeletionBasis::PendingDelete:
        return hours(1);
    case DeletionBasis::Redemption:
    case DeletionBasis::AutoRenewGrace:
        return hours(6);
    case DeletionBasis::Expired:
    case DeletionBasis::Active:
        break;
    }
    return hours(24);
}

// A registry's answer as the page and the drop list use it.
struct Reading {
    bool found = false;
    std::optional<RegistryEstimate> estimate;
    bool readable = true;
    bool fresh = false;
    std::int64_t age = 0;
};

Reading read(const RegistryAnswer& answer, Suffix suffix, std::int64_t now, const QTimeZone& zone) {
    Reading reading;
    reading.found = answer.found;
    reading.age = std::max<std::int64_t>(0, now - answer.fetched);
    if (answer.found) {
        const std::optional<RdapRecord> record = deserialize(answer.record);
        if (!record) {
            reading.readable = false;
            return reading;
        }
        reading.estimate = estimateDeletion(*record, suffix, now, zone);
    }
    reading.fresh = reading.age < freshness(reading.found, reading.estimate).count();
    return reading;
}

// The dates a registry's answer gives a name, as the database keeps them.
std::optional<Registration> registrationOf(const RegistryEstimate& estimate) {
    const std::string deletion = yuming::Moment::of(estimate.deletion).text();
    return Registration{estimate.expiry.isValid() ? yuming::Moment::of(estimate.expiry).text() : deletion,
                        deletion};
}

// What the asker is told. An answer past its freshness is used only when the registry cannot be
// asked; then it comes with its age.
LookupOutcome outcomeOf(const Reading& reading) {
    const std::optional<std::int64_t> staleFor =
        reading.fresh ? std::nullopt : std::optional<std::int64_t>(reading.age);
    if (!reading.readable) return LookupOutcome::unavailable("the kept answer cannot be read");
    if (!reading.found) return LookupOutcome::notRegistered(staleFor);
    if (!reading.estimate) return LookupOutcome::unavailable("the registry gives no expiration date");
    LookupOutcome outcome;
    outcome.kind = LookupOutcome::Kind::Registered;
    outcome.expiry = reading.estimate->expiry;
    outcome.deletion = reading.estimate->deletion;
    outcome.basis = reading.estimate->basis;
    outcome.staleFor = staleFor;
    return outcome;
}

// One label of letters, digits and inner hyphens: nothing else goes into a registry's URL.
bool plainLabel(std::string_view name) {
    if (name.empty() || name.size() > 63 || name.front() == '-' || name.back() == '-') return false;
    return std::all_of(name.begin(), name.end(),
                       [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'; });
}

std::string hostOf(std::string_view url) {
    auto start = url.find("://");
    start = start == std::string_view::npos ? 0 : start + 3;
    return std::string(url.substr(start, url.find('/', start) - start));
}

// Why a registry gave a lookup nothing usable. Unreached: no HTTP answer came at all (no route, no
// such host, refused, timed out, TLS); Paused: the host was not asked, having been unreached lately.
enum class Failure { Unusable, Unreached, Paused };

// The one line on stderr of a lookup the registry did not answer usably: why, and what it got
// instead. `failure` is empty when the registry was not asked, `outcome` what the asker is told.
void report(const std::string& key, const std::string& failure, bool kept, const LookupOutcome& outcome) {
    std::string line = "yuming-service: lookup of " + key;
    if (!failure.empty()) line += " at its registry failed: " + failure;
    if (outcome.kind == LookupOutcome::Kind::Unavailable) {
        if (failure.empty() || kept)
            line += (failure.empty() ? ": " : "; the kept answer: ") + outcome.reason;
    } else if (kept) {
        line += "; answering from the kept answer";
    }
    std::cerr << line + '\n';
}

} // namespace

struct OnlineLookups::Impl {
    Impl(OnlineOptions opts, ListChanged changed)
        : options(std::move(opts)), listChanged(std::move(changed)), writer(options.dbPath),
          http(io.get_executor(), options.http), interval(std::chrono::duration_cast<Clock::duration>(
                                                     std::chrono::duration<double>(1.0 / options.rate))) {
        if (!writer.isOpen())
            std::cerr << "yuming-service: registry answers will not be kept: " << writer.error() << '\n';
        writer.waitWhileBusy(kLongestWriteWait, stopped);
        thread = std::thread([this] { io.run(); });
        writerThread = std::thread([this] { runWrites(); });
    }

    using Waiter = Answer;
    struct Pending {
        std::uint64_t serial = 0;
        DomainName name;
        std::string url;
        std::string host;
        std::optional<RegistryAnswer> kept;
        std::vector<Waiter> waiters;
        Clock::time_point started = Clock::now();
        bool retried = false;
        // Asked in the background after a pause: its askers were answered without it.
        bool probe = false;
    };
    struct Host {
        Clock::time_point next{};
        Clock::time_point blockedUntil{};
        // Could not be reached: not asked until `downUntil`, then once by a probe.
        bool down = false;
        bool probing = false;
        Clock::time_point downUntil{};
        std::string downReason;
    };

    void begin(const std::string& key, DomainName name, std::optional<RegistryAnswer> kept, Waiter waiter);
    Pending& add(const std::string& key, DomainName name, std::optional<RegistryAnswer> kept,
                 std::string url);
    void answerPaused(const std::string& key, const DomainName& name,
                      const std::optional<RegistryAnswer>& kept, const Waiter& waiter,
                      const std::string& hostName);
    std::string pausedReason(const std::string& hostName, const Host& host) const;
    void schedule(const std::string& key);
    void answered(const std::string& key, HttpResult result);
    void failed(const std::string& key, const std::string& reason, Failure failure = Failure::Unusable);
    void finish(const std::string& key, const RegistryAnswer& answer);
    void keep(const std::string& key, const RegistryAnswer& answer);
    std::optional<LearnedName> learn(const DomainName& name, const RegistryAnswer& answer);
    void runWrites();
    void endWrites();
    const OnlineOptions options;
    const ListChanged listChanged;
    // What the catalogue's callbacks reach: nothing once the lookups stop.
    struct Relay {
        std::mutex mutex;
        Impl* impl = nullptr;
    };
    const std::shared_ptr<Relay> relay = std::make_shared<Relay>();
    std::uint64_t serials = 0;
    StoreWriter writer;
    // Declared before what posts to it, so requests and timers go first.
    asio::io_context io;
    asio::executor_work_guard<asio::io_context::executor_type> work = asio::make_work_guard(io);
    HttpClient http;
    const Clock::duration interval;
    std::unordered_map<std::string, Pending> pending;
    std::unordered_map<std::string, Host> hosts;
    std::thread thread;
    std::atomic<bool> stopped = false;
    // The database is written on a thread of its own: a file another writer holds (an import)
    // holds up no lookup.
    std::mutex writesMutex;
    std::condition_variable writesWake;
    std::deque<std::function<void()>> writes;
    bool writesEnd = false;
    std::thread writerThread;
};

void OnlineLookups::Impl::begin(const std::string& key, DomainName name, std::optional<RegistryAnswer> kept,
                                Waiter waiter) {
    if (stopped) return;
    std::string url = *options.bootstrap.baseFor(suffixName(name.suffix)) + "domain/" + key;
    const std::string hostName = hostOf(url);
    if (Host& host = hosts[hostName]; host.down) {
        // Offline, a lookup is answered at once rather than after a connect that fails each time.
        answerPaused(key, name, kept, waiter, hostName);
        if (host.probing || Clock::now() < host.downUntil || pending.contains(key)) return;
        host.probing = true;
        add(key, std::move(name), std::move(kept), std::move(url)).probe = true;
        return schedule(key);
    }
    if (const auto found = pending.find(key); found != pending.end()) {
        found->second.waiters.push_back(std::move(waiter));
        return;
    }
    add(key, std::move(name), std::move(kept), std::move(url)).waiters.push_back(std::move(waiter));
    schedule(key);
}

OnlineLookups::Impl::Pending& OnlineLookups::Impl::add(const std::string& key, DomainName name,
                                                       std::optional<RegistryAnswer> kept, std::string url) {
    Pending& entry = pending[key];
    entry.serial = ++serials;
    entry.host = hostOf(url);
    entry.url = std::move(url);
    entry.name = std::move(name);
    entry.kept = std::move(kept);
    return entry;
}

std::string OnlineLookups::Impl::pausedReason(const std::string& hostName, const Host& host) const {
    const auto left = std::chrono::ceil<seconds>(host.downUntil - Clock::now()).count();
    return host.downReason + "; " + hostName +
           (left > 0 ? " is asked again in " + std::to_string(left) + " s" : " is being asked again");
}

void OnlineLookups::Impl::answerPaused(const std::string& key, const DomainName& name,
                                       const std::optional<RegistryAnswer>& kept, const Waiter& waiter,
                                       const std::string& hostName) {
    const std::string reason = pausedReason(hostName, hosts[hostName]);
    LookupOutcome outcome = kept ? outcomeOf(read(*kept, name.suffix, epochNow(), options.zone))
                                 : LookupOutcome::unavailable(reason, true);
    outcome.unreached = outcome.kind == LookupOutcome::Kind::Unavailable;
    outcome.kept = kept.has_value();
    report(key, reason, kept.has_value(), outcome);
    waiter(outcome);
}

// Every host is asked at most `rate` times a second; a lookup takes the next free turn, and
// one whose turn would come too late for its asker is answered without the registry.
void OnlineLookups::Impl::schedule(const std::string& key) {
    Pending& entry = pending.at(key);
    Host& host = hosts[entry.host];
    const auto now = Clock::now();
    const auto turn = std::max({now, host.next, host.blockedUntil});
    if (turn - entry.started > options.queueLimit) {
        const auto wait = std::chrono::duration_cast<seconds>(turn - now).count();
        return failed(key,
                      entry.host + " is asked too often: the next turn is in " + std::to_string(wait) + " s");
    }
    host.next = turn + interval;
    auto timer = std::make_shared<asio::steady_timer>(io, turn);
    timer->async_wait([this, key, timer](boost::system::error_code ec) {
        if (ec || stopped || !pending.contains(key)) return;
        const Pending& waiting = pending.at(key);
        // The host went down while this lookup waited its turn.
        if (const Host& host = hosts[waiting.host]; host.down && !waiting.probe)
            return failed(key, pausedReason(waiting.host, host), Failure::Paused);
        http.get(waiting.url, [this, key](HttpResult result) { answered(key, std::move(result)); });
    });
}

void OnlineLookups::Impl::answered(const std::string& key, HttpResult result) {
    const auto found = pending.find(key);
    if (found == pending.end()) return;
    Pending& entry = found->second;
    if (!result.ok) return failed(key, result.error, Failure::Unreached);
    Host& host = hosts[entry.host];
    host.down = false;
    host.probing = false;
    if (result.status == 429 || result.status == 503) {
        if (result.retryAfter) {
            const auto wait = std::min<seconds>(*result.retryAfter, kLongestBackOff);
            host.blockedUntil = Clock::now() + wait;
            if (!entry.retried) {
                entry.retried = true;
                return schedule(key);
            }
        }
        return failed(key, entry.host + " answered " + std::to_string(result.status));
    }
    RegistryAnswer answer{epochNow(), result.status == 200, {}};
    if (result.status == 200) {
        const RdapParse parsed = parseRdapDomain(result.body, key);
        if (!parsed.record) return failed(key, "not an RDAP domain answer: " + parsed.error);
        answer.record = serialize(*parsed.record);
    } else if (result.status != 404) {
        return failed(key, entry.host + " answered " + std::to_string(result.status));
    }
    keep(key, answer);
}

// The answer is kept and the drop list learns from it; the lookup is answered once that is done
// and a search shows what changed, or after `catalogueWait`, whichever comes first.
void OnlineLookups::Impl::keep(const std::string& key, const RegistryAnswer& answer) {
    const Pending& entry = pending.at(key);
    const auto finishThis = [this, key, serial = entry.serial, answer] {
        if (const auto found = pending.find(key); found != pending.end() && found->second.serial == serial)
            finish(key, answer);
    };
    auto timer = std::make_shared<asio::steady_timer>(io, options.catalogueWait);
    timer->async_wait([finishThis, timer](boost::system::error_code ec) {
        if (!ec) finishThis();
    });
    const auto finishHere = [relay = relay, finishThis] {
        const std::lock_guard lock(relay->mutex);
        if (relay->impl) asio::post(relay->impl->io, finishThis);
    };
    const std::lock_guard lock(writesMutex);
    writes.push_back([this, key, name = entry.name, answer, finishHere] {
        if (writer.isOpen())
            if (const std::string error = writer.saveAnswer(key, answer); !error.empty())
                std::cerr << "yuming-service: cannot keep the registry's answer about " << key << ": "
                          << error << '\n';
        if (auto learned = learn(name, answer)) return listChanged(std::move(*learned), finishHere);
        finishHere();
    });
    writesWake.notify_one();
}

void OnlineLookups::Impl::runWrites() {
    std::unique_lock lock(writesMutex);
    for (;;) {
        writesWake.wait(lock, [this] { return writesEnd || !writes.empty(); });
        // What is queued is still written at the end; a held file is then not waited for.
        if (writes.empty()) return;
        const std::function<void()> write = std::move(writes.front());
        writes.pop_front();
        lock.unlock();
        write();
        lock.lock();
    }
}

void OnlineLookups::Impl::endWrites() {
    {
        const std::lock_guard lock(writesMutex);
        writesEnd = true;
    }
    writesWake.notify_one();
    if (writerThread.joinable()) writerThread.join();
}

void OnlineLookups::Impl::failed(const std::string& key, const std::string& reason, Failure failure) {
    const auto found = pending.find(key);
    if (found == pending.end()) return;
    Pending entry = std::move(found->second);
    pending.erase(found);
    if (Host& host = hosts[entry.host];
        failure == Failure::Unreached && options.unreachablePause.count() > 0) {
        host.down = true;
        host.probing = false;
        host.downUntil = Clock::now() + options.unreachablePause;
        host.downReason = reason;
    }
    const bool unreached = failure != Failure::Unusable;
    LookupOutcome outcome = entry.kept
                                ? outcomeOf(read(*entry.kept, entry.name.suffix, epochNow(), options.zone))
                                : LookupOutcome::unavailable(reason, unreached);
    outcome.unreached = unreached && outcome.kind == LookupOutcome::Kind::Unavailable;
    outcome.kept = entry.kept.has_value();
    if (entry.probe) {
        std::cerr << "yuming-service: " + entry.host +
                         (unreached ? " still cannot be reached: " : " answered unusably: ") + reason +
                         " (asked in the background about " + key + ")\n";
        return;
    }
    report(key, reason, entry.kept.has_value(), outcome);
    for (Waiter& waiter : entry.waiters)
        waiter(outcome);
}

void OnlineLookups::Impl::finish(const std::string& key, const RegistryAnswer& answer) {
    const auto found = pending.find(key);
    if (found == pending.end()) return;
    Pending entry = std::move(found->second);
    pending.erase(found);
    const LookupOutcome outcome = outcomeOf(read(answer, entry.name.suffix, epochNow(), options.zone));
    if (outcome.kind == LookupOutcome::Kind::Unavailable) report(key, {}, false, outcome);
    for (Waiter& waiter : entry.waiters)
        waiter(outcome);
}

// What the drop list learned, when it changed: the name listed with its deletion time as the
// drop list's rule (the one the catalogue is built by) has it now, or off the list.
std::optional<LearnedName> OnlineLookups::Impl::learn(const DomainName& name, const RegistryAnswer& answer) {
    const Reading reading = read(answer, name.suffix, epochNow(), options.zone);
    if (reading.found && !reading.estimate) return std::nullopt;
    std::optional<Registration> now;
    bool list = false;
    if (reading.estimate) {
        now = registrationOf(*reading.estimate);
        list = reading.estimate->basis == DeletionBasis::Redemption ||
               reading.estimate->basis == DeletionBasis::PendingDelete;
    }
    const ReadResult<bool> changed = writer.learn(name.name, name.suffix, now, list, QDate::currentDate());
    if (!changed.ok())
        std::cerr << "yuming-service: cannot update the drop list with " << name.name << '.'
                  << suffixName(name.suffix) << ": " << changed.error << '\n';
    if (!changed.ok() || !changed.value || !listChanged) return std::nullopt;
    LearnedName learned{name.name, name.suffix, std::nullopt};
    const QDateTime clock = QDateTime::currentDateTime();
    const Origin origin = list ? Origin::Deleting : Origin::Learned;
    if (now && now->deletion >= yuming::Moment::of(clock).text() &&
        (listedAnyDay(origin) || now->deletion < dayText(listEnd(clock.date()))))
        learned.deletion = now->deletion;
    return learned;
}

OnlineLookups::OnlineLookups(OnlineOptions options, ListChanged listChanged)
    : m_impl(std::make_unique<Impl>(std::move(options), std::move(listChanged))) {
    m_impl->relay->impl = m_impl.get();
}

OnlineLookups::~OnlineLookups() {
    stop();
}

bool OnlineLookups::covers(Suffix suffix) const {
    return m_impl->options.bootstrap.baseFor(suffixName(suffix)).has_value();
}

void OnlineLookups::lookup(Store& store, const DomainName& name, Answer answer) {
    ask(store, name, std::nullopt, std::move(answer));
}

void OnlineLookups::refresh(Store& store, const DomainName& name, seconds maxAge, Answer answer) {
    ask(store, name, maxAge, std::move(answer));
}

void OnlineLookups::ask(Store& store, const DomainName& name, std::optional<seconds> maxAge, Answer answer) {
    DomainName plain = name;
    if (!plainLabel(plain.name)) {
        // A name in other letters is held by its registry in its ASCII form (xn--...); a name that
        // has none cannot be registered.
        const QByteArray ascii = QUrl::toAce(fromGbk(plain.name));
        if (!plainLabel(ascii.toStdString())) return answer(LookupOutcome::notRegistered());
        plain.name = ascii.toStdString();
    }
    const std::string key = plain.name + '.' + std::string(suffixName(plain.suffix));
    auto kept = store.answer(key);
    if (kept.ok() && kept.value) {
        const Reading reading = read(*kept.value, plain.suffix, epochNow(), m_impl->options.zone);
        const bool fresh = maxAge ? reading.age < maxAge->count() : reading.fresh;
        if (fresh && reading.readable) {
            const LookupOutcome outcome = outcomeOf(reading);
            if (outcome.kind == LookupOutcome::Kind::Unavailable) report(key, {}, false, outcome);
            return answer(outcome);
        }
    }
    Impl* impl = m_impl.get();
    asio::post(impl->io, [impl, key, plain = std::move(plain), kept = std::move(kept.value),
                          waiter = std::move(answer)]() mutable {
        impl->begin(key, std::move(plain), std::move(kept), std::move(waiter));
    });
}

void OnlineLookups::stop() {
    Impl& impl = *m_impl;
    if (!impl.thread.joinable()) return;
    {
        const std::lock_guard lock(impl.relay->mutex);
        impl.relay->impl = nullptr;
    }
    impl.stopped = true;
    impl.endWrites();
    impl.io.stop();
    impl.thread.join();
    // The askers' replies hold their connections, which must go while the front still runs;
    // so must those of lookups posted but not yet begun.
    impl.pending.clear();
    impl.io.restart();
    impl.io.poll();
}

} // namespace yuming::service
