#pragma once

// The stored image of a catalogue: its block of bytes and how the parts lie in it, as the builder
// writes them and the catalogue reads them back. What is in namespace catalog_format is for those
// two alone.

#include "catalog/catalog_blocks.h"
#include "catalog/catalog_image.h"
#include "protocol/search_query.h"

#include <array>
#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace yuming::service {

// The letters a name can hold: a-z, 0-9 and '-', numbered 0 to 36; -1 for anything else.
inline constexpr int kSymbols = 37;
int symbol(char c);
std::size_t pairGram(char a, char b);

// Rows counted by suffix, structure and length: for each letter and pair of letters up to a
// length of kLetterLengths - 1, and for every name up to kTallyLengths - 1; the last length counts
// every name that long or longer.
inline constexpr int kLetterLengths = 64;
inline constexpr int kTallyLengths = 256;
// Letters first, then pairs of letters.
inline constexpr std::size_t kTallied = kSymbols + kSymbols * kSymbols;
using LetterTally =
    std::array<std::array<std::array<std::array<std::uint32_t, kLetterLengths>, 3>, 4>, kTallied>;
using Tally = std::array<std::array<std::array<std::uint32_t, kTallyLengths>, 3>, 4>;

namespace catalog_format {

constexpr std::size_t kPairs = kSymbols * kSymbols;
constexpr std::size_t kTriples = kPairs * kSymbols;
constexpr std::size_t kOrders = 6;
// The orders kept ready, as they sit in the image.
enum Order : std::size_t { ByName, ByReversed, ByDeletion, BySuffix, ByLength, ByDayThenLength };
constexpr std::uint32_t kByteOrderMark = 0x01020304;
constexpr std::uint32_t kVersion = 3;
constexpr char kMagic[8] = {'y', 'm', 'c', 'a', 't', 'l', 'g', '\0'};
constexpr std::uint32_t kNoRow = UINT32_MAX;

struct Header {
    char magic[8];
    std::uint32_t byteOrder;
    std::uint32_t version;
    std::uint32_t rows;
    std::uint32_t deletions;
    std::uint64_t nameBytes;
    std::uint64_t deletionBytes;
    std::uint64_t pairBytes;
    std::uint64_t tripleBytes;
};

// A row's deletion time (its place among the distinct times), suffix, structure and length, side
// by side so that filtering a row costs one memory read.
struct Entry {
    std::uint32_t deletion;
    std::uint8_t info; // suffix in bits 0-1, structure in bits 2-3
    std::uint8_t length;
    std::uint16_t unused;
};

// Where each part of an image starts, every part on an 8-byte boundary.
struct Layout {
    std::size_t names, offsets, entries, deletionOffsets, deletionTexts, orders, letters, letterTally, tally,
        pairStart, pairs, tripleStart, triples, total;
    std::size_t words;
};

// The layout of an image of these sizes.
Layout layoutFor(std::uint64_t rows, std::uint64_t deletions, std::uint64_t nameBytes,
                 std::uint64_t deletionBytes, std::uint64_t pairBytes, std::uint64_t tripleBytes);

// A suffix is kept as the number of its flag's bit: com 0, net 1, org 2, cn 3.
inline std::uint8_t suffixIndex(Suffix suffix) {
    return static_cast<std::uint8_t>(std::countr_zero(static_cast<unsigned>(suffix)) & 3);
}

// cn, com, net, org: the order of the suffix texts, as the database sorts them.
inline std::uint32_t suffixRank(std::uint8_t index) {
    return (index + 1u) & 3u;
}

// The first `limit` bytes of `name` read backwards, compared with `key` read backwards.
int compareBackwards(std::string_view name, std::string_view key, std::size_t limit);

// The distinct letters, pairs and runs of three letters of a name.
struct Grams {
    std::vector<std::uint32_t> letters, pairs, triples;
};
void gramsOf(std::string_view name, Grams& grams);

template <class T> T* at(CatalogImage& image, std::size_t offset) {
    return reinterpret_cast<T*>(image.data() + offset);
}

template <class T> const T* at(const CatalogImage& image, std::size_t offset) {
    return reinterpret_cast<const T*>(image.data() + offset);
}

} // namespace catalog_format

