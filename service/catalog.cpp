#include "catalog.h"

#include <algorithm>
#include <bit>
#include <map>
#include <tuple>

namespace yuming::service {

int symbol(char c) {
    if (c >= 'a' && c <= 'z') return c - 'a';
    if (c >= '0' && c <= '9') return 26 + c - '0';
    return c == '-' ? 36 : -1;
}

std::size_t pairGram(char a, char b) {
    return static_cast<std::size_t>(kSymbols + symbol(a) * kSymbols + symbol(b));
}

namespace {

CharKind kindOf(std::string_view name) {
    const bool letters = std::all_of(name.begin(), name.end(), [](char c) { return c >= 'a' && c <= 'z'; });
    if (letters && !name.empty()) return CharKind::Letters;
    const bool digits = std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (digits && !name.empty()) return CharKind::Digits;
    return CharKind::Any;
}

// Names hold only these; a keyword with any other byte (a blank, a dot, GBK) matches nothing.
bool canMatch(std::string_view keyword) {
    return std::all_of(keyword.begin(), keyword.end(), [](char c) { return symbol(c) >= 0; });
}

std::size_t sortIndex(SortKey key) {
    return static_cast<std::size_t>(key);
}

// cn, com, net, org: the order of the suffix texts, as the database sorts them.
int suffixRank(Suffix suffix) {
    switch (suffix) {
    case Cn:
        return 0;
    case Com:
        return 1;
    case Net:
        return 2;
    case Org:
        return 3;
    }
    return 4;
}

} // namespace

Catalog::Catalog(const std::vector<ListedName>& rows) {
    std::map<std::string, std::uint32_t> deletions;
    for (const auto& row : rows)
        deletions.emplace(row.deletion, 0);
    for (auto& [text, index] : deletions) {
        index = static_cast<std::uint32_t>(m_deletions.size());
        m_deletions.push_back(text);
    }
    m_entries.reserve(rows.size());
    for (const auto& row : rows) {
        const auto length = std::min<std::size_t>(row.name.size(), UINT16_MAX);
        m_entries.push_back({static_cast<std::uint32_t>(m_names.size()), static_cast<std::uint16_t>(length),
                             row.suffix, kindOf(row.name), deletions.at(row.deletion)});
        m_names.append(row.name, 0, length);
        m_reversed.append(row.name.rbegin() + static_cast<std::ptrdiff_t>(row.name.size() - length),
                          row.name.rend());
    }
    buildOrders();
    buildGrams();
    for (const Entry& e : m_entries)
        ++m_tally[static_cast<std::size_t>(std::countr_zero(static_cast<unsigned>(e.suffix)))]
                 [static_cast<std::size_t>(e.kind)][std::min<std::size_t>(e.length, kTallyLengths - 1)];
}

std::string_view Catalog::name(std::uint32_t id) const {
    const Entry& e = m_entries[id];
    return std::string_view(m_names).substr(e.offset, e.length);
}

std::string_view Catalog::reversedName(std::uint32_t id) const {
    const Entry& e = m_entries[id];
    return std::string_view(m_reversed).substr(e.offset, e.length);
}

Catalog::Row Catalog::row(std::uint32_t id) const {
    const Entry& e = m_entries[id];
    return {name(id), e.suffix, m_deletions[e.deletion]};
}

void Catalog::buildOrders() {
    std::vector<std::uint32_t> ids(m_entries.size());
    for (std::uint32_t i = 0; i < ids.size(); ++i)
        ids[i] = i;
    const auto domain = [this](std::uint32_t id) {
        return std::tuple(name(id), suffixRank(m_entries[id].suffix));
    };
    const auto day = [this](std::uint32_t id) {
        return std::string_view(m_deletions[m_entries[id].deletion]).substr(0, 10);
    };
    const auto sorted = [&](auto key) {
        auto order = ids;
        std::sort(order.begin(), order.end(),
                  [&](std::uint32_t a, std::uint32_t b) { return key(a) < key(b); });
        return order;
    };
    m_byName = sorted(domain);
    m_byReversed = sorted([this](std::uint32_t id) { return reversedName(id); });
    m_order[sortIndex(SortKey::DeletionTime)] = sorted(
        [&](std::uint32_t id) { return std::tuple_cat(std::tuple(m_entries[id].deletion), domain(id)); });
    m_order[sortIndex(SortKey::Alphabetical)] = m_byName;
    m_order[sortIndex(SortKey::Suffix)] =
        sorted([&](std::uint32_t id) { return std::tuple(suffixRank(m_entries[id].suffix), name(id)); });
    m_order[sortIndex(SortKey::Length)] = sorted(
        [&](std::uint32_t id) { return std::tuple_cat(std::tuple(m_entries[id].length), domain(id)); });
    m_order[sortIndex(SortKey::DeletionDateThenLength)] = sorted([&](std::uint32_t id) {
        return std::tuple_cat(std::tuple(day(id), m_entries[id].length), domain(id));
    });
    for (std::size_t k = 0; k < kSortKeys; ++k) {
        m_rank[k].resize(ids.size());
        for (std::uint32_t position = 0; position < ids.size(); ++position)
            m_rank[k][m_order[k][position]] = position;
    }
}

bool Catalog::passes(std::uint32_t id, const SearchFilters& filters, bool checkKeyword) const {
    const Entry& e = m_entries[id];
    if (!(e.suffix & filters.suffixes)) return false;
    if (filters.minLength > 0 && e.length < filters.minLength) return false;
    if (filters.maxLength > 0 && e.length > filters.maxLength) return false;
    if (filters.kind != CharKind::Any && e.kind != filters.kind) return false;
    if (!checkKeyword) return true;
    return name(id).find(filters.keyword) != std::string_view::npos;
}

// Rows that may match, or `all` when every row must be looked at (no keyword, or a keyword
// that may stand anywhere). Prefix and suffix searches come out of the two name orders by
// binary search.
std::vector<std::uint32_t> Catalog::candidates(const SearchFilters& filters, bool& all) const {
    all = filters.keyword.empty() || filters.position == KeyPosition::Anywhere;
    std::vector<std::uint32_t> out;
    if (all) return out;
    const auto range = [&](const std::vector<std::uint32_t>& order, std::string_view key, auto view) {
        const auto k = key.size();
        const auto [lo, hi] =
            std::equal_range(order.begin(), order.end(), key, [&](const auto& a, const auto& b) {
                if constexpr (std::is_same_v<std::decay_t<decltype(a)>, std::uint32_t>)
                    return view(a).substr(0, k) < b;
                else
                    return a < view(b).substr(0, k);
            });
        out.insert(out.end(), lo, hi);
    };
    const std::string reversedKey(filters.keyword.rbegin(), filters.keyword.rend());
    const auto byName = [this](std::uint32_t id) { return name(id); };
    const auto byReversed = [this](std::uint32_t id) { return reversedName(id); };
    if (filters.position != KeyPosition::Ends) range(m_byName, filters.keyword, byName);
    if (filters.position != KeyPosition::Starts) range(m_byReversed, reversedKey, byReversed);
    if (filters.position == KeyPosition::StartsOrEnds) {
        std::sort(out.begin(), out.end());
        out.erase(std::unique(out.begin(), out.end()), out.end());
    }
    return out;
}

// A keyword anywhere in the name. Every row is listed under each letter and each pair of
// letters its name holds; the keyword's rarest pair (or its one letter) gives the rows that can
// hold it, and only those are checked.
void Catalog::containing(const SearchFilters& filters, std::vector<std::uint32_t>& matches) const {
    const std::string_view key(filters.keyword);
    if (key.size() == 1) {
        for (std::uint32_t id : m_grams[static_cast<std::size_t>(symbol(key[0]))])
            if (passes(id, filters, false)) matches.push_back(id);
        return;
    }
    const std::vector<std::uint32_t>* rarest = nullptr;
    for (std::size_t i = 0; i + 1 < key.size(); ++i) {
        const auto& rows = m_grams[pairGram(key[i], key[i + 1])];
        if (!rarest || rows.size() < rarest->size()) rarest = &rows;
    }
    const bool verify = key.size() > 2;
    for (std::uint32_t id : *rarest)
        if (passes(id, filters, verify)) matches.push_back(id);
}

void Catalog::buildGrams() {
    m_grams.resize(kSymbols + kSymbols * kSymbols);
    std::vector<std::size_t> seen;
    for (std::uint32_t id = 0; id < m_entries.size(); ++id) {
        const std::string_view text = name(id);
        seen.clear();
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (symbol(text[i]) < 0) continue;
            seen.push_back(static_cast<std::size_t>(symbol(text[i])));
            if (i + 1 < text.size() && symbol(text[i + 1]) >= 0)
                seen.push_back(pairGram(text[i], text[i + 1]));
        }
        std::sort(seen.begin(), seen.end());
        seen.erase(std::unique(seen.begin(), seen.end()), seen.end());
        for (std::size_t gram : seen)
            m_grams[gram].push_back(id);
    }
}

