#pragma once

#include "protocol/search_query.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

namespace yuming::service {

// What a count of rows tells apart: the letters a row's name holds (bit n for letter n), its
// suffix (as its flag's bit number) and its structure.
struct RowFacet {
    std::uint64_t bits = 0;

    static RowFacet of(std::string_view name, std::uint8_t info);
    std::uint64_t letters() const { return bits & ((std::uint64_t{1} << 37) - 1); }
    unsigned suffix() const { return static_cast<unsigned>(bits >> 40 & 3); }
    unsigned kind() const { return static_cast<unsigned>(bits >> 42 & 3); }
};

// The rows of a sequence (a sort order, or part of one) counted block by block, by suffix and
// structure, for all rows and for each letter: a walk to a deep page adds up whole blocks instead
// of stepping through their rows, and steps only through the block where the page begins.
class BlockCounts {
public:
    static constexpr std::size_t kBlock = 4096;

    BlockCounts() = default;
    // Counts of the rows `ids[0, count)`, whose facets are `facets[id]`.
    BlockCounts(const std::uint32_t* ids, std::size_t count, const RowFacet* facets);
    // Counts of rows whose facets are these, in this order.
    explicit BlockCounts(const std::vector<RowFacet>& facets);

    // Rows of the block starting at position `block * kBlock` that hold `letter` (-1: any row),
    // with one of `suffixes` and of structure `kind`.
    std::uint32_t count(std::size_t block, int letter, std::uint8_t suffixes, CharKind kind) const;
    // The row at `position` leaves the counts.
    void remove(std::size_t position, RowFacet facet) { change(position, facet, -1); }
    std::size_t blocks() const { return m_counts.size() / kCells; }

private:
    // For each block: suffix and structure for all rows, then the same for each letter.
    static constexpr std::size_t kCells = 12 * 38;
    void change(std::size_t position, RowFacet facet, int by);

    std::vector<std::uint16_t> m_counts;
};

// The same for each pair of letters a row holds, by suffix alone. The order by day and length,
// the one the tool asks for, is counted in blocks of kBlock rows; the other orders in blocks of
// kWideBlock, a quarter of the memory for a walk through at most one wide block.
class PairBlockCounts {
public:
    static constexpr std::size_t kBlock = BlockCounts::kBlock;
    static constexpr std::size_t kWideBlock = 4 * kBlock;

    PairBlockCounts() = default;
    // Counts of the rows `ids[0, count)` in blocks of `block` rows: `row(id, pairs)` fills
    // `pairs` with the row's distinct pairs and gives its suffix.
    template <class Row>
    PairBlockCounts(const std::uint32_t* ids, std::size_t count, Row row, std::size_t block = kBlock)
        : m_block(block) {
        m_counts.assign((count + block - 1) / block * kCells, 0);
        std::vector<std::uint32_t> pairs;
        for (std::size_t i = 0; i < count; ++i)
            change(i, pairs, row(ids[i], pairs), 1);
    }
    // No rows yet, room for `count` in blocks of `block` rows.
    PairBlockCounts(std::size_t count, std::size_t block)
        : m_block(block), m_counts((count + block - 1) / block * kCells) {}
    std::uint32_t count(std::size_t block, std::size_t pair, std::uint8_t suffixes) const;
    // The row at `position`, holding `pairs` (distinct), with that suffix, joins the counts.
    void add(std::size_t position, const std::vector<std::uint32_t>& pairs, unsigned suffix) {
        change(position, pairs, suffix, 1);
    }
    // The row at `position`, holding `pairs` (distinct), with that suffix, leaves the counts.
    void remove(std::size_t position, const std::vector<std::uint32_t>& pairs, unsigned suffix) {
        change(position, pairs, suffix, -1);
    }
    std::size_t blockSize() const { return m_block; }

private:
    static constexpr std::size_t kCells = 37 * 37 * 4;
    void change(std::size_t position, const std::vector<std::uint32_t>& pairs, unsigned suffix, int by) {
        std::uint16_t* block = m_counts.data() + position / m_block * kCells;
        for (const std::uint32_t pair : pairs)
            block[pair * 4 + suffix] = static_cast<std::uint16_t>(block[pair * 4 + suffix] + by);
    }

    std::size_t m_block = kBlock;
    std::vector<std::uint16_t> m_counts;
};

// A value worked out by the first one who needs it, while any others who need it then wait.
template <class T> class WorkedOut {
public:
    template <class Make> const T& get(Make make) const {
        std::call_once(m_once, [&] { m_value.emplace(make()); });
        return *m_value;
    }

private:
    mutable std::once_flag m_once;
    mutable std::optional<T> m_value;
};

} // namespace yuming::service
