#include "catalog.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <numeric>
#include <utility>

#include <sys/mman.h>

namespace yuming::service {

int symbol(char c) {
    if (c >= 'a' && c <= 'z') return c - 'a';
    if (c >= '0' && c <= '9') return 26 + c - '0';
    return c == '-' ? 36 : -1;
}

std::size_t pairGram(char a, char b) {
    return static_cast<std::size_t>(symbol(a) * kSymbols + symbol(b));
}

namespace {

constexpr std::size_t kPairs = kSymbols * kSymbols;
constexpr std::size_t kOrders = 6;
// The orders kept ready, as they sit in the image.
enum Order : std::size_t { ByName, ByReversed, ByDeletion, BySuffix, ByLength, ByDayThenLength };
constexpr std::uint32_t kByteOrderMark = 0x01020304;
constexpr std::uint32_t kVersion = 1;
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
};

// Where each part of an image starts, every part on an 8-byte boundary.
struct Layout {
    std::size_t names, offsets, deletion, info, length, deletionOffsets, deletionTexts, orders, letters,
        letterTally, tally, pairStart, pairs, total;
    std::size_t words;
};

Layout layoutFor(std::uint64_t rows, std::uint64_t deletions, std::uint64_t nameBytes,
                 std::uint64_t deletionBytes, std::uint64_t pairBytes) {
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
    l.deletion = place(rows * 4);
    l.info = place(rows);
    l.length = place(rows);
    l.deletionOffsets = place((deletions + 1) * 4);
    l.deletionTexts = place(deletionBytes);
    l.orders = place(kOrders * rows * 4);
    l.letters = place(kSymbols * l.words * 8);
    l.letterTally = place(sizeof(Catalog::LetterTally));
    l.tally = place(sizeof(Catalog::Tally));
    l.pairStart = place((kPairs + 1) * 8);
    l.pairs = place(pairBytes);
    l.total = at;
    return l;
}

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

// A suffix is kept as the number of its flag's bit: com 0, net 1, org 2, cn 3.
std::uint8_t suffixIndex(Suffix suffix) {
    return static_cast<std::uint8_t>(std::countr_zero(static_cast<unsigned>(suffix)) & 3);
}

// cn, com, net, org: the order of the suffix texts, as the database sorts them.
std::uint32_t suffixRank(std::uint8_t index) {
    return (index + 1u) & 3u;
}

// The first eight bytes of a name, or of the name read backwards, as a number that sorts like them.
std::uint64_t leadingBytes(std::string_view name, bool backwards) {
    std::uint64_t key = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        const std::size_t at = backwards ? name.size() - 1 - i : i;
        const auto byte = i < name.size() ? static_cast<unsigned char>(name[at]) : 0u;
        key = key << 8 | byte;
    }
    return key;
}

// The first `limit` bytes of `name` read backwards, compared with `key` read backwards.
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

std::size_t varintSize(std::uint32_t value) {
    std::size_t size = 1;
    while (value >= 0x80) {
        value >>= 7;
        ++size;
    }
    return size;
}

std::uint8_t* putVarint(std::uint8_t* out, std::uint32_t value) {
    while (value >= 0x80) {
        *out++ = static_cast<std::uint8_t>(value | 0x80);
        value >>= 7;
    }
    *out++ = static_cast<std::uint8_t>(value);
    return out;
}

// The distinct letters and pairs of letters of a name.
void gramsOf(std::string_view name, std::vector<std::uint16_t>& letters, std::vector<std::uint16_t>& pairs) {
    letters.clear();
    pairs.clear();
    for (std::size_t i = 0; i < name.size(); ++i) {
        const int here = symbol(name[i]);
        if (here < 0) continue;
        letters.push_back(static_cast<std::uint16_t>(here));
        if (i + 1 < name.size() && symbol(name[i + 1]) >= 0)
            pairs.push_back(static_cast<std::uint16_t>(pairGram(name[i], name[i + 1])));
    }
    for (auto* grams : {&letters, &pairs}) {
        std::sort(grams->begin(), grams->end());
        grams->erase(std::unique(grams->begin(), grams->end()), grams->end());
    }
}

