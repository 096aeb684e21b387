#include "protocol/search_query.h"

#include "protocol/query_pairs.h"

#include "text/concat.h"
#include "text/percent.h"

#include <array>
#include <charconv>
#include <limits>
#include <optional>
#include <utility>

namespace yuming {

namespace {

// A length bound: anything that is not a whole number, or is below zero, means no bound.
int lengthBound(std::string_view text) {
    long long value = 0;
    const auto* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ptr != end || text.empty()) return 0;
    if (ec == std::errc::result_out_of_range)
        return text.front() == '-' ? 0 : std::numeric_limits<int>::max();
    if (ec != std::errc{} || value < 0) return 0;
    return value > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max()
                                                   : static_cast<int>(value);
}

// Page numbers must be whole non-negative numbers. One past the last page is simply empty, and
// so is any beyond kMaxPage, which stands for them all.
std::optional<std::int64_t> pageNumber(std::string_view text) {
    if (text.empty()) return std::nullopt;
    for (char c : text)
        if (c < '0' || c > '9') return std::nullopt;
    std::int64_t value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec == std::errc::result_out_of_range || value > kMaxPage) return kMaxPage;
    if (ec != std::errc{} || ptr != text.data() + text.size()) return std::nullopt;
    return value;
}

template <typename T, std::size_t N>
std::optional<T> lookUp(const std::array<std::pair<std::string_view, T>, N>& table, std::string_view value) {
    for (const auto& [name, item] : table)
        if (name == value) return item;
    return std::nullopt;
}

// Sets `out` to the item `value` names, or `error` to what the parameter takes.
template <typename T, std::size_t N>
void pick(const std::array<std::pair<std::string_view, T>, N>& table, std::string_view value, T& out,
          std::string& error, const char* takes) {
    if (const auto item = lookUp(table, value))
        out = *item;
    else
        error = takes;
}

constexpr std::array<std::pair<std::string_view, KeyPosition>, 4> kPositions{{
    {"radom", KeyPosition::Anywhere},
    {"starts", KeyPosition::Starts},
    {"end", KeyPosition::Ends},
    {"startsend", KeyPosition::StartsOrEnds},
}};

constexpr std::array<std::pair<std::string_view, CharKind>, 3> kKinds{{
    {"zahe", CharKind::Any},
    {"char", CharKind::Letters},
    {"num", CharKind::Digits},
}};

constexpr std::array<std::pair<std::string_view, SortKey>, 5> kSortKeys{{
    {"o_1", SortKey::DeletionTime},
    {"o_2", SortKey::Alphabetical},
    {"o_3", SortKey::Suffix},
    {"o_4", SortKey::Length},
    {"o_5", SortKey::DeletionDateThenLength},
}};

constexpr std::array<std::pair<std::string_view, Suffix>, 4> kSuffixes{{
    {"com", Com},
    {"net", Net},
    {"org", Org},
    {"cn", Cn},
}};

template <typename T, std::size_t N>
std::string_view nameOf(const std::array<std::pair<std::string_view, T>, N>& table, T item) {
    for (const auto& [name, value] : table)
        if (value == item) return name;
    return {};
}

QString latin1(std::string_view text) {
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

} // namespace

QString SearchQuery::encode() const {
    QString suffixPairs;
    for (const auto& [name, suffix] : kSuffixes)
        if (suffixes & suffix) suffixPairs += concat(u"&", latin1(name), u"=", latin1(name));
    return concat(u"key=", escapeTargetValue(keyword), u"&kaiwei=", latin1(nameOf(kPositions, position)),
                  u"&min=", escapeTargetValue(minLength), u"&max=", escapeTargetValue(maxLength), u"&op=",
                  latin1(nameOf(kKinds, kind)), u"&o=", latin1(nameOf(kSortKeys, sort)), suffixPairs,
                  u"&tsym=0&d=0&do=do&page=", QString::number(page));
}

std::string_view suffixName(Suffix suffix) {
    return nameOf(kSuffixes, suffix);
}

std::optional<Suffix> suffixNamed(std::string_view name) {
    return lookUp(kSuffixes, name);
}

SearchQueryResult decodeSearchQuery(std::string_view query) {
    SearchQueryResult result;
    SearchFilters& filters = result.filters;
    std::uint8_t ticked = 0;
    forEachQueryPair(query, [&](std::string_view rawName, std::string_view rawValue) {
        if (!result.ok()) return;
        const std::string name = percentDecode(rawName);
        std::string value = percentDecode(rawValue);
        if (name == "key") {
            foldAsciiCase(value);
            filters.keyword = std::move(value);
        } else if (name == "kaiwei") {
            pick(kPositions, value, filters.position, result.error,
                 "kaiwei must be radom, starts, end or startsend");
        } else if (name == "op") {
            pick(kKinds, value, filters.kind, result.error, "op must be zahe, char or num");
        } else if (name == "o") {
            pick(kSortKeys, value, filters.sort, result.error, "o must be one of o_1 to o_5");
        } else if (name == "min") {
            filters.minLength = lengthBound(value);
        } else if (name == "max") {
            filters.maxLength = lengthBound(value);
        } else if (name == "page") {
            const auto page = pageNumber(value);
            if (!page)
                result.error = "page must be a whole number from 0 up";
            else
                filters.page = *page;
        } else if (const auto suffix = lookUp(kSuffixes, name); suffix && value == name) {
            ticked |= *suffix;
        }
        // Anything else (tsym, d, do and whatever a browser adds) does not change the result.
    });
    filters.suffixes = ticked == 0 ? kAllSuffixes : ticked;
    return result;
}

} // namespace yuming
