#include "catalog/catalog.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <numeric>
#include <optional>
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

// Where each part of an image starts, every part on an 8-byte boundary.
// A row's deletion time (its place among the distinct times), suffix, structure and length, side
// by side so that filtering a row costs one memory read.
struct Entry {
    std::uint32_t deletion;
    std::uint8_t info; // suffix in bits 0-1, structure in bits 2-3
    std::uint8_t length;
    std::uint16_t unused;
};

struct Layout {
    std::size_t names, offsets, entries, deletionOffsets, deletionTexts, orders, letters, letterTally, tally,
        pairStart, pairs, tripleStart, triples, total;
    std::size_t words;
};

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
    l.letterTally = place(sizeof(Catalog::LetterTally));
    l.tally = place(sizeof(Catalog::Tally));
    l.pairStart = place((kPairs + 1) * 8);
    l.pairs = place(pairBytes);
    l.tripleStart = place((kTriples + 1) * 8);
    l.triples = place(tripleBytes);
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

// The distinct letters, pairs and runs of three letters of a name.
struct Grams {
    std::vector<std::uint32_t> letters, pairs, triples;
};

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

// Rows listed under each gram, as ascending gaps in as many bytes as they need: laid out in two
// passes over the names, one to size the lists and one to write them.
class GramLists {
public:
    explicit GramLists(std::size_t grams) : m_size(grams), m_last(grams, kNoRow) {}
    void count(const std::vector<std::uint32_t>& grams, std::uint32_t id) {
        for (std::uint32_t g : grams) {
            m_size[g] += varintSize(m_last[g] == kNoRow ? id : id - m_last[g]);
            m_last[g] = id;
        }
    }
    std::uint64_t bytes() const { return std::accumulate(m_size.begin(), m_size.end(), std::uint64_t{0}); }
    void place(std::uint64_t* start, std::uint8_t* data) {
        m_cursor.resize(m_size.size());
        start[0] = 0;
        for (std::size_t g = 0; g < m_size.size(); ++g) {
            start[g + 1] = start[g] + m_size[g];
            m_cursor[g] = data + start[g];
        }
        std::fill(m_last.begin(), m_last.end(), kNoRow);
    }
    void write(const std::vector<std::uint32_t>& grams, std::uint32_t id) {
        for (std::uint32_t g : grams) {
            m_cursor[g] = putVarint(m_cursor[g], m_last[g] == kNoRow ? id : id - m_last[g]);
            m_last[g] = id;
        }
    }

private:
    std::vector<std::uint64_t> m_size;
    std::vector<std::uint32_t> m_last;
    std::vector<std::uint8_t*> m_cursor;
};

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

namespace {

// Deletion times come as "yyyy-MM-dd HH:mm:ss", millions of them distinct; as the number
// yyyyMMddHHmmss they sort as their texts do and need no text of their own until the image is
// written. Any other text is numbered apart, with the top bit set.
constexpr std::string_view kTimeShape = "0000-00-00 00:00:00";
constexpr std::uint64_t kOtherTime = std::uint64_t{1} << 63;

std::optional<std::uint64_t> packedTime(std::string_view text) {
    if (text.size() != kTimeShape.size()) return std::nullopt;
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (kTimeShape[i] != '0') {
            if (text[i] != kTimeShape[i]) return std::nullopt;
            continue;
        }
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
    }
    return value;
}

// Stable sort by the first of each pair: sixteen bits at a time from the lowest, as many rounds
// as the largest needs (three for a packed time, four for eight bytes of a name).
void sortByFirst(std::vector<std::pair<std::uint64_t, std::uint32_t>>& items) {
    std::uint64_t largest = 0;
    for (const auto& item : items)
        largest = std::max(largest, item.first);
    std::vector<std::pair<std::uint64_t, std::uint32_t>> spare(items.size());
    std::vector<std::size_t> start((1 << 16) + 1);
    for (unsigned shift = 0; shift < 64 && (largest >> shift) != 0; shift += 16) {
        std::fill(start.begin(), start.end(), 0);
        for (const auto& item : items)
            ++start[((item.first >> shift) & 0xffff) + 1];
        std::partial_sum(start.begin(), start.end(), start.begin());
        for (const auto& item : items)
            spare[start[(item.first >> shift) & 0xffff]++] = item;
        items.swap(spare);
    }
}

