#include "catalog/catalog.h"

#include "catalog/catalog_builder.h"
#include "catalog/catalog_format.h"
#include "catalog/catalog_learned.h"

#include <algorithm>
#include <system_error>
#include <thread>
#include <utility>

namespace yuming::service {

using namespace catalog_format;

// The tallies are the image's own until rows leave the list.
Catalog::Catalog(std::shared_ptr<const Core> core)
    : m_core(std::move(core)), m_size(m_core->rows), m_tally(m_core, m_core->tally),
      m_letterTally(m_core, m_core->letterTally) {}

namespace {

std::shared_ptr<const Catalog::Core> readCore(CatalogImage image, std::string& error) {
    auto core = std::make_shared<Catalog::Core>();
    core->image = std::move(image);
    if (!core->read(error)) return nullptr;
    if (core->rows <= Catalog::Core::kBlocksWhenRead) {
        Catalog::Core::workOutBlocks(core);
        return core;
    }
    try {
        std::thread(&Catalog::Core::workOutBlocks, std::weak_ptr<const Catalog::Core>(core)).detach();
    } catch (const std::system_error&) {
        Catalog::Core::workOutBlocks(core);
    }
    return core;
}

std::shared_ptr<const Catalog::Core> buildCore(const std::vector<ListedName>& rows) {
    CatalogBuilder builder;
    for (const auto& row : rows)
        builder.add(row.name, row.suffix, row.deletion);
    std::string error;
    return readCore(builder.finish(), error);
}

} // namespace

Catalog::Catalog(const std::vector<ListedName>& rows) : Catalog(buildCore(rows)) {}

std::shared_ptr<const Catalog> Catalog::fromImage(CatalogImage image, std::string& error) {
    auto core = readCore(std::move(image), error);
    if (!core) return nullptr;
    return std::shared_ptr<const Catalog>(new Catalog(std::move(core)));
}

std::string_view Catalog::image() const {
    return m_core->image.view();
}

const CatalogImage& Catalog::storage() const {
    return m_core->image;
}

std::shared_ptr<const Catalog> Catalog::since(std::string_view now) const {
    auto next = sinceImage(now);
    if (!m_learned) return next;
    return next->withLearned(learnedNames(*m_learned));
}

std::shared_ptr<Catalog> Catalog::sinceImage(std::string_view now) const {
    const Core& c = *m_core;
    std::uint32_t lo = 0, hi = c.deletions;
    while (lo < hi) {
        const std::uint32_t mid = lo + (hi - lo) / 2;
        if (c.deletionText(mid) < now)
            lo = mid + 1;
        else
            hi = mid;
    }
    auto next = std::shared_ptr<Catalog>(new Catalog(m_core));
    next->m_since = std::string(now);
    next->m_floor = lo;
    if (lo == 0) return next;
    // The rows gone are the first ones in deletion order; their counts come off the tallies.
    const std::uint32_t* byDeletion = c.order(ByDeletion);
    const std::uint32_t* end = std::partition_point(
        byDeletion, byDeletion + c.rows, [&](std::uint32_t id) { return c.entries[id].deletion < lo; });
    next->m_deletionStart = static_cast<std::size_t>(end - byDeletion);
    auto gone = std::make_shared<std::vector<std::uint64_t>>(c.words);
    for (const std::uint32_t* p = byDeletion; p < end; ++p)
        (*gone)[*p / 64] |= std::uint64_t{1} << (*p % 64);
    next->m_gone = gone;
    auto tally = std::make_shared<Tally>(*c.tally);
    auto letterTally = std::make_shared<LetterTally>(*c.letterTally);
    Grams grams;
    for (const std::uint32_t* p = byDeletion; p < end; ++p) {
        const Entry& e = c.entries[*p];
        const unsigned suffix = e.info & 3, kind = e.info >> 2 & 3;
        --(*tally)[suffix][kind][e.length];
        gramsOf(next->name(*p), grams);
        const unsigned length = std::min<unsigned>(e.length, kLetterLengths - 1);
        for (std::uint32_t g : grams.letters)
            --(*letterTally)[g][suffix][kind][length];
        for (std::uint32_t g : grams.pairs)
            --(*letterTally)[kSymbols + g][suffix][kind][length];
    }
    next->m_size = c.rows - next->m_deletionStart;
    next->m_tally = std::move(tally);
    next->m_letterTally = std::move(letterTally);
    // By day, the days before the first listed time are gone whole and its own day in part; that
    // day's rows still listed are kept aside, so a walk never steps over the rows gone.
    const std::uint32_t* byDay = c.order(ByDayThenLength);
    const std::uint32_t floorDay = lo < c.deletions ? c.dayOf[lo] : UINT32_MAX;
    const auto dayOfRow = [&](std::uint32_t id) { return c.dayOf[c.entries[id].deletion]; };
    const std::uint32_t* dayBegin = std::partition_point(
        byDay, byDay + c.rows, [&](std::uint32_t id) { return dayOfRow(id) < floorDay; });
    const std::uint32_t* dayEnd = std::partition_point(
        dayBegin, byDay + c.rows, [&](std::uint32_t id) { return dayOfRow(id) == floorDay; });
    auto floorDayRows = std::make_shared<std::vector<std::uint32_t>>();
    for (const std::uint32_t* p = dayBegin; p < dayEnd; ++p)
        if (c.entries[*p].deletion >= lo) floorDayRows->push_back(*p);
    next->m_floorDayRows = std::move(floorDayRows);
    next->m_dayEnd = static_cast<std::size_t>(dayEnd - byDay);
    return next;
}

// The walks by deletion and by day begin past the rows gone; in the other orders those rows are
// anywhere, and come off the image's counts: `image` as it is when nothing is to come off, else the
// counts `made` once from a copy of it with `drop(counts, position, id)` for every row gone.
template <class Counts, class Drop>
const Counts* Catalog::withoutGone(Order o, const Counts* image, WorkedOut<Counts>& made, Drop drop) const {
    if (!image || o == ByDeletion || o == ByDayThenLength || m_deletionStart == 0) return image;
    return &made.get([&] {
        Counts counts = *image;
        const std::vector<std::uint64_t>& gone = *m_gone;
        const std::uint32_t* ids = m_core->order(o);
        for (std::size_t position = 0; position < m_core->rows; ++position)
            if (const std::uint32_t id = ids[position]; gone[id / 64] >> (id % 64) & 1)
                drop(counts, position, id);
        return counts;
    });
}

const BlockCounts* Catalog::blocks(Order o) const {
    return withoutGone(o, m_core->blocks(o), m_counts->blocks[o],
                       [&](BlockCounts& counts, std::size_t position, std::uint32_t id) {
                           counts.remove(position, RowFacet::of(name(id), m_core->entries[id].info));
                       });
}

const PairBlockCounts* Catalog::pairBlocks(Order o) const {
    std::vector<std::uint32_t> pairs;
    return withoutGone(o, m_core->pairBlocks(o), m_counts->pairs[o],
                       [&](PairBlockCounts& counts, std::size_t position, std::uint32_t id) {
                           counts.remove(position, pairs, m_core->pairsOf(id, pairs));
                       });
}

const BlockCounts& Catalog::floorDayBlocks() const {
    return m_counts->floorDay.get([&] {
        std::vector<RowFacet> facets;
        facets.reserve(m_floorDayRows->size());
        for (const std::uint32_t id : *m_floorDayRows)
            facets.push_back(RowFacet::of(name(id), m_core->entries[id].info));
        return BlockCounts(facets);
    });
}

const PairBlockCounts& Catalog::floorDayPairBlocks() const {
    return m_counts->floorDayPairs.get([&] {
        const std::vector<std::uint32_t>& day = *m_floorDayRows;
        return PairBlockCounts(
            day.data(), day.size(),
            [&](std::uint32_t id, std::vector<std::uint32_t>& pairs) { return m_core->pairsOf(id, pairs); });
    });
}

std::string_view Catalog::firstDeletion() const {
    std::string_view first =
        m_floor < m_core->deletions && m_size > 0 ? m_core->deletionText(m_floor) : std::string_view{};
    if (!m_learned) return first;
    for (const ListedName& added : m_learned->added)
        if (first.empty() || added.deletion < first) first = added.deletion;
    return first;
}

std::string_view Catalog::name(std::uint32_t id) const {
    const Core& c = *m_core;
    return c.names.substr(c.offsets[id], c.entries[id].length);
}

Catalog::Row Catalog::row(std::uint32_t id) const {
    const Core& c = *m_core;
    if (id >= c.rows) {
        const ListedName& added = m_learned->added[id - c.rows];
        return {added.name, added.suffix, added.deletion};
    }
    return {name(id), static_cast<Suffix>(1u << (c.entries[id].info & 3)),
            c.deletionText(c.entries[id].deletion)};
}

} // namespace yuming::service