// An image as read: every part checked, and pointers into it.
struct CatalogCore {
    CatalogImage image;
    std::uint32_t rows = 0;
    std::uint32_t deletions = 0;
    std::size_t words = 0;
    std::string_view names;
    const std::uint32_t* offsets = nullptr;
    const catalog_format::Entry* entries = nullptr;
    const std::uint32_t* deletionOffsets = nullptr;
    std::string_view deletionTexts;
    const std::uint32_t* orders = nullptr;
    const std::uint64_t* letters = nullptr;
    const LetterTally* letterTally = nullptr;
    const Tally* tally = nullptr;
    const std::uint64_t* pairStart = nullptr;
    const std::uint8_t* pairs = nullptr;
    const std::uint64_t* tripleStart = nullptr;
    const std::uint8_t* triples = nullptr;
    // Worked out when read: each row's place in the name order, each deletion time's day, and
    // each row's suffix and structure alone (Entry::info), a byte a row, so that filtering rows
    // read all over the list touches an eighth of the memory the entries take.
    std::vector<std::uint32_t> nameRank;
    std::vector<std::uint8_t> info;
    std::vector<std::uint32_t> dayOf;
    // Where each suffix (by rank) begins in the suffix order, and each length in the length order.
    std::array<std::size_t, 5> suffixStart{};
    std::array<std::size_t, 257> lengthStart{};
    // Each sort order's rows counted block by block (the reversed name order is never walked):
    // null until worked out. A list of up to kBlocksWhenRead names has them when read; a longer
    // one (at five million names they take about a second, which start-up has not got to spare)
    // once workOutBlocks is done, and its walks step through every row until then.
    static constexpr std::uint32_t kBlocksWhenRead = 1u << 19;
    const BlockCounts* blocks(catalog_format::Order o) const {
        return orderBlocks[o].load(std::memory_order_acquire);
    }
    static void workOutBlocks(std::weak_ptr<const CatalogCore> listed);
    static void workOutWidePairBlocks(std::weak_ptr<const CatalogCore> listed);
    mutable std::array<std::atomic<const BlockCounts*>, catalog_format::kOrders> orderBlocks{};
    // Each sort order counted by pairs of letters, the same way (the order by day and length
    // first, in narrower blocks).
    const PairBlockCounts* pairBlocks(catalog_format::Order o) const {
        return orderPairs[o].load(std::memory_order_acquire);
    }
    const PairBlockCounts* dayPairBlocks() const { return pairBlocks(catalog_format::ByDayThenLength); }
    mutable std::array<std::atomic<const PairBlockCounts*>, catalog_format::kOrders> orderPairs{};
    // Fills `pairs` with a row's distinct pairs of letters and gives its suffix.
    unsigned pairsOf(std::uint32_t id, std::vector<std::uint32_t>& pairs) const;
    CatalogCore() = default;
    CatalogCore(const CatalogCore&) = delete;
    CatalogCore& operator=(const CatalogCore&) = delete;
    ~CatalogCore();

    const std::uint32_t* order(std::size_t o) const { return orders + o * rows; }
    std::string_view deletionText(std::uint32_t d) const {
        return deletionTexts.substr(deletionOffsets[d], deletionOffsets[d + 1] - deletionOffsets[d]);
    }
    bool hasLetter(int letter, std::uint32_t id) const {
        return letters[static_cast<std::size_t>(letter) * words + id / 64] >> (id % 64) & 1;
    }
    std::uint64_t listBytes(const std::uint64_t* start, std::size_t gram) const {
        return start[gram + 1] - start[gram];
    }
    // Calls `use` with each row listed under a gram, in ascending order.
    template <class Use>
    void eachListed(const std::uint64_t* start, const std::uint8_t* data, std::size_t gram, Use use) const {
        const std::uint8_t* p = data + start[gram];
        const std::uint8_t* end = data + start[gram + 1];
        std::uint32_t id = 0;
        bool first = true;
        while (p < end) {
            std::uint32_t gap = 0;
            for (int shift = 0; p < end && shift < 35; shift += 7) {
                const std::uint8_t byte = *p++;
                gap |= static_cast<std::uint32_t>(byte & 0x7f) << shift;
                if (!(byte & 0x80)) break;
            }
            if (!first && gap == 0) return; // a damaged list; rows never repeat
            id = first ? gap : id + gap;
            first = false;
            if (id >= rows) return;
            use(id);
        }
    }

    bool read(std::string& error);
};

} // namespace yuming::service
