// How a search is answered: which of the orders and indexes kept in the image it reads, and how
// the page is taken from them.
#include "catalog/catalog.h"

#include "catalog/catalog_format.h"

#include <algorithm>
#include <bit>
#include <type_traits>

namespace yuming::service {

using namespace catalog_format;

namespace {

// Names hold only these; a keyword with any other byte (a blank, a dot, GBK) matches nothing.
bool canMatch(std::string_view keyword) {
    return std::all_of(keyword.begin(), keyword.end(), [](char c) { return symbol(c) >= 0; });
}

// How many steps of a walk cost as much as sorting one match in (see Catalog::slice).
constexpr double kWalkSteps = 8;

} // namespace

bool Catalog::passes(std::uint32_t id, const SearchFilters& filters) const {
    const Core& c = *m_core;
    const std::uint8_t info = c.info[id];
    if (!(filters.suffixes & (1u << (info & 3)))) return false;
    if (filters.kind != CharKind::Any && (info >> 2) != static_cast<unsigned>(filters.kind)) return false;
    if (filters.minLength > 0 || filters.maxLength > 0) {
        const int length = c.entries[id].length;
        if (filters.minLength > 0 && length < filters.minLength) return false;
        if (filters.maxLength > 0 && length > filters.maxLength) return false;
    }
    return !m_gone || !((*m_gone)[id / 64] >> (id % 64) & 1);
}

// Whether the tallies can count a search: a length bound at or past the last one they tell
// apart cannot be.
bool Catalog::countable(const SearchFilters& filters, int lengths) const {
    return filters.minLength < lengths - 1 && filters.maxLength < lengths - 1;
}

std::int64_t Catalog::counted(const SearchFilters& filters) const {
    const auto sum = [&](const auto& table, int lengths) {
        std::int64_t total = 0;
        const int lowest = std::max(filters.minLength, 0);
        const int highest = filters.maxLength > 0 ? filters.maxLength : lengths - 1;
        for (std::size_t suffix = 0; suffix < 4; ++suffix) {
            if (!(filters.suffixes & (1u << suffix))) continue;
            for (std::size_t kind = 0; kind < 3; ++kind) {
                if (filters.kind != CharKind::Any && static_cast<std::size_t>(filters.kind) != kind) continue;
                for (int length = lowest; length <= highest; ++length)
                    total += table[suffix][kind][static_cast<std::size_t>(length)];
            }
        }
        return total;
    };
    if (filters.keyword.empty()) return sum(*m_tally, kTallyLengths);
    const std::string_view key(filters.keyword);
    const std::size_t gram =
        key.size() == 1 ? static_cast<std::size_t>(symbol(key[0])) : kSymbols + pairGram(key[0], key[1]);
    return sum((*m_letterTally)[gram], kLetterLengths);
}

namespace {
constexpr Order kOrderOf[] = {ByDeletion, ByName, BySuffix, ByLength, ByDayThenLength};
}

// Whether a walk for a pair of letters can count whole blocks: without a length bound or a
// structure, once the counts of the order are worked out.
bool Catalog::pairBlocksCount(const SearchFilters& filters) const {
    return filters.kind == CharKind::Any && filters.minLength <= 0 && filters.maxLength <= 0 &&
           m_core->pairBlocks(kOrderOf[static_cast<std::size_t>(filters.sort)]);
}

// Rows [first, first + count) of those `wanted`, walking the order of `sort`. With a block letter
// (every row `wanted` is one the block counts count), whole blocks before the page are counted
// instead of walked; a length bound is not in the counts, except in the length order, whose range
// already holds only the lengths asked for.
template <class Wanted>
std::vector<std::uint32_t> Catalog::walk(const SearchFilters& filters, std::int64_t first, int count,
                                         Wanted wanted, int blockLetter) const {
    const SortKey sort = filters.sort;
    const Core& c = *m_core;
    const Order orderIndex = kOrderOf[static_cast<std::size_t>(sort)];
    const std::uint32_t* order = c.order(orderIndex);
    const bool pair = blockLetter >= kPairBlocks;
    const bool counts = blockLetter != kNoBlocks &&
                        (sort == SortKey::Length || (filters.minLength <= 0 && filters.maxLength <= 0)) &&
                        (!pair || pairBlocksCount(filters));
    std::vector<std::uint32_t> out;
    std::int64_t seen = 0;
    // Whether the page is full. `from` and `to` lie in the sequence starting at `base`, whose
    // blocks `blocks` or `pairBlocks` count.
    const auto take = [&](const std::uint32_t* from, const std::uint32_t* to, const std::uint32_t* base,
                          const BlockCounts* blocks, const PairBlockCounts* pairBlocks) {
        const bool counted = blocks || pairBlocks;
        const std::size_t block = pairBlocks ? pairBlocks->blockSize() : BlockCounts::kBlock;
        while (from < to) {
            const auto at = static_cast<std::size_t>(from - base);
            if (counted && at % block == 0 && static_cast<std::size_t>(to - from) >= block) {
                const std::uint32_t n =
                    pairBlocks
                        ? pairBlocks->count(at / block, static_cast<std::size_t>(blockLetter - kPairBlocks),
                                            filters.suffixes)
                        : blocks->count(at / block, blockLetter, filters.suffixes, filters.kind);
                if (seen + n <= first) {
                    seen += n;
                    from += block;
                    continue;
                }
            }
            const std::uint32_t* stop = counted ? std::min(to, base + (at / block + 1) * block) : to;
            for (; from < stop; ++from) {
                if (!wanted(*from)) continue;
                if (seen++ < first) continue;
                out.push_back(*from);
                if (static_cast<int>(out.size()) == count) return true;
            }
        }
        return false;
    };
    const BlockCounts* blocks = counts && !pair ? this->blocks(orderIndex) : nullptr;
    const PairBlockCounts* pairBlocks = counts && pair ? this->pairBlocks(orderIndex) : nullptr;
    if (sort == SortKey::DeletionTime) {
        take(order + m_deletionStart, order + c.rows, order, blocks, pairBlocks);
    } else if (sort == SortKey::Suffix) {
        // The order holds each suffix in one run: runs of suffixes not asked for are passed over.
        for (std::size_t rank = 0; rank < 4; ++rank)
            if (filters.suffixes & (1u << ((rank + 3) & 3)) &&
                take(order + c.suffixStart[rank], order + c.suffixStart[rank + 1], order, blocks, pairBlocks))
                break;
    } else if (sort == SortKey::Length) {
        const auto lowest = static_cast<std::size_t>(std::clamp(filters.minLength, 0, 256));
        const auto highest =
            static_cast<std::size_t>(filters.maxLength > 0 ? std::min(filters.maxLength, 255) : 255);
        if (lowest <= highest)
            take(order + c.lengthStart[lowest], order + c.lengthStart[highest + 1], order, blocks,
                 pairBlocks);
    } else if (sort == SortKey::DeletionDateThenLength && m_floorDayRows) {
        const std::vector<std::uint32_t>& day = *m_floorDayRows;
        const BlockCounts* dayBlocks = blocks ? &floorDayBlocks() : nullptr;
        const PairBlockCounts* dayPairBlocks = pairBlocks ? &floorDayPairBlocks() : nullptr;
        if (!take(day.data(), day.data() + day.size(), day.data(), dayBlocks, dayPairBlocks))
            take(order + m_dayEnd, order + c.rows, order, blocks, pairBlocks);
    } else {
        take(order, order + c.rows, order, blocks, pairBlocks);
    }
    return out;
}

// Names that start or end with the keyword (or either): ranges of the two name orders.
std::vector<std::uint32_t> Catalog::edgeMatches(const SearchFilters& filters) const {
    const Core& c = *m_core;
    const std::string_view key(filters.keyword);
    const std::size_t k = key.size();
    std::vector<std::uint32_t> out;
    if (filters.position != KeyPosition::Ends) {
        const std::uint32_t* order = c.order(ByName);
        const auto [lo, hi] = std::equal_range(order, order + c.rows, key, [&](const auto& a, const auto& b) {
            if constexpr (std::is_same_v<std::decay_t<decltype(a)>, std::uint32_t>)
                return name(a).substr(0, k) < b;
            else
                return a < name(b).substr(0, k);
        });
        for (const std::uint32_t* p = lo; p < hi; ++p)
            if (passes(*p, filters)) out.push_back(*p);
    }
    if (filters.position != KeyPosition::Starts) {
        const std::uint32_t* order = c.order(ByReversed);
        const std::uint32_t* lo = std::partition_point(
            order, order + c.rows, [&](std::uint32_t id) { return compareBackwards(name(id), key, k) < 0; });
        const std::uint32_t* hi = std::partition_point(
            lo, order + c.rows, [&](std::uint32_t id) { return compareBackwards(name(id), key, k) == 0; });
        // Either end: a name that also starts with the keyword was taken above.
        std::vector<std::uint64_t> taken(filters.position == KeyPosition::StartsOrEnds ? c.words : 0);
        for (const std::uint32_t id : out)
            taken[id / 64] |= std::uint64_t{1} << (id % 64);
        for (const std::uint32_t* p = lo; p < hi; ++p)
            if (passes(*p, filters) && (taken.empty() || !(taken[*p / 64] >> (*p % 64) & 1)))
                out.push_back(*p);
    }
    return out;
}

// A keyword anywhere in the name: the rows under its letter, or under its rarest pair of letters,
// checked against the whole keyword when it is longer than the pair.
void Catalog::containing(const SearchFilters& filters, std::vector<std::uint32_t>& matches) const {
    const Core& c = *m_core;
    const std::string_view key(filters.keyword);
    if (key.size() == 1) {
        const std::uint64_t* bits = c.letters + static_cast<std::size_t>(symbol(key[0])) * c.words;
        for (std::size_t w = 0; w < c.words; ++w)
            for (std::uint64_t word = bits[w]; word != 0; word &= word - 1) {
                const auto id =
                    static_cast<std::uint32_t>(w * 64 + static_cast<std::size_t>(std::countr_zero(word)));
                if (passes(id, filters)) matches.push_back(id);
            }
        return;
    }
    const auto add = [&](std::uint32_t id) {
        if (passes(id, filters)) matches.push_back(id);
    };
    if (key.size() == 2) return c.eachListed(c.pairStart, c.pairs, pairGram(key[0], key[1]), add);
    const auto triple = [&](std::size_t i) {
        return pairGram(key[i], key[i + 1]) * kSymbols + symbol(key[i + 2]);
    };
    if (key.size() == 3) return c.eachListed(c.tripleStart, c.triples, triple(0), add);
    // Longer keywords: the rows listed under their runs of three, the rarest first, as long as
    // reading a list costs less than checking the rows it would rule out; what is left is
    // checked against the whole keyword.
    std::vector<std::size_t> grams;
    for (std::size_t i = 0; i + 2 < key.size(); ++i)
        grams.push_back(triple(i));
    std::sort(grams.begin(), grams.end(), [&](std::size_t a, std::size_t b) {
        return c.listBytes(c.tripleStart, a) < c.listBytes(c.tripleStart, b);
    });
    grams.erase(std::unique(grams.begin(), grams.end()), grams.end());
    std::vector<std::uint32_t> rows;
    c.eachListed(c.tripleStart, c.triples, grams[0], [&](std::uint32_t id) { rows.push_back(id); });
    for (std::size_t g = 1; g < grams.size() && !rows.empty(); ++g) {
        if (c.listBytes(c.tripleStart, grams[g]) > rows.size() * 16) break;
        std::size_t kept = 0, next = 0;
        c.eachListed(c.tripleStart, c.triples, grams[g], [&](std::uint32_t id) {
            while (next < rows.size() && rows[next] < id)
                ++next;
            if (next < rows.size() && rows[next] == id) rows[kept++] = rows[next++];
        });
        rows.resize(kept);
    }
    // Each row's facts, then its name, lie anywhere in memory: both are asked for well ahead of
    // the check, the facts twice as far ahead, since where the name lies is one of them.
    constexpr std::size_t kAhead = 16;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (i + 2 * kAhead < rows.size()) {
            const std::uint32_t later = rows[i + 2 * kAhead];
            __builtin_prefetch(c.info.data() + later);
            __builtin_prefetch(c.offsets + later);
            __builtin_prefetch(c.entries + later);
        }
        if (i + kAhead < rows.size()) __builtin_prefetch(c.names.data() + c.offsets[rows[i + kAhead]]);
        const std::uint32_t id = rows[i];
        if (passes(id, filters) && name(id).find(key) != std::string_view::npos) matches.push_back(id);
    }
}

