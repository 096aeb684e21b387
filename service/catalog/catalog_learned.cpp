// Names learned since the image was built, merged into every search: a search counts the image's
// matches, takes off the rows the learned names replace and adds the learned rows that match; its
// page comes from a window of the image's order wide enough that the rows taken off and put in
// cannot push the page out of it.
#include "catalog/catalog_learned.h"

#include "catalog/catalog_format.h"

#include <algorithm>
#include <set>
#include <tuple>
#include <utility>

namespace yuming::service {

using namespace catalog_format;

namespace {

CharKind kindOf(std::string_view name) {
    if (name.empty()) return CharKind::Any;
    if (std::all_of(name.begin(), name.end(), [](char c) { return c >= 'a' && c <= 'z'; }))
        return CharKind::Letters;
    if (std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return CharKind::Digits;
    return CharKind::Any;
}

bool keywordMatches(const SearchFilters& filters, std::string_view name) {
    const std::string_view key(filters.keyword);
    if (!std::all_of(key.begin(), key.end(), [](char c) { return symbol(c) >= 0; })) return false;
    switch (filters.position) {
    case KeyPosition::Starts:
        return name.starts_with(key);
    case KeyPosition::Ends:
        return name.ends_with(key);
    case KeyPosition::StartsOrEnds:
        return name.starts_with(key) || name.ends_with(key);
    case KeyPosition::Anywhere:
        break;
    }
    return name.find(key) != std::string_view::npos;
}

// Whether a row passes a search, as the image's own search decides.
bool admits(const SearchFilters& filters, const Catalog::Row& row) {
    if (!(filters.suffixes & static_cast<unsigned>(row.suffix))) return false;
    const auto length = static_cast<int>(row.name.size());
    if (filters.minLength > 0 && length < filters.minLength) return false;
    if (filters.maxLength > 0 && length > filters.maxLength) return false;
    if (filters.kind != CharKind::Any && kindOf(row.name) != filters.kind) return false;
    return keywordMatches(filters, row.name);
}

// A row's place in a sort order: its leading keys, then the name and the suffix's rank, as the
// image's orders hold them.
auto placeOf(SortKey sort, const Catalog::Row& row) {
    const unsigned rank = suffixRank(suffixIndex(row.suffix));
    std::string_view first;
    std::size_t second = 0;
    switch (sort) {
    case SortKey::DeletionTime:
        first = row.deletion;
        break;
    case SortKey::Alphabetical:
        break;
    case SortKey::Suffix:
        second = rank;
        break;
    case SortKey::Length:
        second = row.name.size();
        break;
    case SortKey::DeletionDateThenLength:
        first = row.deletion.substr(0, 10);
        second = row.name.size();
        break;
    }
    return std::tuple(first, second, row.name, rank);
}

} // namespace

std::vector<LearnedName> learnedNames(const LearnedRows& rows) {
    return rows.learned;
}

std::shared_ptr<const Catalog> Catalog::withLearned(std::vector<LearnedName> learned) const {
    auto next = std::shared_ptr<Catalog>(new Catalog(*this));
    next->m_learned = nullptr;
    if (learned.empty()) return next;
    auto rows = std::make_shared<LearnedRows>();
    // The last word on a name stands.
    std::set<std::pair<std::string, Suffix>> seen;
    for (auto it = learned.rbegin(); it != learned.rend(); ++it) {
        it->name.resize(std::min<std::size_t>(it->name.size(), 255));
        if (seen.emplace(it->name, it->suffix).second) rows->learned.push_back(std::move(*it));
    }
    std::reverse(rows->learned.begin(), rows->learned.end());
    for (const LearnedName& name : rows->learned) {
        if (const auto id = find(name.name, name.suffix)) rows->replaced.push_back(*id);
        if (name.deletion && *name.deletion >= m_since)
            rows->added.push_back({name.name, name.suffix, *name.deletion});
    }
    next->m_learned = std::move(rows);
    return next;
}

std::optional<std::uint32_t> Catalog::find(std::string_view wanted, Suffix suffix) const {
    const Core& c = *m_core;
    const std::uint32_t* byName = c.order(ByName);
    const auto key = std::pair(wanted.substr(0, 255), suffixRank(suffixIndex(suffix)));
    const auto keyOf = [&](std::uint32_t id) {
        return std::pair(name(id), suffixRank(c.entries[id].info & 3));
    };
    const std::uint32_t* at =
        std::partition_point(byName, byName + c.rows, [&](std::uint32_t id) { return keyOf(id) < key; });
    if (at == byName + c.rows || keyOf(*at) != key) return std::nullopt;
    return *at;
}

std::size_t Catalog::size() const {
    if (!m_learned) return m_size;
    std::size_t size = m_size + m_learned->added.size();
    for (std::uint32_t id : m_learned->replaced)
        size -= m_core->entries[id].deletion >= m_floor;
    return size;
}

Catalog::Page Catalog::search(const SearchFilters& filters, int pageSize) const {
    if (!m_learned || pageSize <= 0) return searchImage(filters, pageSize);
    return searchLearned(filters, pageSize);
}

Catalog::Page Catalog::searchLearned(const SearchFilters& filters, int pageSize) const {
    const Core& c = *m_core;
    const SortKey sort = filters.sort;
    const auto before = [&](const Row& a, const Row& b) { return placeOf(sort, a) < placeOf(sort, b); };
    // The image's matches that learned names replace, and the learned rows that match.
    std::vector<std::uint32_t> gone;
    for (std::uint32_t id : m_learned->replaced)
        if (c.entries[id].deletion >= m_floor && admits(filters, row(id))) gone.push_back(id);
    std::vector<std::uint32_t> added;
    for (std::uint32_t i = 0; i < m_learned->added.size(); ++i)
        if (admits(filters, row(c.rows + i))) added.push_back(c.rows + i);
    if (gone.empty() && added.empty()) return searchImage(filters, pageSize);
    std::sort(gone.begin(), gone.end());

    // The image's rows [start, start + 2 * width) in the order asked for, taken as two pages.
    const std::int64_t first = filters.page * pageSize;
    const auto width =
        static_cast<std::int64_t>(pageSize) + static_cast<std::int64_t>(gone.size() + added.size());
    std::int64_t start = 0, total = 0;
    std::vector<std::uint32_t> window;
    const auto read = [&](std::int64_t from) {
        SearchFilters part = filters;
        part.page = from / width;
        start = part.page * width;
        const Page one = searchImage(part, static_cast<int>(width));
        ++part.page;
        const Page two = searchImage(part, static_cast<int>(width));
        total = one.total;
        window = one.rows;
        window.insert(window.end(), two.rows.begin(), two.rows.end());
    };
    read(std::max<std::int64_t>(0, first - static_cast<std::int64_t>(added.size())));
    // Past the image's last match the window starts at that match, which places the rows after it.
    if (window.empty() && total > 0) read(total - 1);

    Page page;
    page.total = total - static_cast<std::int64_t>(gone.size()) + static_cast<std::int64_t>(added.size());
    if (first >= page.total) return page;
    // The merged rows from the window's first row to its last (or from the start, or to the end).
    const bool fromStart = start == 0 || window.empty();
    const bool toEnd = start + static_cast<std::int64_t>(window.size()) >= total;
    std::int64_t place = fromStart ? 0 : start;
    std::vector<std::uint32_t> merged;
    for (std::uint32_t id : window)
        if (!std::binary_search(gone.begin(), gone.end(), id)) merged.push_back(id);
    for (std::uint32_t id : added) {
        const Row here = row(id);
        if (!fromStart && before(here, row(window.front()))) {
            ++place;
            continue;
        }
        if (toEnd || !before(row(window.back()), here)) merged.push_back(id);
    }
    if (!fromStart)
        for (std::uint32_t id : gone)
            place -= before(row(id), row(window.front()));
    std::sort(merged.begin(), merged.end(),
              [&](std::uint32_t a, std::uint32_t b) { return before(row(a), row(b)); });
    const auto skip = static_cast<std::size_t>(std::max<std::int64_t>(0, first - place));
    for (std::size_t i = skip; i < merged.size() && page.rows.size() < static_cast<std::size_t>(pageSize);
         ++i)
        page.rows.push_back(merged[i]);
    return page;
}

} // namespace yuming::service
