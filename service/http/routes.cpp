#include "http/routes.h"

#include "http/pages.h"
#include "http/watch_api.h"
#include "registry/domain_name.h"
#include "registry/online_lookups.h"

#include "protocol/lookup_request.h"
#include "protocol/paths.h"
#include "protocol/watch_paths.h"
#include "text/gbk.h"

#include <iostream>

#include <map>
#include <memory>

namespace yuming::service {

namespace {

std::string utf8(QStringView text) {
    return text.toString().toStdString();
}

const std::string& searchPath() {
    static const std::string path = utf8(paths::kSearch);
    return path;
}
const std::string& lookupPath() {
    static const std::string path = utf8(paths::kLookup);
    return path;
}
const std::string& bannerPath() {
    static const std::string path = utf8(paths::kBanner);
    return path;
}

struct Target {
    std::string_view path;
    std::string_view query;
};

// Origin form ("/s/?key=a") as clients send it, or absolute form ("http://host/s/?key=a"),
// which a server must take as well.
Target splitTarget(std::string_view target) {
    if (const auto scheme = target.find("://");
        !target.starts_with('/') && scheme != std::string_view::npos) {
        const auto rest = target.find_first_of("/?", scheme + 3);
        target = rest == std::string_view::npos ? std::string_view{} : target.substr(rest);
    }
    const auto mark = target.find('?');
    Target split{target.substr(0, mark),
                 mark == std::string_view::npos ? std::string_view{} : target.substr(mark + 1)};
    if (split.path.empty()) split.path = "/";
    return split;
}

// The statuses the service answers with: reason phrase and the message of its plain error page.
struct StatusText {
    int status;
    std::string_view reason;
    std::string_view message;
};
constexpr StatusText kStatuses[] = {
    {200, "OK", {}},
    {400, "Bad Request", "The request could not be read."},
    {401, "Unauthorized", "The request needs the service's token."},
    {403, "Forbidden", "The request is refused."},
    {404, "Not Found", "No such page."},
    {405, "Method Not Allowed", "Only GET is served here."},
    {408, "Request Timeout", "The request did not arrive in time."},
    {413, "Content Too Large", "The request body is too large."},
    {414, "URI Too Long", "The request target is too long."},
    {431, "Request Header Fields Too Large", "The request headers are too large."},
    {500, "Internal Server Error", "The request failed."},
    {502, "Bad Gateway", "The registry gave no usable answer."},
    {503, "Service Unavailable", "The service has too many connections; try again shortly."},
    {505, "HTTP Version Not Supported", "The request failed."},
};

const StatusText* statusText(int status) {
    for (const StatusText& known : kStatuses)
        if (known.status == status) return &known;
    return nullptr;
}

std::string_view defaultMessage(int status) {
    const StatusText* known = statusText(status);
    return known && !known->message.empty() ? known->message : "The request failed.";
}

// Each serving thread keeps its own read-only connection for lookups, one per database. One that
// could not be opened is tried again on the next lookup: the file may be there by then.
Store& threadStore(const std::string& path) {
    thread_local std::map<std::string, std::unique_ptr<Store>> stores;
    std::unique_ptr<Store>& store = stores[path];
    if (!store || !store->isOpen()) store = std::make_unique<Store>(path);
    return *store;
}

// The name asked for, as messages and the log show it (UTF-8; the request has it in GBK).
std::string shown(std::string_view domain) {
    return fromGbk(QByteArrayView(domain.data(), qsizetype(domain.size()))).toStdString();
}

// What the registries said about `domain` (as the asker wrote it), or why they said nothing usable.
Reply onlineReply(std::string_view domain, const LookupOutcome& outcome) {
    if (outcome.kind != LookupOutcome::Kind::Unavailable) return {200, registryLookupPage(domain, outcome)};
    return errorReply(502,
                      "The registry gave no usable answer about " + shown(domain) + ": " + outcome.reason);
}

// The same, falling back on the database's `held` dates when the registry said nothing usable; a
// name the database does not hold is then unknown, never unregistered.
Reply onlineOrLocalReply(std::string_view domain, const LookupOutcome& outcome,
                         const std::optional<Registration>& held, const std::string& readError) {
    if (outcome.kind != LookupOutcome::Kind::Unavailable) return {200, registryLookupPage(domain, outcome)};
    if (held) return {200, localLookupPage(domain, *held, outcome.unreached)};
    const std::string local = readError.empty() ? "the local list does not hold the name"
                                                : "the database cannot be read: " + readError;
    return errorReply(502, (outcome.unreached ? "The registry could not be reached about "
                                              : "The registry gave no usable answer about ") +
                               shown(domain) + " (" + outcome.reason + ") and " + local + ".");
}

// A failed lookup the registries had no part in: its one line in the log, and its error page.
Reply failedLookup(std::string_view domain, int status, const std::string& message) {
    std::cerr << "yuming-service: lookup of " + shown(domain) + ": " + message + '\n';
    return errorReply(status, message);
}

} // namespace

Reply errorReply(int status, std::string_view message) {
    if (!message.empty()) return {status, errorPage(status, message), status == 405};
    // The plain error pages are built once: a crowd of clients timing out at the same moment
    // gets them at the cost of a copy.
    static const std::map<int, std::string> plain = [] {
        std::map<int, std::string> pages;
        for (const StatusText& known : kStatuses)
            if (known.status >= 400)
                pages.emplace(known.status, errorPage(known.status, defaultMessage(known.status)));
        return pages;
    }();
    const auto found = plain.find(status);
    return {status, found != plain.end() ? found->second : errorPage(status, defaultMessage(status)),
            status == 405};
}

std::string_view reasonPhrase(int status) {
    const StatusText* known = statusText(status);
    return known ? known->reason : "Error";
}

bool isApiTarget(std::string_view target) {
    const std::string_view path = splitTarget(target).path;
    return path == watch_paths::kPrefix.substr(0, watch_paths::kPrefix.size() - 1) ||
           path.starts_with(watch_paths::kPrefix);
}

Reply apiErrorReply(int status, std::string_view message) {
    return jsonError(status, message.empty() ? defaultMessage(status) : message);
}

void Routes::answer(const Request& request, Respond respond) const {
    if (m_watch && isApiTarget(request.target)) return m_watch->answer(request, std::move(respond));
    answer(request.method, request.target, std::move(respond));
}

std::optional<Reply> Routes::refusal(const Request& head) const {
    if (!m_watch || !isApiTarget(head.target)) return std::nullopt;
    return m_watch->refusal(head);
}

void Routes::answer(std::string_view method, std::string_view target, Respond respond) const {
    if (method != "GET" && method != "HEAD") return respond(errorReply(405));
    const auto [path, query] = splitTarget(target);
    if (path == lookupPath()) return lookup(query, std::move(respond));
    if (path == searchPath()) return respond(search(query));
    if (path == bannerPath())
        return respond({200, bannerPage(m_catalogs.current()->size(), m_catalogs.sample(),
                                        m_catalogs.refresh().get(), m_zone)});
    if (path == "/") return respond({200, homePage(m_catalogs.current()->size(), m_catalogs.sample())});
    respond(errorReply(404));
}

Reply Routes::search(std::string_view query) const {
    const SearchQueryResult decoded = decodeSearchQuery(query);
    if (!decoded.ok()) return errorReply(400, decoded.error);
    const std::shared_ptr<const Catalog> catalog = m_catalogs.current();
    const Catalog::Page page = catalog->search(decoded.filters, kPageSize);
    Reply reply{200, searchPage(*catalog, page, decoded.filters.page)};
    reply.sampleHeader = m_catalogs.sample();
    return reply;
}

void Routes::lookup(std::string_view query, Respond respond) const {
    const std::string domain = decodeLookupDomain(query);
    if (domain.empty()) return respond(errorReply(400, "The domain to look up is missing."));
    Store& store = threadStore(m_dbPath);
    if (!store.isOpen()) return respond(failedLookup(domain, 500, "The database cannot be read."));
    // decodeLookupDomain has folded the name to lower case, as registries take it.
    const std::optional<DomainName> split = splitDomain(domain);
    const bool online = m_online && split && m_online->covers(split->suffix);
    if (online && !m_localWhenUnreached)
        return m_online->lookup(store, *split, [domain, respond = std::move(respond)](LookupOutcome outcome) {
            respond(onlineReply(domain, outcome));
        });
    std::optional<Registration> registration;
    std::string readError;
    if (split) {
        // A read that failed says so; it is never an unregistered name.
        auto read = store.registration(split->name, suffixName(split->suffix));
        if (!read.ok() && !online)
            return respond(failedLookup(domain, 500, "The database cannot be read: " + read.error));
        registration = std::move(read.value);
        readError = std::move(read.error);
    }
    if (online)
        return m_online->lookup(
            store, *split,
            [domain, registration, readError, respond = std::move(respond)](LookupOutcome outcome) {
                respond(onlineOrLocalReply(domain, outcome, registration, readError));
            });
    if (!registration && m_localWhenUnreached)
        return respond(failedLookup(
            domain, 502,
            split ? "No registry is asked about ." + std::string(suffixName(split->suffix)) +
                        " names and the local list does not hold " + shown(domain) + "."
                  : "No registry is asked about " + shown(domain) + " and the local list does not hold it."));
    respond({200, lookupPage(domain, registration)});
}

} // namespace yuming::service
