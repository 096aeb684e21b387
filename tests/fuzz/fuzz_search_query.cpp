#include "protocol/lookup_request.h"
#include "protocol/search_query.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

// Any bytes as a query string: decoding must neither crash nor read out of bounds, and a
// usable result must carry values the search can use as they are.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view query(reinterpret_cast<const char*>(data), size);
    const auto result = yuming::decodeSearchQuery(query);
    if (result.ok() && (result.filters.page < 0 || result.filters.minLength < 0 ||
                        result.filters.maxLength < 0 || result.filters.suffixes == 0))
        __builtin_trap();
    yuming::decodeLookupDomain(query);
    return 0;
}