Catalog::Page Catalog::searchImage(const SearchFilters& filters, int pageSize) const {
    Page page;
    if (!canMatch(filters.keyword) || pageSize <= 0) return page;
    const std::int64_t first = filters.page * pageSize;
    const auto lastPage = [&] { return (page.total + pageSize - 1) / pageSize; };
    const std::string_view key(filters.keyword);
    // Counted from the tallies, the page taken by walking the order: nothing looks at every row.
    const bool byLetter = key.size() == 1 && filters.position == KeyPosition::Anywhere;
    if ((key.empty() && countable(filters, kTallyLengths)) ||
        (byLetter && countable(filters, kLetterLengths))) {
        page.total = counted(filters);
        if (filters.page >= lastPage()) return page;
        const int letter = key.empty() ? -1 : symbol(key[0]);
        page.rows = walk(
            filters, first, pageSize,
            [&](std::uint32_t id) {
                return (letter < 0 || m_core->hasLetter(letter, id)) && passes(id, filters);
            },
            letter < 0 ? kEveryRow : letter);
        return page;
    }
    // A pair of letters: counted the same way; the page walked for when the walk is much shorter
    // than the pair's list (a step of the walk reads a name, several times the cost of a list
    // entry), and the list read whole otherwise. With the order's pair counts the walk steps
    // only through the blocks holding the page, about a page's worth of rows plus a block: it is
    // taken while that is shorter than sorting the matches in.
    if (key.size() == 2 && filters.position == KeyPosition::Anywhere && countable(filters, kLetterLengths)) {
        page.total = counted(filters);
        if (filters.page >= lastPage()) return page;
        const double density = static_cast<double>(m_size) / static_cast<double>(page.total);
        const double steps = static_cast<double>(first + pageSize) * density;
        const std::size_t pair = pairGram(key[0], key[1]);
        const bool skips = pairBlocksCount(filters);
        bool walks = steps * 8 < static_cast<double>(m_core->listBytes(m_core->pairStart, pair));
        if (skips && !walks) {
            const std::size_t block =
                m_core->pairBlocks(kOrderOf[static_cast<std::size_t>(filters.sort)])->blockSize();
            walks = static_cast<double>(pageSize) * density + static_cast<double>(block) <
                    static_cast<double>(page.total) * kWalkSteps;
        }
        if (walks) {
            page.rows = walk(
                filters, first, pageSize,
                [&](std::uint32_t id) {
                    return passes(id, filters) && name(id).find(key) != std::string_view::npos;
                },
                skips ? kPairBlocks + static_cast<int>(pair) : kNoBlocks);
            return page;
        }
    }
    std::vector<std::uint32_t> matches;
    if (key.empty()) {
        for (std::uint32_t id = 0; id < m_core->rows; ++id)
            if (passes(id, filters)) matches.push_back(id);
    } else if (filters.position != KeyPosition::Anywhere) {
        matches = edgeMatches(filters);
    } else {
        containing(filters, matches);
    }
    page.total = static_cast<std::int64_t>(matches.size());
    if (filters.page >= lastPage()) return page;
    page.rows = slice(matches, filters, first, pageSize);
    return page;
}

