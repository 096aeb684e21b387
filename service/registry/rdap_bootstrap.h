#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace yuming::service {

struct BootstrapRead;

// Which RDAP server answers for which suffix, read from a bootstrap file: a JSON object whose
// "services" array holds [[suffix, ...], [base URL, ...]] pairs.
class RdapBootstrap {
public:
    // Bad JSON or a file of the wrong shape fails with a reason; a single entry of the wrong shape
    // in an otherwise good file is passed over.
    static BootstrapRead parse(std::string_view json);
    // A user's own file; the error names the path.
    static BootstrapRead load(const std::string& path);
    // The file shipped with the service (rdap-bootstrap.json), compiled in.
    static const RdapBootstrap& builtIn();

    // The base URL, ending in "/", for a suffix such as "com" (any letter case, a leading dot
    // allowed); nothing when no server is known for it.
    std::optional<std::string> baseFor(std::string_view suffix) const;
    std::size_t size() const { return m_bases.size(); }

private:
    std::map<std::string, std::string, std::less<>> m_bases;
};

// `error` is empty exactly when `bootstrap` holds a usable table.
struct BootstrapRead {
    RdapBootstrap bootstrap;
    std::string error;
    bool ok() const { return error.empty(); }
};

} // namespace yuming::service
