#pragma once

#include "catalog.h"

#include <string>
#include <string_view>

namespace yuming::service {

// What a request gets: a status and an HTML page.
struct Reply {
    int status = 200;
    std::string body;
    // The one page that says which methods are served: 405 carries an Allow header.
    bool allowHeader = false;
};

// The service's pages by path: the search, the lookup, the banner and the home page.
class Routes {
public:
    Routes(const Catalog& catalog, std::string dbPath) : m_catalog(catalog), m_dbPath(std::move(dbPath)) {}

    // `target` as it came on the request line. Any thread: lookups use a database connection of
    // the calling thread's own.
    Reply answer(std::string_view method, std::string_view target) const;

private:
    Reply search(std::string_view query) const;
    Reply lookup(std::string_view query) const;

    const Catalog& m_catalog;
    std::string m_dbPath;
};

// The error page for a status, with the message said for it when none is more specific.
Reply errorReply(int status, std::string_view message = {});
std::string_view reasonPhrase(int status);

} // namespace yuming::service