// Stable counting sort of `in` by a small key.
template <class Key>
void sortByKey(const std::uint32_t* in, std::uint32_t* out, std::size_t count, std::size_t keys, Key key) {
    std::vector<std::size_t> start(keys + 1);
    for (std::size_t i = 0; i < count; ++i)
        ++start[key(in[i]) + 1];
    std::partial_sum(start.begin(), start.end(), start.begin());
    for (std::size_t i = 0; i < count; ++i)
        out[start[key(in[i])]++] = in[i];
}

template <class T> T* at(CatalogImage& image, std::size_t offset) {
    return reinterpret_cast<T*>(image.data() + offset);
}

template <class T> const T* at(const CatalogImage& image, std::size_t offset) {
    return reinterpret_cast<const T*>(image.data() + offset);
}

} // namespace

CatalogImage::CatalogImage(std::size_t size) : m_size(size) {
    if (size == 0) return;
    void* mapped = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) throw std::bad_alloc();
    ::madvise(mapped, size, MADV_HUGEPAGE);
    m_data = static_cast<char*>(mapped);
}

CatalogImage CatalogImage::copyOf(std::string_view bytes) {
    CatalogImage image(bytes.size());
    if (!bytes.empty()) std::memcpy(image.data(), bytes.data(), bytes.size());
    return image;
}

CatalogImage::~CatalogImage() {
    if (m_data) ::munmap(m_data, m_size);
}

CatalogImage::CatalogImage(CatalogImage&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)), m_size(std::exchange(other.m_size, 0)) {}

CatalogImage& CatalogImage::operator=(CatalogImage&& other) noexcept {
    if (this != &other) {
        if (m_data) ::munmap(m_data, m_size);
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
    }
    return *this;
}

void CatalogBuilder::add(std::string_view name, Suffix suffix, std::string_view deletion) {
    name = name.substr(0, 255);
    m_names.append(name);
    m_offsets.push_back(static_cast<std::uint32_t>(m_names.size()));
    m_info.push_back(
        static_cast<std::uint8_t>(suffixIndex(suffix) | static_cast<unsigned>(kindOf(name)) << 2));
    m_length.push_back(static_cast<std::uint8_t>(name.size()));
    const auto [found, added] =
        m_deletionIds.try_emplace(std::string(deletion), static_cast<std::uint32_t>(m_deletionTexts.size()));
    if (added) m_deletionTexts.emplace_back(deletion);
    m_deletion.push_back(found->second);
}

