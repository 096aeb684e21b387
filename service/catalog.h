#pragma once

#include "search_filters.h"
#include "store.h"

#include <array>
#include <atomic>
#include <memory>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace yuming::service {

// The letters a name can hold: a-z, 0-9 and '-', numbered 0 to 36; -1 for anything else.
inline constexpr int kSymbols = 37;
int symbol(char c);
std::size_t pairGram(char a, char b);

// The drop list held in memory, with every sort order and both name orders worked out once at
// start, so that a search is a scan or a binary search and never a sort of the whole list.
// Immutable after construction: any number of threads may search at once.
class Catalog {
public:
    explicit Catalog(const std::vector<ListedName>& rows);

    struct Row {
        std::string_view name;
        Suffix suffix;
        std::string_view deletion;
    };

    struct Page {
        std::int64_t total = 0;
        std::vector<std::uint32_t> rows;
    };

    Page search(const SearchFilters& filters, int pageSize) const;
    Row row(std::uint32_t id) const;
    std::size_t size() const { return m_entries.size(); }

private:
    struct Entry {
        std::uint32_t offset;
        std::uint16_t length;
        Suffix suffix;
        CharKind kind;
        std::uint32_t deletion;
    };

    std::string_view name(std::uint32_t id) const;
    std::string_view reversedName(std::uint32_t id) const;
    std::vector<std::uint32_t> candidates(const SearchFilters& filters, bool& all) const;
    Page unfiltered(const SearchFilters& filters, int pageSize) const;
    void containing(const SearchFilters& filters, std::vector<std::uint32_t>& matches) const;
    bool passes(std::uint32_t id, const SearchFilters& filters, bool checkKeyword) const;
    void buildOrders();
    void buildGrams();
    std::vector<std::uint32_t> slice(std::vector<std::uint32_t>& matches, SortKey sort, std::int64_t first,
                                     int count) const;

    // All names back to back; an entry's offset points at its first byte.
    std::string m_names;
    // The same names written backwards, at the same offsets.
    std::string m_reversed;
    // Rows by the letters (first kSymbols lists) and the pairs of letters their names hold.
    std::vector<std::vector<std::uint32_t>> m_grams;
    std::vector<Entry> m_entries;
    // Distinct deletion times in time order; an entry keeps its index into this list.
    std::vector<std::string> m_deletions;
    std::vector<std::uint32_t> m_byName;
    std::vector<std::uint32_t> m_byReversed;
    static constexpr std::size_t kSortKeys = 5;
    // Names by suffix (bit number of its flag), structure and length; the last length counts
    // every name that long or longer.
    static constexpr std::size_t kSuffixCount = 4;
    static constexpr std::size_t kKindCount = 3;
    static constexpr int kTallyLengths = 256;
    std::array<std::array<std::array<std::int64_t, kTallyLengths>, kKindCount>, kSuffixCount> m_tally{};
    std::array<std::vector<std::uint32_t>, kSortKeys> m_order;
    std::array<std::vector<std::uint32_t>, kSortKeys> m_rank;
};

// The catalogue being served. When the drop list changes a new one is built aside and put in its
// place; a search goes on with the one it began with, which lives until its last reader is done.
class CatalogHolder {
public:
    explicit CatalogHolder(std::shared_ptr<const Catalog> first) : m_current(std::move(first)) {}
    std::shared_ptr<const Catalog> current() const { return m_current.load(); }
    void replace(std::shared_ptr<const Catalog> next) { m_current.store(std::move(next)); }

private:
    std::atomic<std::shared_ptr<const Catalog>> m_current;
};

} // namespace yuming::service
