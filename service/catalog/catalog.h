#pragma once

#include "catalog/catalog_format.h"
#include "catalog/learned_name.h"
#include "protocol/search_query.h"
#include "store/meta.h"
#include "store/store.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace yuming::service {

struct LearnedRows;

// The drop list held in memory, searched without ever sorting the whole list: prefix and suffix
// searches are binary searches in the two name orders, a keyword anywhere comes from the rows
// listed under its letter or its rarest pair of letters, and a page is taken from a sort order
// kept ready. Immutable: any number of threads may search at once.
class Catalog {
public:
    explicit Catalog(const std::vector<ListedName>& rows);
    // A catalogue from an image made by CatalogBuilder (catalog/catalog_builder.h); null, with `error`, when
    // the bytes are not one (damaged, cut short, or from another build of the layout). Never trusts the
    // image: every position in it is checked before use.
    static std::shared_ptr<const Catalog> fromImage(CatalogImage image, std::string& error);

    // The bytes to store, for fromImage.
    std::string_view image() const;
    // The memory they are held in.
    const CatalogImage& storage() const;
    // The same names without those deleted before `now` ("yyyy-MM-dd HH:mm:ss"); shares the data.
    std::shared_ptr<const Catalog> since(std::string_view now) const;
    // The earliest deletion time still listed; empty when the list is empty.
    std::string_view firstDeletion() const;
    // The same list with what lookups learned laid over it, in place of what an earlier call laid:
    // searched, counted and paged as the catalogue built from the list so changed would be, without
    // building one. Meant for a few thousand names at most; shares the data.
    std::shared_ptr<const Catalog> withLearned(std::vector<LearnedName> learned) const;

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
    // Names on the list.
    std::size_t size() const;

    using Core = CatalogCore;

private:
    explicit Catalog(std::shared_ptr<const Core> core);

    std::shared_ptr<Catalog> sinceImage(std::string_view now) const;
    Page searchImage(const SearchFilters& filters, int pageSize) const;
    Page searchLearned(const SearchFilters& filters, int pageSize) const;
    // The row listed under this name, if any.
    std::optional<std::uint32_t> find(std::string_view name, Suffix suffix) const;
    std::string_view name(std::uint32_t id) const;
    bool passes(std::uint32_t id, const SearchFilters& filters) const;
    std::vector<std::uint32_t> edgeMatches(const SearchFilters& filters) const;
    void containing(const SearchFilters& filters, std::vector<std::uint32_t>& matches) const;
    bool countable(const SearchFilters& filters, int lengths) const;
    std::int64_t counted(const SearchFilters& filters) const;
    // A walk that may count whole blocks: -1 for every row, or the letter every row holds.
    static constexpr int kEveryRow = -1;
    static constexpr int kNoBlocks = -2;
    // From this up, the pair of letters (by pairGram) every row holds plus this.
    static constexpr int kPairBlocks = 64;
    bool pairBlocksCount(const SearchFilters& filters) const;
    template <class Wanted>
    std::vector<std::uint32_t> walk(const SearchFilters& filters, std::int64_t first, int count,
                                    Wanted wanted, int blockLetter = kNoBlocks) const;
    std::vector<std::uint32_t> slice(std::vector<std::uint32_t>& matches, const SearchFilters& filters,
                                     std::int64_t first, int count) const;

    std::shared_ptr<const Core> m_core;
    // Rows whose deletion time is before the first one listed are gone: in deletion order the
    // first m_deletionStart; in day order the days before, and in part the first day listed,
    // whose rows still listed are m_floorDayRows, then the order goes on from m_dayEnd.
    std::uint32_t m_floor = 0;
    // A bit for each row gone, when any is.
    std::shared_ptr<const std::vector<std::uint64_t>> m_gone;
    std::size_t m_deletionStart = 0;
    std::shared_ptr<const std::vector<std::uint32_t>> m_floorDayRows;
    std::size_t m_dayEnd = 0;
    std::size_t m_size = 0;
    // Rows by suffix, structure and length, and the same by each letter a name holds; the last
    // length counts every name that long or longer.
    std::shared_ptr<const Tally> m_tally;
    std::shared_ptr<const LetterTally> m_letterTally;
    // What lookups learned since the image was built (rows added after the image's own, numbered
    // on from its last), and the time before which names have left the list.
    std::shared_ptr<const LearnedRows> m_learned;
    std::string m_since;
    // Each order's block counts without the rows gone (null while the image's are not ready),
    // and the same for m_floorDayRows: worked out when first walked.
    const BlockCounts* blocks(catalog_format::Order o) const;
    const BlockCounts& floorDayBlocks() const;
    const PairBlockCounts* pairBlocks(catalog_format::Order o) const;
    template <class Counts, class Drop>
    const Counts* withoutGone(catalog_format::Order o, const Counts* image, WorkedOut<Counts>& made,
                              Drop drop) const;
    const PairBlockCounts& floorDayPairBlocks() const;
    // Shared by the copies that differ only in what lookups learned, since the rows gone are the same.
    struct SinceCounts {
        std::array<WorkedOut<BlockCounts>, catalog_format::kOrders> blocks;
        std::array<WorkedOut<PairBlockCounts>, catalog_format::kOrders> pairs;
        WorkedOut<BlockCounts> floorDay;
        WorkedOut<PairBlockCounts> floorDayPairs;
    };
    std::shared_ptr<SinceCounts> m_counts = std::make_shared<SinceCounts>();
};

// The catalogue being served. When the drop list changes a new one is built aside and put in its
// place; a search goes on with the one it began with, which lives until its last reader is done.
class CatalogHolder {
public:
    explicit CatalogHolder(std::shared_ptr<const Catalog> first) : m_current(std::move(first)) {}
    std::shared_ptr<const Catalog> current() const { return m_current.load(); }
    void replace(std::shared_ptr<const Catalog> next) { m_current.store(std::move(next)); }
    // Whether the names served are sample data (store/sample_mark.h), not a real drop list.
    bool sample() const { return m_sample.load(); }
    void setSample(bool sample) { m_sample.store(sample); }
    // When an import or a feed last changed the names, for the banner; null: never.
    std::shared_ptr<const ListRefresh> refresh() const { return m_refresh.load(); }
    void setRefresh(const std::optional<ListRefresh>& refresh) {
        m_refresh.store(refresh ? std::make_shared<const ListRefresh>(*refresh) : nullptr);
    }

private:
    std::atomic<std::shared_ptr<const Catalog>> m_current;
    std::atomic<bool> m_sample = false;
    std::atomic<std::shared_ptr<const ListRefresh>> m_refresh;
};

} // namespace yuming::service