void unpackTime(std::uint64_t value, char* out) {
    for (std::size_t i = kTimeShape.size(); i-- > 0;) {
        if (kTimeShape[i] != '0') {
            out[i] = kTimeShape[i];
            continue;
        }
        out[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
}

} // namespace

void CatalogBuilder::add(std::string_view name, Suffix suffix, std::string_view deletion) {
    name = name.substr(0, 255);
    m_names.append(name);
    m_offsets.push_back(static_cast<std::uint32_t>(m_names.size()));
    m_info.push_back(
        static_cast<std::uint8_t>(suffixIndex(suffix) | static_cast<unsigned>(kindOf(name)) << 2));
    m_length.push_back(static_cast<std::uint8_t>(name.size()));
    if (const auto packed = packedTime(deletion)) return m_deletion.push_back(*packed);
    const auto [found, added] = m_otherTimeIds.try_emplace(std::string(deletion), kOtherTime | m_otherTimes.size());
    if (added) m_otherTimes.emplace_back(deletion);
    m_deletion.push_back(found->second);
}

CatalogImage CatalogBuilder::finish() {
    const std::size_t rows = m_length.size();
    const auto nameOf = [&](std::uint32_t id) {
        return std::string_view(m_names).substr(m_offsets[id], m_offsets[id + 1] - m_offsets[id]);
    };

    // The distinct deletion times in time order, and each row's place among them.
    const auto textOf = [&](std::uint64_t time) {
        if (time & kOtherTime) return m_otherTimes[time & ~kOtherTime];
        std::string text(kTimeShape.size(), ' ');
        unpackTime(time, text.data());
        return text;
    };
    const auto earlier = [&](std::uint64_t a, std::uint64_t b) {
        return (a | b) & kOtherTime ? textOf(a) < textOf(b) : a < b;
    };
    std::vector<std::uint64_t> times;
    std::vector<std::uint32_t> timeOf(rows);
    {
        std::vector<std::pair<std::uint64_t, std::uint32_t>> byTime(rows);
        for (std::uint32_t id = 0; id < rows; ++id)
            byTime[id] = {m_deletion[id], id};
        if (m_otherTimes.empty())
            sortByFirst(byTime);
        else
            std::sort(byTime.begin(), byTime.end(), [&](const auto& a, const auto& b) { return earlier(a.first, b.first); });
        for (const auto& [time, id] : byTime) {
            if (times.empty() || times.back() != time) times.push_back(time);
            timeOf[id] = static_cast<std::uint32_t>(times.size() - 1);
        }
    }
    std::uint64_t deletionBytes = 0;
    for (const std::uint64_t time : times)
        deletionBytes += time & kOtherTime ? m_otherTimes[time & ~kOtherTime].size() : kTimeShape.size();

    // The keyword index: the rows of each pair and each run of three letters.
    Grams grams;
    GramLists pairLists(kPairs), tripleLists(kTriples);
    for (std::uint32_t id = 0; id < rows; ++id) {
        gramsOf(nameOf(id), grams);
        pairLists.count(grams.pairs, id);
        tripleLists.count(grams.triples, id);
    }
    const std::uint64_t pairBytes = pairLists.bytes(), tripleBytes = tripleLists.bytes();

    const Layout l = layoutFor(rows, times.size(), m_names.size(), deletionBytes, pairBytes, tripleBytes);
    CatalogImage image(l.total);
    Header header{};
    std::memcpy(header.magic, kMagic, sizeof kMagic);
    header.byteOrder = kByteOrderMark;
    header.version = kVersion;
    header.rows = static_cast<std::uint32_t>(rows);
    header.deletions = static_cast<std::uint32_t>(times.size());
    header.nameBytes = m_names.size();
    header.deletionBytes = deletionBytes;
    header.pairBytes = pairBytes;
    header.tripleBytes = tripleBytes;
    std::memcpy(image.data(), &header, sizeof header);
    std::memcpy(image.data() + l.names, m_names.data(), m_names.size());
    std::memcpy(image.data() + l.offsets, m_offsets.data(), m_offsets.size() * 4);
    auto* entries = at<Entry>(image, l.entries);
    for (std::size_t id = 0; id < rows; ++id)
        entries[id] = {timeOf[id], m_info[id], m_length[id], 0};
    {
        auto* offsets = at<std::uint32_t>(image, l.deletionOffsets);
        char* text = image.data() + l.deletionTexts;
        std::uint32_t used = 0;
        for (std::size_t i = 0; i < times.size(); ++i) {
            offsets[i] = used;
            if (times[i] & kOtherTime) {
                const std::string& other = m_otherTimes[times[i] & ~kOtherTime];
                std::memcpy(text + used, other.data(), other.size());
                used += static_cast<std::uint32_t>(other.size());
            } else {
                unpackTime(times[i], text + used);
                used += static_cast<std::uint32_t>(kTimeShape.size());
            }
        }
        offsets[times.size()] = used;
    }

    // The two name orders: sorted by their first eight bytes, then each run of names that share
    // them by the whole name.
    std::uint32_t* orders = at<std::uint32_t>(image, l.orders);
    const auto order = [&](Order o) { return orders + o * rows; };
    {
        std::vector<std::pair<std::uint64_t, std::uint32_t>> keys(rows);
        for (const bool backwards : {false, true}) {
            for (std::uint32_t id = 0; id < rows; ++id)
                keys[id] = {leadingBytes(nameOf(id), backwards), id};
            sortByFirst(keys);
            const auto byRest = [&](const auto& a, const auto& b) {
                const std::string_view x = nameOf(a.second), y = nameOf(b.second);
                if (backwards) {
                    const int c = compareBackwards(x, y, SIZE_MAX);
                    return c != 0 ? c < 0 : a.second < b.second;
                }
                if (x != y) return x < y;
                return suffixRank(m_info[a.second] & 3) < suffixRank(m_info[b.second] & 3);
            };
            for (auto run = keys.begin(); run != keys.end();) {
                const auto end = std::find_if(run, keys.end(), [&](const auto& key) { return key.first != run->first; });
                if (end - run > 1) std::sort(run, end, byRest);
                run = end;
            }
            std::uint32_t* out = order(backwards ? ByReversed : ByName);
            for (std::size_t i = 0; i < rows; ++i)
                out[i] = keys[i].second;
        }
    }
    // Every other order is the name order sorted stably by its leading keys.
    constexpr std::uint64_t kTimeOfDay = 1'000'000;
    const auto sameDay = [&](std::uint64_t a, std::uint64_t b) {
        return (a | b) & kOtherTime ? textOf(a).substr(0, 10) == textOf(b).substr(0, 10)
                                    : a / kTimeOfDay == b / kTimeOfDay;
    };
    std::vector<std::uint32_t> dayOf(times.size());
    for (std::size_t i = 1; i < times.size(); ++i)
        dayOf[i] = dayOf[i - 1] + !sameDay(times[i], times[i - 1]);
    sortByKey(order(ByName), order(ByDeletion), rows, times.size(), [&](std::uint32_t id) { return timeOf[id]; });
    sortByKey(order(ByName), order(BySuffix), rows, 4,
              [&](std::uint32_t id) { return suffixRank(m_info[id] & 3); });
    sortByKey(order(ByName), order(ByLength), rows, 256, [&](std::uint32_t id) { return m_length[id]; });
    sortByKey(order(ByLength), order(ByDayThenLength), rows, times.size(),
              [&](std::uint32_t id) { return dayOf[timeOf[id]]; });

    // Letters: a bit per row, and counts by suffix, structure and length; pairs and triples in
    // their lists.
    auto* letterBits = at<std::uint64_t>(image, l.letters);
    auto* letterTally = at<Catalog::LetterTally>(image, l.letterTally);
    auto* tally = at<Catalog::Tally>(image, l.tally);
    pairLists.place(at<std::uint64_t>(image, l.pairStart), at<std::uint8_t>(image, l.pairs));
    tripleLists.place(at<std::uint64_t>(image, l.tripleStart), at<std::uint8_t>(image, l.triples));
    for (std::uint32_t id = 0; id < rows; ++id) {
        const unsigned suffix = m_info[id] & 3, kind = m_info[id] >> 2 & 3;
        ++(*tally)[suffix][kind][m_length[id]];
        gramsOf(nameOf(id), grams);
        const unsigned length = std::min<unsigned>(m_length[id], Catalog::kLetterLengths - 1);
        for (std::uint32_t g : grams.letters) {
            letterBits[g * l.words + id / 64] |= std::uint64_t{1} << (id % 64);
            ++(*letterTally)[g][suffix][kind][length];
        }
        for (std::uint32_t g : grams.pairs)
            ++(*letterTally)[kSymbols + g][suffix][kind][length];
        pairLists.write(grams.pairs, id);
        tripleLists.write(grams.triples, id);
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
    const Entry* entries = nullptr;
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
    // Worked out when read: each row's place in the name order, each deletion time's day.
    std::vector<std::uint32_t> nameRank;
    std::vector<std::uint32_t> dayOf;
    // Where each suffix (by rank) begins in the suffix order, and each length in the length order.
    std::array<std::size_t, 5> suffixStart{};
    std::array<std::size_t, 257> lengthStart{};

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
    if (lo == 0) return next;
    // The rows gone are the first ones in deletion order; their counts come off the tallies.
    const std::uint32_t* byDeletion = c.order(ByDeletion);
    const std::uint32_t* end = std::partition_point(
        byDeletion, byDeletion + c.rows, [&](std::uint32_t id) { return c.entries[id].deletion < lo; });
    next->m_deletionStart = static_cast<std::size_t>(end - byDeletion);
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

std::string_view Catalog::firstDeletion() const {
    return m_floor < m_core->deletions && m_size > 0 ? m_core->deletionText(m_floor) : std::string_view{};
}

std::string_view Catalog::name(std::uint32_t id) const {
    const Core& c = *m_core;
    return c.names.substr(c.offsets[id], c.entries[id].length);
}

Catalog::Row Catalog::row(std::uint32_t id) const {
    const Core& c = *m_core;
    return {name(id), static_cast<Suffix>(1u << (c.entries[id].info & 3)),
            c.deletionText(c.entries[id].deletion)};
}

bool Catalog::passes(std::uint32_t id, const SearchFilters& filters) const {
    const Core& c = *m_core;
    const Entry& e = c.entries[id];
    if (e.deletion < m_floor) return false;
    const std::uint8_t info = e.info;
    if (!(filters.suffixes & (1u << (info & 3)))) return false;
    const int length = e.length;
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
    const std::string_view key(filters.keyword);
    const std::size_t gram =
        key.size() == 1 ? static_cast<std::size_t>(symbol(key[0])) : kSymbols + pairGram(key[0], key[1]);
    return sum((*m_letterTally)[gram], kLetterLengths);
}

// Rows [first, first + count) of those `wanted`, walking the order of `sort`.
template <class Wanted>
std::vector<std::uint32_t> Catalog::walk(const SearchFilters& filters, std::int64_t first, int count,
                                         Wanted wanted) const {
    const SortKey sort = filters.sort;
    static constexpr Order kOrderOf[] = {ByDeletion, ByName, BySuffix, ByLength, ByDayThenLength};
    const Core& c = *m_core;
    const std::uint32_t* order = c.order(kOrderOf[static_cast<std::size_t>(sort)]);
    std::vector<std::uint32_t> out;
    std::int64_t seen = 0;
    // Whether the page is full.
    const auto take = [&](const std::uint32_t* from, const std::uint32_t* to) {
        for (; from < to; ++from) {
            if (!wanted(*from)) continue;
            if (seen++ < first) continue;
            out.push_back(*from);
            if (static_cast<int>(out.size()) == count) return true;
        }
        return false;
    };
    if (sort == SortKey::DeletionTime) {
        take(order + m_deletionStart, order + c.rows);
    } else if (sort == SortKey::Suffix) {
        // The order holds each suffix in one run: runs of suffixes not asked for are passed over.
        for (std::size_t rank = 0; rank < 4; ++rank)
            if (filters.suffixes & (1u << ((rank + 3) & 3)) &&
                take(order + c.suffixStart[rank], order + c.suffixStart[rank + 1]))
                break;
    } else if (sort == SortKey::Length) {
        const auto lowest = static_cast<std::size_t>(std::clamp(filters.minLength, 0, 256));
        const auto highest =
            static_cast<std::size_t>(filters.maxLength > 0 ? std::min(filters.maxLength, 255) : 255);
        if (lowest <= highest) take(order + c.lengthStart[lowest], order + c.lengthStart[highest + 1]);
    } else if (sort == SortKey::DeletionDateThenLength && m_floorDayRows) {
        const std::vector<std::uint32_t>& day = *m_floorDayRows;
        if (!take(day.data(), day.data() + day.size())) take(order + m_dayEnd, order + c.rows);
    } else {
        take(order, order + c.rows);
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
    const auto add = [&](std::uint32_t id) {
        if (passes(id, filters)) matches.push_back(id);
    };
    if (key.size() == 2) return c.eachListed(c.pairStart, c.pairs, pairGram(key[0], key[1]), add);
    const auto triple = [&](std::size_t i) {
        return pairGram(key[i], key[i + 1]) * kSymbols + symbol(key[i + 2]);
    };
    if (key.size() == 3) return c.eachListed(c.tripleStart, c.triples, triple(0), add);
    // Longer keywords: the rows of their rarest run of three, checked against the whole keyword.
    std::size_t rarest = triple(0);
    for (std::size_t i = 1; i + 2 < key.size(); ++i)
        if (c.listBytes(c.tripleStart, triple(i)) < c.listBytes(c.tripleStart, rarest)) rarest = triple(i);
    c.eachListed(c.tripleStart, c.triples, rarest, [&](std::uint32_t id) {
        if (passes(id, filters) && name(id).find(key) != std::string_view::npos) matches.push_back(id);
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
        page.rows = walk(filters, first, pageSize, [&](std::uint32_t id) {
            return (letter < 0 || m_core->hasLetter(letter, id)) && passes(id, filters);
        });
        return page;
    }
    // A pair of letters: counted the same way; the page walked for when the walk is much shorter
    // than the pair's list (a step of the walk reads a name, several times the cost of a list
    // entry), and the list read whole otherwise.
    if (key.size() == 2 && filters.position == KeyPosition::Anywhere && countable(filters, kLetterLengths)) {
        page.total = counted(filters);
        if (filters.page >= lastPage()) return page;
        const double steps = static_cast<double>(first + pageSize) * static_cast<double>(m_size) /
                             static_cast<double>(page.total);
        if (steps * 8 < static_cast<double>(m_core->listBytes(m_core->pairStart, pairGram(key[0], key[1])))) {
            page.rows = walk(filters, first, pageSize, [&](std::uint32_t id) {
                return passes(id, filters) && name(id).find(key) != std::string_view::npos;
            });
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
    if (matches.size() * 16 >= c.rows) {
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
    std::partial_sort(keyed.begin(), keyed.begin() + end, keyed.end());
    std::vector<std::uint32_t> out;
    const std::uint32_t* byName = c.order(ByName);
    for (auto i = first; i < end; ++i)
        out.push_back(byName[static_cast<std::uint32_t>(keyed[static_cast<std::size_t>(i)])]);
    return out;
}

} // namespace yuming::service
