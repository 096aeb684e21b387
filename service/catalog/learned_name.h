#pragma once

#include "protocol/search_query.h"

#include <optional>
#include <string>

namespace yuming::service {

// What a registry's answer made of one name on the drop list: listed with this deletion time, or
// (no deletion) off the list.
struct LearnedName {
    std::string name;
    Suffix suffix = Com;
    std::optional<std::string> deletion;
};

} // namespace yuming::service
