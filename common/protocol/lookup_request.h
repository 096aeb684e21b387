#pragma once

#include <QString>

#include <string>
#include <string_view>

// The lookup page's request: what the tool asks for (LookupRequest::encode) and how the service
// reads it (decodeLookupDomain).
namespace yuming {

struct LookupRequest {
    // As typed: bytes that cannot stand in a request target are escaped, the rest (GBK
    // characters included) goes out as it is.
    QString domain;

    struct Encoded {
        QString target;  // the request line's target: the lookup page asking for all three answers
        QString referer; // the Referer after the service's origin: the same page with the last two
    };
    Encoded encode() const;

    bool operator==(const LookupRequest&) const = default;
};

// Reads the lookup query and returns the percent-decoded, lower-cased "domain" value (empty if
// there is none).
std::string decodeLookupDomain(std::string_view query);

} // namespace yuming
