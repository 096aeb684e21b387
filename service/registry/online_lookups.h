#pragma once

#include "catalog/learned_name.h"
#include "net/http_client.h"
#include "registry/domain_name.h"
#include "registry/lookup_outcome.h"
#include "registry/rdap_bootstrap.h"
#include "store/store.h"

#include <QTimeZone>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace yuming::service {

struct OnlineOptions {
    std::string dbPath;
    RdapBootstrap bootstrap;
    HttpClientOptions http;
    // Requests per second to one registry host; more wait their turn.
    double rate = 1.0;
    // The longest a lookup waits for its turn at a registry (a Retry-After included) before it
    // is answered without one: the tool gives up on a page that takes 30 s.
    std::chrono::milliseconds queueLimit{15000};
    // The longest a lookup that changed the drop list waits for the catalogue to hold the change
    // (the keeper lays a learned name over the catalogue served at once; this is the bound).
    std::chrono::milliseconds catalogueWait{3000};
    QTimeZone zone = QTimeZone::systemTimeZone();
    // A registry host that could not be reached is not asked for this long: lookups are answered
    // at once (the kept answer, or unavailable), and the first after it asks once in the
    // background; an answer makes the host reachable again. 0: every lookup asks.
    std::chrono::seconds unreachablePause{0};
};

// Lookups answered from the registries' RDAP servers. Every answer is kept in the database; one
// still fresh for the status it reports is used again without asking, and when a registry cannot
// be reached the last answer is used whatever its age. Names an answer finds about to be deleted
// go on the drop list, names found renewed or gone come off it. Then `listChanged` is called with
// what the list learned and a callback, which it calls (on any thread) once the catalogue holds the
// change; the lookup is answered then, so a search right after agrees, or after `catalogueWait` at
// the latest.
class OnlineLookups {
public:
    using ListChanged = std::function<void(LearnedName learned, std::function<void()> inCatalogue)>;
    using Answer = std::function<void(LookupOutcome)>;
    OnlineLookups(OnlineOptions options, ListChanged listChanged);
    ~OnlineLookups();
    OnlineLookups(const OnlineLookups&) = delete;
    OnlineLookups& operator=(const OnlineLookups&) = delete;

    // Whether a registry is known for the suffix; other names are looked up in the database.
    bool covers(Suffix suffix) const;
    // Any thread; `store` is that thread's own connection, used for an answer still fresh.
    // `answer` is called once, on this thread or the lookups' own.
    void lookup(Store& store, const DomainName& name, Answer answer);
    // The same for the watchlist, which paces its own checks: a kept answer is used only when it
    // is younger than `maxAge` (0: the registry is asked whatever the answer's freshness), still
    // within the rate limit.
    void refresh(Store& store, const DomainName& name, std::chrono::seconds maxAge, Answer answer);
    // Ends the requests under way; their lookups are not answered. Before the front goes.
    void stop();

    struct Impl;

private:
    void ask(Store& store, const DomainName& name, std::optional<std::chrono::seconds> maxAge, Answer answer);

    std::unique_ptr<Impl> m_impl;
};

} // namespace yuming::service