CatalogImage CatalogBuilder::finish() {
    const std::size_t rows = m_length.size();
    const auto nameOf = [&](std::uint32_t id) {
        return std::string_view(m_names).substr(m_offsets[id], m_offsets[id + 1] - m_offsets[id]);
    };

    // Deletion times in time order.
    std::vector<std::uint32_t> byTime(m_deletionTexts.size());
    std::iota(byTime.begin(), byTime.end(), 0u);
    std::sort(byTime.begin(), byTime.end(),
              [&](std::uint32_t a, std::uint32_t b) { return m_deletionTexts[a] < m_deletionTexts[b]; });
    std::vector<std::uint32_t> timeRank(byTime.size());
    for (std::uint32_t i = 0; i < byTime.size(); ++i)
        timeRank[byTime[i]] = i;
    for (auto& d : m_deletion)
        d = timeRank[d];
    std::uint64_t deletionBytes = 0;
    for (const auto& text : m_deletionTexts)
        deletionBytes += text.size();

    // The keyword index: each pair's rows as ascending gaps, in as many bytes as they need.
    std::vector<std::uint16_t> letters, pairs;
    std::vector<std::uint64_t> pairSize(kPairs);
    std::vector<std::uint32_t> last(kPairs, kNoRow);
    for (std::uint32_t id = 0; id < rows; ++id) {
        gramsOf(nameOf(id), letters, pairs);
        for (std::uint16_t g : pairs) {
            pairSize[g] += varintSize(last[g] == kNoRow ? id : id - last[g]);
            last[g] = id;
        }
    }
    const std::uint64_t pairBytes = std::accumulate(pairSize.begin(), pairSize.end(), std::uint64_t{0});

    const Layout l = layoutFor(rows, byTime.size(), m_names.size(), deletionBytes, pairBytes);
    CatalogImage image(l.total);
    Header header{};
    std::memcpy(header.magic, kMagic, sizeof kMagic);
    header.byteOrder = kByteOrderMark;
    header.version = kVersion;
    header.rows = static_cast<std::uint32_t>(rows);
    header.deletions = static_cast<std::uint32_t>(byTime.size());
    header.nameBytes = m_names.size();
    header.deletionBytes = deletionBytes;
    header.pairBytes = pairBytes;
    std::memcpy(image.data(), &header, sizeof header);
    std::memcpy(image.data() + l.names, m_names.data(), m_names.size());
    std::memcpy(image.data() + l.offsets, m_offsets.data(), m_offsets.size() * 4);
    std::memcpy(image.data() + l.deletion, m_deletion.data(), rows * 4);
    std::memcpy(image.data() + l.info, m_info.data(), rows);
    std::memcpy(image.data() + l.length, m_length.data(), rows);
    {
        auto* offsets = at<std::uint32_t>(image, l.deletionOffsets);
        char* text = image.data() + l.deletionTexts;
        std::uint32_t used = 0;
        for (std::size_t i = 0; i < byTime.size(); ++i) {
            const std::string& t = m_deletionTexts[byTime[i]];
            offsets[i] = used;
            std::memcpy(text + used, t.data(), t.size());
            used += static_cast<std::uint32_t>(t.size());
        }
        offsets[byTime.size()] = used;
    }

    // The two name orders: sorted by their first eight bytes, the rare ties by the whole name.
    std::uint32_t* orders = at<std::uint32_t>(image, l.orders);
    const auto order = [&](Order o) { return orders + o * rows; };
    {
        std::vector<std::pair<std::uint64_t, std::uint32_t>> keys(rows);
        for (const bool backwards : {false, true}) {
            for (std::uint32_t id = 0; id < rows; ++id)
                keys[id] = {leadingBytes(nameOf(id), backwards), id};
            std::sort(keys.begin(), keys.end(), [&](const auto& a, const auto& b) {
                if (a.first != b.first) return a.first < b.first;
                const std::string_view x = nameOf(a.second), y = nameOf(b.second);
                if (backwards) {
                    const int c = compareBackwards(x, y, SIZE_MAX);
                    return c != 0 ? c < 0 : a.second < b.second;
                }
                if (x != y) return x < y;
                return suffixRank(m_info[a.second] & 3) < suffixRank(m_info[b.second] & 3);
            });
            std::uint32_t* out = order(backwards ? ByReversed : ByName);
            for (std::size_t i = 0; i < rows; ++i)
                out[i] = keys[i].second;
        }
    }
    // Every other order is the name order sorted stably by its leading keys.
    std::vector<std::uint32_t> dayOf(byTime.size());
    for (std::size_t i = 1; i < byTime.size(); ++i)
        dayOf[i] = dayOf[i - 1] +
                   (m_deletionTexts[byTime[i]].substr(0, 10) != m_deletionTexts[byTime[i - 1]].substr(0, 10));
    sortByKey(order(ByName), order(ByDeletion), rows, byTime.size(),
              [&](std::uint32_t id) { return m_deletion[id]; });
    sortByKey(order(ByName), order(BySuffix), rows, 4,
              [&](std::uint32_t id) { return suffixRank(m_info[id] & 3); });
    sortByKey(order(ByName), order(ByLength), rows, 256, [&](std::uint32_t id) { return m_length[id]; });
    sortByKey(order(ByLength), order(ByDayThenLength), rows, byTime.size(),
              [&](std::uint32_t id) { return dayOf[m_deletion[id]]; });

    // Letters: a bit per row, and counts by suffix, structure and length.
    auto* letterBits = at<std::uint64_t>(image, l.letters);
    auto* letterTally = at<Catalog::LetterTally>(image, l.letterTally);
    auto* tally = at<Catalog::Tally>(image, l.tally);
    for (std::uint32_t id = 0; id < rows; ++id) {
        const unsigned suffix = m_info[id] & 3, kind = m_info[id] >> 2 & 3;
        ++(*tally)[suffix][kind][m_length[id]];
        gramsOf(nameOf(id), letters, pairs);
        for (std::uint16_t g : letters) {
            letterBits[g * l.words + id / 64] |= std::uint64_t{1} << (id % 64);
            ++(*letterTally)[g][suffix][kind][std::min<unsigned>(m_length[id], Catalog::kLetterLengths - 1)];
        }
    }
    auto* pairStart = at<std::uint64_t>(image, l.pairStart);
    for (std::size_t g = 0; g < kPairs; ++g)
        pairStart[g + 1] = pairStart[g] + pairSize[g];
    std::vector<std::uint8_t*> cursor(kPairs);
    auto* pairData = at<std::uint8_t>(image, l.pairs);
    for (std::size_t g = 0; g < kPairs; ++g)
        cursor[g] = pairData + pairStart[g];
    std::fill(last.begin(), last.end(), kNoRow);
    for (std::uint32_t id = 0; id < rows; ++id) {
        gramsOf(nameOf(id), letters, pairs);
        for (std::uint16_t g : pairs) {
            cursor[g] = putVarint(cursor[g], last[g] == kNoRow ? id : id - last[g]);
            last[g] = id;
        }
    }
    *this = CatalogBuilder();
    return image;
}

