#pragma once

#include <QtGlobal>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace yuming::service {

// What a registry's RDAP server says about one domain, as far as its deletion is concerned.
struct RdapRecord {
    // In RDAP's spelling: lower case, words separated by one blank ("redemption period",
    // "pending delete", "client transfer prohibited"). Each status once, in the order given.
    std::vector<std::string> statuses;
    // Seconds since the epoch (UTC).
    std::optional<qint64> expiration, lastChanged, registration;

    bool has(std::string_view status) const;
    bool operator==(const RdapRecord&) const = default;
};

// `error` is a short reason in English when `record` is empty.
struct RdapParse {
    std::optional<RdapRecord> record;
    std::string error;
};

// Reads an RDAP domain answer to a question about `asked` ("example.com", a name in other letters
// in its ASCII form "xn--fiqs8s.com"). The answer must say it is about that name: its ldhName (any
// letter case) and, when given, its unicodeName must name it, or the answer fails, as one that
// names no domain at all does. Unknown statuses are kept; an event whose date cannot be read, falls
// before 1985 or more than 100 years ahead, or (a last change or a registration) lies more than a
// day ahead, is left out rather than failing the answer.
RdapParse parseRdapDomain(std::string_view json, std::string_view asked);

// A status as RDAP spells it: letter case folded, runs of blanks made one, and EPP's names
// ("pendingDelete", "ok") turned into RDAP's ("pending delete", "active").
std::string normaliseStatus(std::string_view status);

// One line of text for the lookup cache, read back by deserialize(); any status survives it.
std::string serialize(const RdapRecord& record);
// Nothing for text serialize() did not make.
std::optional<RdapRecord> deserialize(std::string_view text);

} // namespace yuming::service