Catalog::Page Catalog::search(const SearchFilters& filters, int pageSize) const {
    Page page;
    if (!canMatch(filters.keyword)) return page;
    bool all = false;
    std::vector<std::uint32_t> matches;
    if (const auto some = candidates(filters, all); !all) {
        for (std::uint32_t id : some)
            if (passes(id, filters, false)) matches.push_back(id);
    } else if (filters.keyword.empty() && filters.minLength < kTallyLengths - 1 &&
               filters.maxLength < kTallyLengths - 1) {
        return unfiltered(filters, pageSize);
    } else if (filters.keyword.empty()) {
        for (std::uint32_t id = 0; id < m_entries.size(); ++id)
            if (passes(id, filters, false)) matches.push_back(id);
    } else {
        containing(filters, matches);
    }
    page.total = static_cast<std::int64_t>(matches.size());
    if (filters.page >= (page.total + pageSize - 1) / pageSize) return page;
    page.rows = slice(matches, filters.sort, filters.page * pageSize, pageSize);
    return page;
}

// Without a keyword (the all-names search) the count comes from a tally of names by suffix,
// structure and length, and the page from walking the requested order: nothing scans the
// whole list.
Catalog::Page Catalog::unfiltered(const SearchFilters& filters, int pageSize) const {
    Page page;
    const int lowest = std::max(filters.minLength, 0);
    const int highest =
        filters.maxLength > 0 ? std::min(filters.maxLength, kTallyLengths - 1) : kTallyLengths - 1;
    for (std::size_t suffix = 0; suffix < kSuffixCount; ++suffix) {
        if (!(filters.suffixes & (1 << suffix))) continue;
        for (std::size_t kind = 0; kind < kKindCount; ++kind) {
            if (filters.kind != CharKind::Any && static_cast<std::size_t>(filters.kind) != kind) continue;
            for (int length = lowest; length <= highest; ++length)
                page.total += m_tally[suffix][kind][static_cast<std::size_t>(length)];
        }
    }
    if (filters.page >= (page.total + pageSize - 1) / pageSize) return page;
    const std::int64_t first = filters.page * pageSize;
    std::int64_t seen = 0;
    for (std::uint32_t id : m_order[sortIndex(filters.sort)]) {
        if (!passes(id, filters, false)) continue;
        if (seen++ < first) continue;
        page.rows.push_back(id);
        if (static_cast<int>(page.rows.size()) == pageSize) break;
    }
    return page;
}

// The rows at [first, first + count) of `matches` in the requested order. A few matches are
// sorted by their precomputed rank; many are picked by walking the order once.
std::vector<std::uint32_t> Catalog::slice(std::vector<std::uint32_t>& matches, SortKey sort,
                                          std::int64_t first, int count) const {
    const auto& rank = m_rank[sortIndex(sort)];
    const auto end = std::min<std::int64_t>(first + count, static_cast<std::int64_t>(matches.size()));
    std::vector<std::uint32_t> out;
    if (matches.size() * 16 < m_entries.size()) {
        const auto byRank = [&](std::uint32_t a, std::uint32_t b) { return rank[a] < rank[b]; };
        std::partial_sort(matches.begin(), matches.begin() + end, matches.end(), byRank);
        out.assign(matches.begin() + first, matches.begin() + end);
        return out;
    }
    std::vector<bool> wanted(m_entries.size());
    for (std::uint32_t id : matches)
        wanted[id] = true;
    std::int64_t seen = 0;
    for (std::uint32_t id : m_order[sortIndex(sort)]) {
        if (!wanted[id]) continue;
        if (seen >= first) out.push_back(id);
        if (++seen == end) break;
    }
    return out;
}

} // namespace yuming::service
