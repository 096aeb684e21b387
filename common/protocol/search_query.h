#pragma once

#include <QString>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The search page's query: what the tool asks for (SearchQuery::encode) and how the service reads
// it (decodeSearchQuery), over one vocabulary.
namespace yuming {

// Where the keyword must stand in the name (the search page's "kaiwei" parameter).
enum class KeyPosition { Anywhere, Starts, Ends, StartsOrEnds };

// Character structure of the name ("op").
enum class CharKind { Any, Letters, Digits };

// Sort order of the result list ("o").
enum class SortKey { DeletionTime, Alphabetical, Suffix, Length, DeletionDateThenLength };

enum Suffix : std::uint8_t { Com = 1, Net = 2, Org = 4, Cn = 8 };
inline constexpr std::uint8_t kAllSuffixes = Com | Net | Org | Cn;

// A search as the tool sends it. The length bounds go out as they were typed; the service reads
// anything that is not a whole number as no bound.
struct SearchQuery {
    QString keyword;
    KeyPosition position = KeyPosition::Anywhere;
    QString minLength = QStringLiteral("0");
    QString maxLength = QStringLiteral("0");
    CharKind kind = CharKind::Any;
    SortKey sort = SortKey::DeletionDateThenLength;
    std::uint8_t suffixes = Com | Net;
    // 0-based.
    std::int64_t page = 0;

    // The query string after "/s/?". Typed values are escaped where a byte could not stand in
    // the request target or would split the query; everything else, GBK characters included,
    // goes out as it is.
    QString encode() const;

    bool operator==(const SearchQuery&) const = default;
};

// The highest page number a search goes by; higher ones are taken for it. Far past the last page
// of any drop list, and low enough that no sum or product of it with a page size can overflow.
inline constexpr std::int64_t kMaxPage = 1'000'000'000;

// A search as the service reads it.
struct SearchFilters {
    // Raw bytes, percent-decoded and with ASCII letters folded to lower case; bytes of other
    // scripts stay as they came (GBK), so they simply match no name.
    std::string keyword;
    KeyPosition position = KeyPosition::Anywhere;
    // 0 is no bound.
    int minLength = 0;
    int maxLength = 0;
    CharKind kind = CharKind::Any;
    SortKey sort = SortKey::DeletionDateThenLength;
    std::uint8_t suffixes = kAllSuffixes;
    std::int64_t page = 0;
};

// The outcome of reading a search query. `error` is empty when the filters are usable, and
// otherwise says in plain words which parameter was wrong, for a 400 page.
struct SearchQueryResult {
    SearchFilters filters;
    std::string error;
    bool ok() const { return error.empty(); }
};

// Reads the query part of a search request (the bytes after '?', without it). Pure: bytes in,
// filters out, never throws, accepts any bytes.
SearchQueryResult decodeSearchQuery(std::string_view query);

std::string_view suffixName(Suffix suffix);
// The suffix named `name` ("com", ...), nullopt for one the service does not keep.
std::optional<Suffix> suffixNamed(std::string_view name);

} // namespace yuming
