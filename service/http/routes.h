#pragma once

#include "catalog/catalog.h"

#include <functional>
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
};

class OnlineLookups;

// The service's pages by path: the search, the lookup, the banner and the home page.
class Routes {
public:
    // Without `online`, every lookup is answered from the database. With `localWhenUnreached`, a
    // lookup the registry cannot answer is answered from the database when it holds the name, and
    // no lookup is "not registered" for want of data: a name nobody has data on is an error.
    Routes(const CatalogHolder& catalogs, std::string dbPath, OnlineLookups* online = nullptr,
           bool localWhenUnreached = false)
        : m_catalogs(catalogs), m_dbPath(std::move(dbPath)), m_online(online),
          m_localWhenUnreached(localWhenUnreached) {}

    using Respond = std::function<void(Reply)>;
    // `target` as it came on the request line. Any thread: lookups use a database connection of
    // the calling thread's own. `respond` is called once: at once, or, for a lookup that asks a
    // registry, later from another thread.
    void answer(std::string_view method, std::string_view target, Respond respond) const;

private:
    Reply search(std::string_view query) const;
    void lookup(std::string_view query, Respond respond) const;

    const CatalogHolder& m_catalogs;
    std::string m_dbPath;
    OnlineLookups* m_online;
    bool m_localWhenUnreached;
};

// The error page for a status, with the message said for it when none is more specific.
Reply errorReply(int status, std::string_view message = {});
std::string_view reasonPhrase(int status);

} // namespace yuming::service
