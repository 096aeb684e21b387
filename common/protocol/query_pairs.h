#pragma once

#include <string>
#include <string_view>

// Reading a request's query, as both the search and the lookup page do.
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

// %XX becomes the byte, '+' a blank; a '%' not followed by two hex digits stays as it is.
std::string percentDecode(std::string_view text);

// ASCII letters to lower case; bytes of other scripts (GBK) stay as they are.
void foldAsciiCase(std::string& text);

} // namespace yuming
