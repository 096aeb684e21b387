#include "catalog/catalog_builder.h"

#include "catalog/catalog_format.h"
#include "protocol/moment.h"

#include <algorithm>
#include <cstring>
#include <malloc.h>
#include <numeric>
#include <optional>
#include <utility>

namespace yuming::service {

using namespace catalog_format;

namespace {

CharKind kindOf(std::string_view name) {
    const bool letters = std::all_of(name.begin(), name.end(), [](char c) { return c >= 'a' && c <= 'z'; });
    if (letters && !name.empty()) return CharKind::Letters;
    const bool digits = std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (digits && !name.empty()) return CharKind::Digits;
    return CharKind::Any;
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

// Deletion times come as "yyyy-MM-dd HH:mm:ss", millions of them distinct; packed (see
// Moment::pack) they sort as their texts do and need no text of their own until the image is
// written. Any other text is numbered apart, with the top bit set.
constexpr std::uint64_t kOtherTime = std::uint64_t{1} << 63;
// A packed time divided by this is its day.
constexpr std::uint64_t kTimeOfDay = 1'000'000;

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

} // namespace

void CatalogBuilder::add(std::string_view name, Suffix suffix, std::string_view deletion) {
    name = name.substr(0, 255);
    m_names.append(name);
    m_offsets.push_back(static_cast<std::uint32_t>(m_names.size()));
    m_info.push_back(
        static_cast<std::uint8_t>(suffixIndex(suffix) | static_cast<unsigned>(kindOf(name)) << 2));
    m_length.push_back(static_cast<std::uint8_t>(name.size()));
    if (const auto packed = Moment::pack(deletion)) return m_deletion.push_back(*packed);
    const auto [found, added] =
        m_otherTimeIds.try_emplace(std::string(deletion), kOtherTime | m_otherTimes.size());
    if (added) m_otherTimes.emplace_back(deletion);
    m_deletion.push_back(found->second);
}

// The steps of laying out the image, each writing its parts.
struct CatalogBuilder::Writer {
    explicit Writer(const CatalogBuilder& names) : b(names), rows(names.m_length.size()) {}

    CatalogImage write() {
        sortTimes();
        sizeKeywordLists();
        layout = layoutFor(rows, times.size(), b.m_names.size(), deletionBytes, pairLists.bytes(),
                           tripleLists.bytes());
        image = CatalogImage(layout.total);
        writeHeader();
        writeRows();
        writeDeletionTexts();
        writeNameOrders();
        writeOtherOrders();
        writeKeywordIndex();
        return std::move(image);
    }

private:
    std::string_view nameOf(std::uint32_t id) const {
        return std::string_view(b.m_names).substr(b.m_offsets[id], b.m_offsets[id + 1] - b.m_offsets[id]);
    }
    std::string textOf(std::uint64_t time) const {
        if (time & kOtherTime) return b.m_otherTimes[time & ~kOtherTime];
        std::string text(Moment::kTextSize, ' ');
        Moment::unpack(time, text.data());
        return text;
    }
    std::uint32_t* order(Order o) { return at<std::uint32_t>(image, layout.orders) + o * rows; }

    // The distinct deletion times in time order, and each row's place among them.
    void sortTimes() {
        std::vector<std::pair<std::uint64_t, std::uint32_t>> byTime(rows);
        for (std::uint32_t id = 0; id < rows; ++id)
            byTime[id] = {b.m_deletion[id], id};
        if (b.m_otherTimes.empty()) {
            sortByFirst(byTime);
        } else {
            const auto earlier = [&](std::uint64_t x, std::uint64_t y) {
                return (x | y) & kOtherTime ? textOf(x) < textOf(y) : x < y;
            };
            std::sort(byTime.begin(), byTime.end(),
                      [&](const auto& x, const auto& y) { return earlier(x.first, y.first); });
        }
        timeOf.resize(rows);
        for (const auto& [time, id] : byTime) {
            if (times.empty() || times.back() != time) times.push_back(time);
            timeOf[id] = static_cast<std::uint32_t>(times.size() - 1);
        }
        for (const std::uint64_t time : times)
            deletionBytes +=
                time & kOtherTime ? b.m_otherTimes[time & ~kOtherTime].size() : Moment::kTextSize;
    }

    // The keyword index's lists of rows for each pair and each run of three letters, sized.
    void sizeKeywordLists() {
        for (std::uint32_t id = 0; id < rows; ++id) {
            gramsOf(nameOf(id), grams);
            pairLists.count(grams.pairs, id);
            tripleLists.count(grams.triples, id);
        }
    }

    void writeHeader() {
        Header header{};
        std::memcpy(header.magic, kMagic, sizeof kMagic);
        header.byteOrder = kByteOrderMark;
        header.version = kVersion;
        header.rows = static_cast<std::uint32_t>(rows);
        header.deletions = static_cast<std::uint32_t>(times.size());
        header.nameBytes = b.m_names.size();
        header.deletionBytes = deletionBytes;
        header.pairBytes = pairLists.bytes();
        header.tripleBytes = tripleLists.bytes();
        std::memcpy(image.data(), &header, sizeof header);
    }

    void writeRows() {
        std::memcpy(image.data() + layout.names, b.m_names.data(), b.m_names.size());
        std::memcpy(image.data() + layout.offsets, b.m_offsets.data(), b.m_offsets.size() * 4);
        auto* entries = at<Entry>(image, layout.entries);
        for (std::size_t id = 0; id < rows; ++id)
            entries[id] = {timeOf[id], b.m_info[id], b.m_length[id], 0};
    }

