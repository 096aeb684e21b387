#include "registry/domain_name.h"

namespace yuming::service {

std::optional<DomainName> splitDomain(std::string_view domain) {
    const auto dot = domain.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return std::nullopt;
    const auto suffix = suffixNamed(domain.substr(dot + 1));
    if (!suffix) return std::nullopt;
    return DomainName{std::string(domain.substr(0, dot)), *suffix};
}

} // namespace yuming::service
