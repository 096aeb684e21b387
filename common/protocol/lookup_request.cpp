#include "protocol/lookup_request.h"

#include "protocol/paths.h"
#include "protocol/query_pairs.h"
#include "protocol/request_lines.h"
#include "text/concat.h"
#include "text/percent.h"

namespace yuming {

LookupRequest::Encoded LookupRequest::encode() const {
    const QString page = concat(paths::kLookup, request_lines::kLookupDomain, escapeTargetValue(domain));
    return {concat(page, paths::kLookupParams), concat(page, paths::kLookupRefererParams)};
}

std::string decodeLookupDomain(std::string_view query) {
    std::string domain;
    bool found = false;
    forEachQueryPair(query, [&](std::string_view rawName, std::string_view rawValue) {
        if (found || percentDecode(rawName) != "domain") return;
        domain = percentDecode(rawValue);
        found = true;
    });
    foldAsciiCase(domain);
    return domain;
}

} // namespace yuming
