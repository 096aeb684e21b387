#pragma once

#include "protocol/search_query.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace yuming {

// The search as the commands keep it between requests: the filters and page of the last request
// (the page moves before its request goes out, whatever the answer), and the page count of the
// last page that carried one.
struct SearchState {
    SearchQuery query;
    // As cut from the page: the caption and yuming-cli show it as the service wrote it.
    std::optional<QString> pageCountText;
    std::int64_t pageCount = 0; // its value; 0 before any page carried one

    // A page has told how many pages there are.
    bool searched() const { return pageCountText && !pageCountText->isEmpty(); }
};

// The preset search of all domains about to expire: the filters' start state, with org as well.
inline SearchQuery presetQuery() {
    SearchQuery query;
    query.suffixes = Com | Net | Org;
    return query;
}

} // namespace yuming