    void writeDeletionTexts() {
        auto* offsets = at<std::uint32_t>(image, layout.deletionOffsets);
        char* text = image.data() + layout.deletionTexts;
        std::uint32_t used = 0;
        for (std::size_t i = 0; i < times.size(); ++i) {
            offsets[i] = used;
            if (times[i] & kOtherTime) {
                const std::string& other = b.m_otherTimes[times[i] & ~kOtherTime];
                std::memcpy(text + used, other.data(), other.size());
                used += static_cast<std::uint32_t>(other.size());
            } else {
                Moment::unpack(times[i], text + used);
                used += static_cast<std::uint32_t>(Moment::kTextSize);
            }
        }
        offsets[times.size()] = used;
    }

    // The two name orders: sorted by their first eight bytes, then each run of names that share
    // them by the whole name.
    void writeNameOrders() {
        std::vector<std::pair<std::uint64_t, std::uint32_t>> keys(rows);
        for (const bool backwards : {false, true}) {
            for (std::uint32_t id = 0; id < rows; ++id)
                keys[id] = {leadingBytes(nameOf(id), backwards), id};
            sortByFirst(keys);
            const auto byRest = [&](const auto& x, const auto& y) {
                const std::string_view p = nameOf(x.second), q = nameOf(y.second);
                if (backwards) {
                    const int c = compareBackwards(p, q, SIZE_MAX);
                    return c != 0 ? c < 0 : x.second < y.second;
                }
                if (p != q) return p < q;
                return suffixRank(b.m_info[x.second] & 3) < suffixRank(b.m_info[y.second] & 3);
            };
            for (auto run = keys.begin(); run != keys.end();) {
                const auto end =
                    std::find_if(run, keys.end(), [&](const auto& key) { return key.first != run->first; });
                if (end - run > 1) std::sort(run, end, byRest);
                run = end;
            }
            std::uint32_t* out = order(backwards ? ByReversed : ByName);
            for (std::size_t i = 0; i < rows; ++i)
                out[i] = keys[i].second;
        }
    }

    // Every other order is the name order sorted stably by its leading keys.
    void writeOtherOrders() {
        const auto sameDay = [&](std::uint64_t x, std::uint64_t y) {
            return (x | y) & kOtherTime ? textOf(x).substr(0, 10) == textOf(y).substr(0, 10)
                                        : x / kTimeOfDay == y / kTimeOfDay;
        };
        std::vector<std::uint32_t> dayOf(times.size());
        for (std::size_t i = 1; i < times.size(); ++i)
            dayOf[i] = dayOf[i - 1] + !sameDay(times[i], times[i - 1]);
        sortByKey(order(ByName), order(ByDeletion), rows, times.size(),
                  [&](std::uint32_t id) { return timeOf[id]; });
        sortByKey(order(ByName), order(BySuffix), rows, 4,
                  [&](std::uint32_t id) { return suffixRank(b.m_info[id] & 3); });
        sortByKey(order(ByName), order(ByLength), rows, 256,
                  [&](std::uint32_t id) { return b.m_length[id]; });
        sortByKey(order(ByLength), order(ByDayThenLength), rows, times.size(),
                  [&](std::uint32_t id) { return dayOf[timeOf[id]]; });
    }

    // Letters: a bit per row, and counts by suffix, structure and length; pairs and triples in
    // their lists.
    void writeKeywordIndex() {
        auto* letterBits = at<std::uint64_t>(image, layout.letters);
        auto* letterTally = at<LetterTally>(image, layout.letterTally);
        auto* tally = at<Tally>(image, layout.tally);
        pairLists.place(at<std::uint64_t>(image, layout.pairStart), at<std::uint8_t>(image, layout.pairs));
        tripleLists.place(at<std::uint64_t>(image, layout.tripleStart),
                          at<std::uint8_t>(image, layout.triples));
        for (std::uint32_t id = 0; id < rows; ++id) {
            const unsigned suffix = b.m_info[id] & 3, kind = b.m_info[id] >> 2 & 3;
            ++(*tally)[suffix][kind][b.m_length[id]];
            gramsOf(nameOf(id), grams);
            const unsigned length = std::min<unsigned>(b.m_length[id], kLetterLengths - 1);
            for (std::uint32_t g : grams.letters) {
                letterBits[g * layout.words + id / 64] |= std::uint64_t{1} << (id % 64);
                ++(*letterTally)[g][suffix][kind][length];
            }
            for (std::uint32_t g : grams.pairs)
                ++(*letterTally)[kSymbols + g][suffix][kind][length];
            pairLists.write(grams.pairs, id);
            tripleLists.write(grams.triples, id);
        }
    }

    const CatalogBuilder& b;
    const std::size_t rows;
    std::vector<std::uint64_t> times;
    std::vector<std::uint32_t> timeOf;
    std::uint64_t deletionBytes = 0;
    Grams grams;
    GramLists pairLists{kPairs};
    GramLists tripleLists{kTriples};
    Layout layout{};
    CatalogImage image;
};

CatalogImage CatalogBuilder::finish() {
    CatalogImage image = Writer(*this).write();
    *this = CatalogBuilder();
    // The builder's arrays were the largest allocations the service makes; freed, they stay with
    // the allocator (and in the process's resident size) unless handed back.
    ::malloc_trim(0);
    return image;
}

} // namespace yuming::service