struct Catalog::Core {
    CatalogImage image;
    std::uint32_t rows = 0;
    std::uint32_t deletions = 0;
    std::size_t words = 0;
    std::string_view names;
    const std::uint32_t* offsets = nullptr;
    const std::uint32_t* deletion = nullptr;
    const std::uint8_t* info = nullptr;
    const std::uint8_t* length = nullptr;
    const std::uint32_t* deletionOffsets = nullptr;
    std::string_view deletionTexts;
    const std::uint32_t* orders = nullptr;
    const std::uint64_t* letters = nullptr;
    const LetterTally* letterTally = nullptr;
    const Tally* tally = nullptr;
    const std::uint64_t* pairStart = nullptr;
    const std::uint8_t* pairs = nullptr;
    // Worked out when read: each row's place in the name order, each deletion time's day.
    std::vector<std::uint32_t> nameRank;
    std::vector<std::uint32_t> dayOf;

    const std::uint32_t* order(std::size_t o) const { return orders + o * rows; }
    std::string_view deletionText(std::uint32_t d) const {
        return deletionTexts.substr(deletionOffsets[d], deletionOffsets[d + 1] - deletionOffsets[d]);
    }
    bool hasLetter(int letter, std::uint32_t id) const {
        return letters[static_cast<std::size_t>(letter) * words + id / 64] >> (id % 64) & 1;
    }
    // Calls `use` with each row of a pair of letters, in ascending order.
    template <class Use> void eachWithPair(std::size_t pair, Use use) const {
        const std::uint8_t* p = pairs + pairStart[pair];
        const std::uint8_t* end = pairs + pairStart[pair + 1];
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

bool Catalog::Core::read(std::string& error) {
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
        header.pairBytes > image.size() || header.deletions > header.rows || header.nameBytes >= UINT32_MAX ||
        header.deletionBytes >= UINT32_MAX)
        return fail("sizes out of range");
    const Layout l =
        layoutFor(header.rows, header.deletions, header.nameBytes, header.deletionBytes, header.pairBytes);
    if (l.total != image.size()) return fail("cut short");
    rows = header.rows;
    deletions = header.deletions;
    words = l.words;
    names = image.view().substr(l.names, header.nameBytes);
    offsets = at<std::uint32_t>(image, l.offsets);
    deletion = at<std::uint32_t>(image, l.deletion);
    info = at<std::uint8_t>(image, l.info);
    length = at<std::uint8_t>(image, l.length);
    deletionOffsets = at<std::uint32_t>(image, l.deletionOffsets);
    deletionTexts = image.view().substr(l.deletionTexts, header.deletionBytes);
    orders = at<std::uint32_t>(image, l.orders);
    letters = at<std::uint64_t>(image, l.letters);
    letterTally = at<LetterTally>(image, l.letterTally);
    tally = at<Tally>(image, l.tally);
    pairStart = at<std::uint64_t>(image, l.pairStart);
    pairs = at<std::uint8_t>(image, l.pairs);

    if (offsets[0] != 0 || offsets[rows] != header.nameBytes) return fail("names out of range");
    for (std::uint32_t id = 0; id < rows; ++id)
        if (offsets[id + 1] < offsets[id] || offsets[id + 1] - offsets[id] != length[id] ||
            deletion[id] >= deletions || (info[id] >> 2) > 2)
            return fail("a row out of range");
    if (deletionOffsets[0] != 0 || deletionOffsets[deletions] != header.deletionBytes)
        return fail("times out of range");
    for (std::uint32_t d = 0; d < deletions; ++d)
        if (deletionOffsets[d + 1] < deletionOffsets[d] || (d > 0 && deletionText(d) <= deletionText(d - 1)))
            return fail("times out of order");
    for (std::size_t i = 0; i < kOrders * rows; ++i)
        if (orders[i] >= rows) return fail("an order out of range");
    if (pairStart[0] != 0 || pairStart[kPairs] != header.pairBytes) return fail("keyword index out of range");
    for (std::size_t g = 0; g < kPairs; ++g)
        if (pairStart[g + 1] < pairStart[g]) return fail("keyword index out of order");

    nameRank.assign(rows, 0);
    const std::uint32_t* byName = order(ByName);
    for (std::uint32_t position = 0; position < rows; ++position)
        nameRank[byName[position]] = position;
    dayOf.assign(deletions, 0);
    for (std::uint32_t d = 1; d < deletions; ++d)
        dayOf[d] = dayOf[d - 1] + (deletionText(d).substr(0, 10) != deletionText(d - 1).substr(0, 10));
    return true;
}

Catalog::Catalog(std::shared_ptr<const Core> core)
    : m_core(std::move(core)), m_size(m_core->rows), m_tally(std::make_shared<const Tally>(*m_core->tally)),
      m_letterTally(std::make_shared<const LetterTally>(*m_core->letterTally)) {}

namespace {

std::shared_ptr<const Catalog::Core> readCore(CatalogImage image, std::string& error) {
    auto core = std::make_shared<Catalog::Core>();
    core->image = std::move(image);
    if (!core->read(error)) return nullptr;
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

std::shared_ptr<const Catalog> Catalog::since(std::string_view now) const {
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
    next->m_floor = lo;
    // The rows gone are the first ones in deletion order; their counts come off the tallies.
    const std::uint32_t* byDeletion = c.order(ByDeletion);
    const std::uint32_t* end = std::partition_point(byDeletion, byDeletion + c.rows,
                                                    [&](std::uint32_t id) { return c.deletion[id] < lo; });
    auto tally = std::make_shared<Tally>(*c.tally);
    auto letterTally = std::make_shared<LetterTally>(*c.letterTally);
    std::vector<std::uint16_t> letters, pairs;
    for (const std::uint32_t* p = byDeletion; p < end; ++p) {
        const std::uint32_t id = *p;
        const unsigned suffix = c.info[id] & 3, kind = c.info[id] >> 2 & 3;
        --(*tally)[suffix][kind][c.length[id]];
        gramsOf(next->name(id), letters, pairs);
        for (std::uint16_t g : letters)
            --(*letterTally)[g][suffix][kind][std::min<unsigned>(c.length[id], kLetterLengths - 1)];
    }
    next->m_size = c.rows - static_cast<std::size_t>(end - byDeletion);
    next->m_tally = std::move(tally);
    next->m_letterTally = std::move(letterTally);
    return next;
}

std::string_view Catalog::firstDeletion() const {
    return m_floor < m_core->deletions && m_size > 0 ? m_core->deletionText(m_floor) : std::string_view{};
}

std::string_view Catalog::name(std::uint32_t id) const {
    const Core& c = *m_core;
    return c.names.substr(c.offsets[id], c.length[id]);
}

Catalog::Row Catalog::row(std::uint32_t id) const {
    const Core& c = *m_core;
    return {name(id), static_cast<Suffix>(1u << (c.info[id] & 3)), c.deletionText(c.deletion[id])};
}

bool Catalog::onList(std::uint32_t id) const {
    return m_core->deletion[id] >= m_floor;
}

bool Catalog::passes(std::uint32_t id, const SearchFilters& filters) const {
    const Core& c = *m_core;
    if (c.deletion[id] < m_floor) return false;
    const std::uint8_t info = c.info[id];
    if (!(filters.suffixes & (1u << (info & 3)))) return false;
    const int length = c.length[id];
    if (filters.minLength > 0 && length < filters.minLength) return false;
    if (filters.maxLength > 0 && length > filters.maxLength) return false;
    return filters.kind == CharKind::Any || (info >> 2) == static_cast<unsigned>(filters.kind);
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
    return sum((*m_letterTally)[static_cast<std::size_t>(symbol(filters.keyword[0]))], kLetterLengths);
}

// Rows [first, first + count) of those `wanted`, walking the order of `sort`.
template <class Wanted>
std::vector<std::uint32_t> Catalog::walk(SortKey sort, std::int64_t first, int count, Wanted wanted) const {
    static constexpr Order kOrderOf[] = {ByDeletion, ByName, BySuffix, ByLength, ByDayThenLength};
    const Core& c = *m_core;
    const std::uint32_t* order = c.order(kOrderOf[static_cast<std::size_t>(sort)]);
    const std::uint32_t* end = order + c.rows;
    // In deletion order the rows gone come first.
    if (sort == SortKey::DeletionTime && m_floor > 0)
        order = std::partition_point(order, end, [&](std::uint32_t id) { return c.deletion[id] < m_floor; });
    std::vector<std::uint32_t> out;
    std::int64_t seen = 0;
    for (; order < end; ++order) {
        if (!wanted(*order)) continue;
        if (seen++ < first) continue;
        out.push_back(*order);
        if (static_cast<int>(out.size()) == count) break;
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
        const bool both = filters.position == KeyPosition::StartsOrEnds;
        for (const std::uint32_t* p = lo; p < hi; ++p)
            if (passes(*p, filters) && !(both && name(*p).starts_with(key))) out.push_back(*p);
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
    std::size_t rarest = pairGram(key[0], key[1]);
    for (std::size_t i = 1; i + 1 < key.size(); ++i) {
        const std::size_t pair = pairGram(key[i], key[i + 1]);
        if (c.pairStart[pair + 1] - c.pairStart[pair] < c.pairStart[rarest + 1] - c.pairStart[rarest])
            rarest = pair;
    }
    const bool verify = key.size() > 2;
    c.eachWithPair(rarest, [&](std::uint32_t id) {
        if (passes(id, filters) && (!verify || name(id).find(key) != std::string_view::npos))
            matches.push_back(id);
    });
}

Catalog::Page Catalog::search(const SearchFilters& filters, int pageSize) const {
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
        page.rows = walk(filters.sort, first, pageSize, [&](std::uint32_t id) {
            return (letter < 0 || m_core->hasLetter(letter, id)) && passes(id, filters);
        });
        return page;
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
    page.rows = slice(matches, filters.sort, first, pageSize);
    return page;
}

// The rows at [first, first + count) of `matches` in the requested order. A few matches are
// sorted by a key made of their place in the name order and the sort's leading values; many are
// picked by walking the order once.
std::vector<std::uint32_t> Catalog::slice(std::vector<std::uint32_t>& matches, SortKey sort,
                                          std::int64_t first, int count) const {
    const Core& c = *m_core;
    const auto end = std::min<std::int64_t>(first + count, static_cast<std::int64_t>(matches.size()));
    if (matches.size() * 16 >= c.rows) {
        std::vector<std::uint64_t> wanted(c.words);
        for (std::uint32_t id : matches)
            wanted[id / 64] |= std::uint64_t{1} << (id % 64);
        return walk(sort, first, count, [&](std::uint32_t id) { return wanted[id / 64] >> (id % 64) & 1; });
    }
    const auto keyOf = [&](std::uint32_t id) -> std::uint64_t {
        const std::uint64_t rank = c.nameRank[id];
        switch (sort) {
        case SortKey::DeletionTime:
            return std::uint64_t{c.deletion[id]} << 32 | rank;
        case SortKey::Alphabetical:
            return rank;
        case SortKey::Suffix:
            return std::uint64_t{suffixRank(c.info[id] & 3)} << 32 | rank;
        case SortKey::Length:
            return std::uint64_t{c.length[id]} << 32 | rank;
        case SortKey::DeletionDateThenLength:
            return std::uint64_t{std::min<std::uint32_t>(c.dayOf[c.deletion[id]], 0xffffff)} << 40 |
                   std::uint64_t{c.length[id]} << 32 | rank;
        }
        return rank;
    };
    std::vector<std::uint64_t> keyed(matches.size());
    for (std::size_t i = 0; i < matches.size(); ++i)
        keyed[i] = keyOf(matches[i]);
    // The key ends with the name rank, which names the row.
    std::partial_sort(keyed.begin(), keyed.begin() + end, keyed.end());
    std::vector<std::uint32_t> out;
    const std::uint32_t* byName = c.order(ByName);
    for (auto i = first; i < end; ++i)
        out.push_back(byName[static_cast<std::uint32_t>(keyed[static_cast<std::size_t>(i)])]);
    return out;
}

} // namespace yuming::service
