#include "registry/domain_name.h"

namespace yuming::service {

std::optional<DomainName> splitDomain(std::string_view domain) {
    const auto dot = domain.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return std::nullopt;
    const auto suffix = domain.substr(dot + 1);
    for (Suffix s : {Com, Net, Org, Cn})
        if (suffixName(s) == suffix) return DomainName{std::string(domain.substr(0, dot)), s};
    return std::nullopt;
}

} // namespace yuming::service
