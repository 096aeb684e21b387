#include "catalog/catalog_format.h"

#include <algorithm>
#include <cstring>
#include <tuple>
#include <utility>

namespace yuming::service {

using namespace catalog_format;

int symbol(char c) {
    if (c >= 'a' && c <= 'z') return c - 'a';
    if (c >= '0' && c <= '9') return 26 + c - '0';
    return c == '-' ? 36 : -1;
}

std::size_t pairGram(char a, char b) {
    return static_cast<std::size_t>(symbol(a) * kSymbols + symbol(b));
}

namespace catalog_format {

Layout layoutFor(std::uint64_t rows, std::uint64_t deletions, std::uint64_t nameBytes,
                 std::uint64_t deletionBytes, std::uint64_t pairBytes, std::uint64_t tripleBytes) {
    Layout l{};
    std::size_t at = sizeof(Header);
    const auto place = [&](std::uint64_t bytes) {
        const std::size_t here = at;
        at = (at + bytes + 7) / 8 * 8;
        return here;
    };
    l.words = (rows + 63) / 64;
    l.names = place(nameBytes);
    l.offsets = place((rows + 1) * 4);
    l.entries = place(rows * sizeof(Entry));
    l.deletionOffsets = place((deletions + 1) * 4);
    l.deletionTexts = place(deletionBytes);
    l.orders = place(kOrders * rows * 4);
    l.letters = place(kSymbols * l.words * 8);
    l.letterTally = place(sizeof(LetterTally));
    l.tally = place(sizeof(Tally));
    l.pairStart = place((kPairs + 1) * 8);
    l.pairs = place(pairBytes);
    l.tripleStart = place((kTriples + 1) * 8);
    l.triples = place(tripleBytes);
    l.total = at;
    return l;
}

int compareBackwards(std::string_view name, std::string_view key, std::size_t limit) {
    const std::size_t count = std::min({name.size(), key.size(), limit});
    for (std::size_t i = 0; i < count; ++i) {
        const auto a = static_cast<unsigned char>(name[name.size() - 1 - i]);
        const auto b = static_cast<unsigned char>(key[key.size() - 1 - i]);
        if (a != b) return a < b ? -1 : 1;
    }
    const std::size_t left = std::min(name.size(), limit);
    const std::size_t right = std::min(key.size(), limit);
    return left == right ? 0 : left < right ? -1 : 1;
}

void gramsOf(std::string_view name, Grams& grams) {
    grams.letters.clear();
    grams.pairs.clear();
    grams.triples.clear();
    for (std::size_t i = 0; i < name.size(); ++i) {
        const int here = symbol(name[i]);
        if (here < 0) continue;
        grams.letters.push_back(static_cast<std::uint32_t>(here));
        if (i + 1 >= name.size() || symbol(name[i + 1]) < 0) continue;
        const auto pair = static_cast<std::uint32_t>(pairGram(name[i], name[i + 1]));
        grams.pairs.push_back(pair);
        if (i + 2 < name.size() && symbol(name[i + 2]) >= 0)
            grams.triples.push_back(pair * kSymbols + static_cast<std::uint32_t>(symbol(name[i + 2])));
    }
    for (auto* list : {&grams.letters, &grams.pairs, &grams.triples}) {
        std::sort(list->begin(), list->end());
        list->erase(std::unique(list->begin(), list->end()), list->end());
    }
}

} // namespace catalog_format

bool CatalogCore::read(std::string& error) {
    const auto fail = [&](const char* why) {
        error = std::string("the search index is damaged: ") + why;
        return false;
    };
    Header header;
    if (image.size() < sizeof header) return fail("cut short");
    std::memcpy(&header, image.data(), sizeof header);
    if (std::memcmp(header.magic, kMagic, sizeof kMagic) != 0 || header.byteOrder != kByteOrderMark)
        return fail("not an index");
    if (header.version != kVersion) return fail("made by another version");
    if (header.nameBytes > image.size() || header.deletionBytes > image.size() ||
        header.pairBytes > image.size() || header.tripleBytes > image.size() ||
        header.deletions > header.rows || header.nameBytes >= UINT32_MAX ||
        header.deletionBytes >= UINT32_MAX)
        return fail("sizes out of range");
    const Layout l = layoutFor(header.rows, header.deletions, header.nameBytes, header.deletionBytes,
                               header.pairBytes, header.tripleBytes);
    if (l.total != image.size()) return fail("cut short");
    rows = header.rows;
    deletions = header.deletions;
    words = l.words;
    names = image.view().substr(l.names, header.nameBytes);
    offsets = at<std::uint32_t>(image, l.offsets);
    entries = at<Entry>(image, l.entries);
    deletionOffsets = at<std::uint32_t>(image, l.deletionOffsets);
    deletionTexts = image.view().substr(l.deletionTexts, header.deletionBytes);
    orders = at<std::uint32_t>(image, l.orders);
    letters = at<std::uint64_t>(image, l.letters);
    letterTally = at<LetterTally>(image, l.letterTally);
    tally = at<Tally>(image, l.tally);
    pairStart = at<std::uint64_t>(image, l.pairStart);
    pairs = at<std::uint8_t>(image, l.pairs);
    tripleStart = at<std::uint64_t>(image, l.tripleStart);
    triples = at<std::uint8_t>(image, l.triples);

    if (offsets[0] != 0 || offsets[rows] != header.nameBytes) return fail("names out of range");
    for (std::uint32_t id = 0; id < rows; ++id)
        if (offsets[id + 1] < offsets[id] || offsets[id + 1] - offsets[id] != entries[id].length ||
            entries[id].deletion >= deletions || (entries[id].info >> 2) > 2)
            return fail("a row out of range");
    if (deletionOffsets[0] != 0 || deletionOffsets[deletions] != header.deletionBytes)
        return fail("times out of range");
    for (std::uint32_t d = 0; d < deletions; ++d)
        if (deletionOffsets[d + 1] < deletionOffsets[d] || (d > 0 && deletionText(d) <= deletionText(d - 1)))
            return fail("times out of order");
    for (std::size_t i = 0; i < kOrders * rows; ++i)
        if (orders[i] >= rows) return fail("an order out of range");
    for (const auto& [start, grams, bytes] : {std::tuple(pairStart, kPairs, header.pairBytes),
                                              std::tuple(tripleStart, kTriples, header.tripleBytes)}) {
        if (start[0] != 0 || start[grams] != bytes) return fail("keyword index out of range");
        for (std::size_t g = 0; g < grams; ++g)
            if (start[g + 1] < start[g]) return fail("keyword index out of order");
    }

    info.resize(rows);
    for (std::uint32_t id = 0; id < rows; ++id)
        info[id] = entries[id].info;
    nameRank.assign(rows, 0);
    const std::uint32_t* byName = order(ByName);
    for (std::uint32_t position = 0; position < rows; ++position)
        nameRank[byName[position]] = position;
    dayOf.assign(deletions, 0);
    for (std::uint32_t d = 1; d < deletions; ++d)
        dayOf[d] = dayOf[d - 1] + (deletionText(d).substr(0, 10) != deletionText(d - 1).substr(0, 10));
    const auto starts = [&](const std::uint32_t* o, auto& start, auto key) {
        for (std::size_t k = 0; k < start.size(); ++k)
            start[k] = static_cast<std::size_t>(
                std::partition_point(o, o + rows, [&](std::uint32_t id) { return key(id) < k; }) - o);
    };
    starts(order(BySuffix), suffixStart,
           [&](std::uint32_t id) { return std::size_t{suffixRank(entries[id].info & 3)}; });
    starts(order(ByLength), lengthStart, [&](std::uint32_t id) { return std::size_t{entries[id].length}; });
    return true;
}

// Holds the core only while it works on one order, so that a list replaced meanwhile is let go.
void CatalogCore::workOutBlocks(std::weak_ptr<const CatalogCore> listed) {
    std::vector<RowFacet> facets;
    for (const Order o : {ByDayThenLength, ByDeletion, ByName, BySuffix, ByLength}) {
        const auto core = listed.lock();
        if (!core) return;
        if (core->blocks(o)) continue;
        if (facets.size() != core->rows) {
            facets.resize(core->rows);
            for (std::uint32_t id = 0; id < core->rows; ++id) {
                const Entry& e = core->entries[id];
                facets[id] = RowFacet::of(core->names.substr(core->offsets[id], e.length), e.info);
            }
        }
        core->orderBlocks[o].store(new BlockCounts(core->order(o), core->rows, facets.data()),
                                   std::memory_order_release);
    }
    facets = {};
    {
        const auto core = listed.lock();
        if (!core) return;
        if (!core->dayPairBlocks())
            core->orderPairs[ByDayThenLength].store(
                new PairBlockCounts(core->order(ByDayThenLength), core->rows,
                                    [&](std::uint32_t id, std::vector<std::uint32_t>& pairs) {
                                        return core->pairsOf(id, pairs);
                                    }),
                std::memory_order_release);
    }
    workOutWidePairBlocks(listed);
}

// The other orders in one pass over the rows: a row's pairs are worked out once, from names read
// in sequence, and counted in the block each order holds it in.
void CatalogCore::workOutWidePairBlocks(std::weak_ptr<const CatalogCore> listed) {
    constexpr Order kWide[] = {ByDeletion, ByName, BySuffix, ByLength};
    constexpr std::size_t kBlock = PairBlockCounts::kWideBlock;
    const auto core = listed.lock();
    if (!core || core->pairBlocks(ByLength)) return;
    const std::size_t rows = core->rows;
    std::vector<std::uint16_t> blockOf(rows * 4);
    for (std::size_t k = 0; k < 4; ++k) {
        const std::uint32_t* ids = core->order(kWide[k]);
        for (std::size_t position = 0; position < rows; ++position)
            blockOf[std::size_t{ids[position]} * 4 + k] = static_cast<std::uint16_t>(position / kBlock);
    }
    std::vector<PairBlockCounts> counts(4, PairBlockCounts(rows, kBlock));
    std::vector<std::uint32_t> pairs;
    for (std::uint32_t id = 0; id < rows; ++id) {
        const unsigned suffix = core->pairsOf(id, pairs);
        for (std::size_t k = 0; k < 4; ++k)
            counts[k].add(std::size_t{blockOf[std::size_t{id} * 4 + k]} * kBlock, pairs, suffix);
    }
    for (std::size_t k = 0; k < 4; ++k)
        core->orderPairs[kWide[k]].store(new PairBlockCounts(std::move(counts[k])),
                                         std::memory_order_release);
}

unsigned CatalogCore::pairsOf(std::uint32_t id, std::vector<std::uint32_t>& pairs) const {
    const std::string_view name = names.substr(offsets[id], entries[id].length);
    pairs.clear();
    for (std::size_t i = 0; i + 1 < name.size(); ++i)
        if (symbol(name[i]) >= 0 && symbol(name[i + 1]) >= 0)
            pairs.push_back(static_cast<std::uint32_t>(pairGram(name[i], name[i + 1])));
    std::sort(pairs.begin(), pairs.end());
    pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
    return entries[id].info & 3u;
}

CatalogCore::~CatalogCore() {
    for (auto& blocks : orderBlocks)
        delete blocks.load();
    for (auto& pairs : orderPairs)
        delete pairs.load();
}

} // namespace yuming::service