// The rows at [first, first + count) of `matches` in the requested order. A few matches are
// sorted by a key made of their place in the name order and the sort's leading values; many are
// picked by walking the order once.
std::vector<std::uint32_t> Catalog::slice(std::vector<std::uint32_t>& matches, const SearchFilters& filters,
                                          std::int64_t first, int count) const {
    const SortKey sort = filters.sort;
    const Core& c = *m_core;
    const auto end = std::min<std::int64_t>(first + count, static_cast<std::int64_t>(matches.size()));
    // A step of the walk reads the order in sequence and tests a bit; sorting reads three values
    // of each match from all over memory, several times the cost: the walk is taken while it
    // is the shorter work.
    const double steps = static_cast<double>(end) * static_cast<double>(c.rows) /
                         static_cast<double>(std::max<std::size_t>(matches.size(), 1));
    if (steps < static_cast<double>(matches.size()) * kWalkSteps) {
        std::vector<std::uint64_t> wanted(c.words);
        for (std::uint32_t id : matches)
            wanted[id / 64] |= std::uint64_t{1} << (id % 64);
        return walk(filters, first, count,
                    [&](std::uint32_t id) { return wanted[id / 64] >> (id % 64) & 1; });
    }
    const auto keyOf = [&](std::uint32_t id) -> std::uint64_t {
        const std::uint64_t rank = c.nameRank[id];
        switch (sort) {
        case SortKey::DeletionTime:
            return std::uint64_t{c.entries[id].deletion} << 32 | rank;
        case SortKey::Alphabetical:
            return rank;
        case SortKey::Suffix:
            return std::uint64_t{suffixRank(c.entries[id].info & 3)} << 32 | rank;
        case SortKey::Length:
            return std::uint64_t{c.entries[id].length} << 32 | rank;
        case SortKey::DeletionDateThenLength:
            return std::uint64_t{std::min<std::uint32_t>(c.dayOf[c.entries[id].deletion], 0xffffff)} << 40 |
                   std::uint64_t{c.entries[id].length} << 32 | rank;
        }
        return rank;
    };
    std::vector<std::uint64_t> keyed(matches.size());
    for (std::size_t i = 0; i < matches.size(); ++i)
        keyed[i] = keyOf(matches[i]);
    // The key ends with the name rank, which names the row.
    if (first > 0) std::nth_element(keyed.begin(), keyed.begin() + first, keyed.end());
    std::partial_sort(keyed.begin() + first, keyed.begin() + end, keyed.end());
    std::vector<std::uint32_t> out;
    const std::uint32_t* byName = c.order(ByName);
    for (auto i = first; i < end; ++i)
        out.push_back(byName[static_cast<std::uint32_t>(keyed[static_cast<std::size_t>(i)])]);
    return out;
}

} // namespace yuming::service
