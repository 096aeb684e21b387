#pragma once

#include "protocol/search_query.h"

#include <optional>
#include <string>
#include <string_view>

namespace yuming::service {

// A name the service keeps: the part before the last dot and its suffix.
struct DomainName {
    std::string name;
    Suffix suffix;
};
// Splits "name.suffix" at the last dot; nullopt when the suffix is not one the service keeps.
std::optional<DomainName> splitDomain(std::string_view domain);

} // namespace yuming::service
