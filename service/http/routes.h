#pragma once

#include <QTimeZone>

#include "catalog/catalog.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace yuming::service {

// What a request gets: a status and an HTML page.
struct Reply {
    int status = 200;
    std::string body;
    // The one page that says which methods are served: 405 carries an Allow header.
    bool allowHeader = false;
    // A search answer while the names are sample data (protocol/sample_header.h).
    bool sampleHeader = false;
    // Empty: the pages' own (HTML in GBK). The API answers in JSON.
    std::string contentType{};
    // With allowHeader: the methods, when not the pages' "GET, HEAD".
    std::string allow{};
};

// A request as the front read it. The headers and the body are kept for the API only.
struct Request {
    std::string method;
    std::string target;
    std::string host;
    std::string authorization;
    std::string contentType{};
    std::string origin;
    std::string body;
};

// Whether `target` is one of the API's (under /api/).
bool isApiTarget(std::string_view target);

class OnlineLookups;
class WatchApi;

// The service's pages by path: the search, the lookup, the banner and the home page.
class Routes {
public:
    // Without `online`, every lookup is answered from the database. With `localWhenUnreached`, a
    // lookup the registry cannot answer is answered from the database when it holds the name, and
    // no lookup is "not registered" for want of data: a name nobody has data on is an error.
    Routes(const CatalogHolder& catalogs, std::string dbPath, OnlineLookups* online = nullptr,
           bool localWhenUnreached = false, const WatchApi* watch = nullptr)
        : m_catalogs(catalogs), m_dbPath(std::move(dbPath)), m_online(online),
          m_localWhenUnreached(localWhenUnreached), m_watch(watch) {}

    // The zone the service's own times are shown in (--time-zone); the system's by default.
    void setZone(QTimeZone zone) { m_zone = std::move(zone); }

    using Respond = std::function<void(Reply)>;
    // `target` as it came on the request line. Any thread: lookups use a database connection of
    // the calling thread's own. `respond` is called once: at once, or, for a lookup that asks a
    // registry, later from another thread.
    void answer(std::string_view method, std::string_view target, Respond respond) const;
    // The same with the request's headers and body, which the API needs.
    void answer(const Request& request, Respond respond) const;
    // For a request of the API whose head alone says it is refused (no token, a foreign Host): the
    // answer, given before its body is read.
    std::optional<Reply> refusal(const Request& head) const;

private:
    Reply search(std::string_view query) const;
    void lookup(std::string_view query, Respond respond) const;

    const CatalogHolder& m_catalogs;
    std::string m_dbPath;
    OnlineLookups* m_online;
    bool m_localWhenUnreached;
    const WatchApi* m_watch;
    QTimeZone m_zone;
};

// The error page for a status, with the message said for it when none is more specific.
Reply errorReply(int status, std::string_view message = {});
std::string_view reasonPhrase(int status);
// The API's error: {"error": message} in JSON, the message said for the status when none is given.
Reply apiErrorReply(int status, std::string_view message = {});

} // namespace yuming::service
