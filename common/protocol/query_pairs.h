#pragma once

#include <string_view>

namespace yuming {

// Calls `visit(name, value)` for every "name=value" pair of a query, both still encoded. A pair
// without '=' has an empty value; empty pairs are skipped.
template <typename Visit> void forEachQueryPair(std::string_view query, Visit&& visit) {
    while (!query.empty()) {
        const auto amp = query.find('&');
        const auto pair = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view{} : query.substr(amp + 1);
        if (pair.empty()) continue;
        const auto eq = pair.find('=');
        if (eq == std::string_view::npos) {
            visit(pair, std::string_view{});
            continue;
        }
        visit(pair.substr(0, eq), pair.substr(eq + 1));
    }
}

} // namespace yuming
