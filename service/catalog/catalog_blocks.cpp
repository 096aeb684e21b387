#include "catalog/catalog_blocks.h"

#include "catalog/catalog_format.h"

#include <bit>

namespace yuming::service {

RowFacet RowFacet::of(std::string_view name, std::uint8_t info) {
    std::uint64_t letters = 0;
    for (const char c : name)
        if (const int s = symbol(c); s >= 0) letters |= std::uint64_t{1} << s;
    return {letters | std::uint64_t{info & 3u} << 40 | std::uint64_t{info >> 2 & 3u} << 42};
}

BlockCounts::BlockCounts(const std::uint32_t* ids, std::size_t count, const RowFacet* facets)
    : m_counts((count + kBlock - 1) / kBlock * kCells) {
    // The facets are read in the order's sequence, all over memory: asked for well ahead.
    constexpr std::size_t kAhead = 32;
    for (std::size_t i = 0; i < count; ++i) {
        if (i + kAhead < count) __builtin_prefetch(facets + ids[i + kAhead]);
        change(i, facets[ids[i]], 1);
    }
}

BlockCounts::BlockCounts(const std::vector<RowFacet>& facets)
    : m_counts((facets.size() + kBlock - 1) / kBlock * kCells) {
    for (std::size_t i = 0; i < facets.size(); ++i)
        change(i, facets[i], 1);
}

void BlockCounts::change(std::size_t position, RowFacet facet, int by) {
    std::uint16_t* block = m_counts.data() + position / kBlock * kCells;
    const std::size_t cell = facet.suffix() * 3 + facet.kind();
    block[cell] = static_cast<std::uint16_t>(block[cell] + by);
    for (std::uint64_t letters = facet.letters(); letters != 0; letters &= letters - 1) {
        const auto letter = static_cast<std::size_t>(std::countr_zero(letters));
        std::uint16_t& n = block[12 * (1 + letter) + cell];
        n = static_cast<std::uint16_t>(n + by);
    }
}

std::uint32_t BlockCounts::count(std::size_t block, int letter, std::uint8_t suffixes, CharKind kind) const {
    const std::uint16_t* cells = m_counts.data() + block * kCells + 12 * static_cast<std::size_t>(letter + 1);
    std::uint32_t total = 0;
    for (std::size_t suffix = 0; suffix < 4; ++suffix) {
        if (!(suffixes & (1u << suffix))) continue;
        if (kind == CharKind::Any)
            total += std::uint32_t{cells[suffix * 3]} + cells[suffix * 3 + 1] + cells[suffix * 3 + 2];
        else
            total += cells[suffix * 3 + static_cast<std::size_t>(kind)];
    }
    return total;
}

std::uint32_t PairBlockCounts::count(std::size_t block, std::size_t pair, std::uint8_t suffixes) const {
    const std::uint16_t* cells = m_counts.data() + block * kCells + pair * 4;
    std::uint32_t total = 0;
    for (std::size_t suffix = 0; suffix < 4; ++suffix)
        if (suffixes & (1u << suffix)) total += cells[suffix];
    return total;
}

} // namespace yuming::service
