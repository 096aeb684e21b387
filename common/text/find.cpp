#include "text/find.h"

#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define YUMING_FIND_AVX2 1
#endif

namespace yuming {
namespace {

// Equal runs of `count` characters. Markers are short: four characters at a time, the last four
// overlapping the ones before, beat a call to memcmp.
inline bool sameChars(const char16_t* a, const char16_t* b, qsizetype count) {
    auto word = [](const char16_t* at) {
        std::uint64_t w;
        std::memcpy(&w, at, sizeof w);
        return w;
    };
    if (count < 4) {
        for (qsizetype k = 0; k < count; ++k)
            if (a[k] != b[k]) return false;
        return true;
    }
    for (qsizetype k = 0; k + 4 < count; k += 4)
        if (word(a + k) != word(b + k)) return false;
    return word(a + count - 4) == word(b + count - 4);
}

// The wide loops test four probes of the needle at every position: the first two and the last
// two characters. For markup such as "<tr>" against "<td>", or "</td><td>" against other tags,
// the inner probes weed out nearly every near-miss; a candidate then compares only the
// characters between them.
struct Needle {
    const char16_t* w;
    qsizetype n, p1, p2, p3;
    explicit Needle(QStringView needle)
        : w(reinterpret_cast<const char16_t*>(needle.utf16())), n(needle.size()), p1(n > 1 ? 1 : 0),
          p2(n > 2 ? n - 2 : p1), p3(n - 1) {}
    bool middleAt(const char16_t* at) const { return n <= 4 || sameChars(at + 2, w + 2, n - 4); }
};

// Tests positions i .. lastStart one by one.
qsizetype findScalar(const char16_t* h, const Needle& s, qsizetype i, qsizetype lastStart) {
    for (; i <= lastStart; ++i)
        if (h[i] == s.w[0] && h[i + s.p3] == s.w[s.p3] && sameChars(h + i + 1, s.w + 1, s.n > 2 ? s.n - 2 : 0))
            return i;
    return -1;
}

// Turns a comparison mask (two bits a character) into the first full match, or -1.
inline qsizetype firstMatch(unsigned mask, const char16_t* h, const Needle& s, qsizetype i) {
    while (mask != 0) {
        const int bit = __builtin_ctz(mask);
        const qsizetype at = i + bit / 2;
        if (s.middleAt(h + at)) return at;
        mask &= ~(3u << bit);
    }
    return -1;
}

#if defined(__SSE2__)
// Eight positions a step while `stop` allows; returns the match, or -1 with `i` where it stopped.
qsizetype findSse2(const char16_t* h, const Needle& s, qsizetype& i, qsizetype stop) {
    const __m128i v0 = _mm_set1_epi16(static_cast<short>(s.w[0]));
    const __m128i v1 = _mm_set1_epi16(static_cast<short>(s.w[s.p1]));
    const __m128i v2 = _mm_set1_epi16(static_cast<short>(s.w[s.p2]));
    const __m128i v3 = _mm_set1_epi16(static_cast<short>(s.w[s.p3]));
    auto load = [h](qsizetype at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + at)); };
    for (; i + 8 <= stop; i += 8) {
        const __m128i m = _mm_and_si128(_mm_and_si128(_mm_cmpeq_epi16(load(i), v0), _mm_cmpeq_epi16(load(i + s.p1), v1)),
                                        _mm_and_si128(_mm_cmpeq_epi16(load(i + s.p2), v2), _mm_cmpeq_epi16(load(i + s.p3), v3)));
        const qsizetype at = firstMatch(static_cast<unsigned>(_mm_movemask_epi8(m)), h, s, i);
        if (at >= 0) return at;
    }
    return -1;
}
#endif

#if defined(YUMING_FIND_AVX2)
// Sixteen positions a step, on processors that have AVX2; otherwise as findSse2.
#define YUMING_LOAD256(at) _mm256_loadu_si256(reinterpret_cast<const __m256i*>(h + (at)))
__attribute__((target("avx2"))) qsizetype findAvx2(const char16_t* h, const Needle& s, qsizetype& i, qsizetype stop) {
    const __m256i v0 = _mm256_set1_epi16(static_cast<short>(s.w[0]));
    const __m256i v1 = _mm256_set1_epi16(static_cast<short>(s.w[s.p1]));
    const __m256i v2 = _mm256_set1_epi16(static_cast<short>(s.w[s.p2]));
    const __m256i v3 = _mm256_set1_epi16(static_cast<short>(s.w[s.p3]));
    for (; i + 16 <= stop; i += 16) {
        const __m256i m =
            _mm256_and_si256(_mm256_and_si256(_mm256_cmpeq_epi16(YUMING_LOAD256(i), v0),
                                              _mm256_cmpeq_epi16(YUMING_LOAD256(i + s.p1), v1)),
                             _mm256_and_si256(_mm256_cmpeq_epi16(YUMING_LOAD256(i + s.p2), v2),
                                              _mm256_cmpeq_epi16(YUMING_LOAD256(i + s.p3), v3)));
        const qsizetype at = firstMatch(static_cast<unsigned>(_mm256_movemask_epi8(m)), h, s, i);
        if (at >= 0) return at;
    }
    return -1;
}
#undef YUMING_LOAD256

// Read once, at start-up; the processor's feature table is filled first, whatever the order in
// which start-up code runs.
const bool kHaveAvx2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
}();
#endif

} // namespace

qsizetype findText(QStringView haystack, QStringView needle, qsizetype from) {
    const qsizetype size = haystack.size();
    if (from < 0) from = 0;
    if (needle.isEmpty()) return from <= size ? from : -1;
    if (needle.size() > size - from) return -1;
    const auto* h = reinterpret_cast<const char16_t*>(haystack.utf16());
    const Needle s(needle);
    const qsizetype lastStart = size - s.n; // the last position a match can start at
    qsizetype i = from;
#if defined(YUMING_FIND_AVX2)
    // Long searches go sixteen positions a step.
    if (kHaveAvx2 && lastStart - i >= 64) {
        const qsizetype at = findAvx2(h, s, i, lastStart + 1);
        if (at >= 0) return at;
    }
#endif
#if defined(__SSE2__)
    const qsizetype at = findSse2(h, s, i, lastStart + 1);
    if (at >= 0) return at;
#endif
    return findScalar(h, s, i, lastStart);
}

TagIndex::TagIndex(QStringView text)
    : m_text(text), m_open(static_cast<std::size_t>(text.size() / 64 + 2)), m_close(m_open.size()) {
    const auto* t = reinterpret_cast<const char16_t*>(text.utf16());
    const qsizetype size = text.size();
    auto set = [](std::vector<std::uint64_t>& bits, qsizetype at, std::uint64_t mask) {
        bits[static_cast<std::size_t>(at / 64)] |= mask << (at % 64);
    };
    qsizetype i = 0;
#if defined(__SSE2__)
    // Sixteen characters a step: two comparisons packed into one byte mask for each bitmap.
    const __m128i open = _mm_set1_epi16(u'<'), close = _mm_set1_epi16(u'>');
    auto load = [t](qsizetype at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + at)); };
    auto mask = [](__m128i lo, __m128i hi, __m128i c) {
        return static_cast<std::uint64_t>(static_cast<unsigned>(
            _mm_movemask_epi8(_mm_packs_epi16(_mm_cmpeq_epi16(lo, c), _mm_cmpeq_epi16(hi, c)))));
    };
    for (; i + 16 <= size; i += 16) {
        const __m128i lo = load(i), hi = load(i + 8);
        set(m_open, i, mask(lo, hi, open));
        set(m_close, i, mask(lo, hi, close));
    }
#endif
    for (; i < size; ++i) {
        if (t[i] == u'<') set(m_open, i, 1);
        if (t[i] == u'>') set(m_close, i, 1);
    }
}

qsizetype TagIndex::find(QStringView view, QStringView needle, qsizetype from) const {
    const auto* t = reinterpret_cast<const char16_t*>(m_text.utf16());
    const auto* v = reinterpret_cast<const char16_t*>(view.utf16());
    const qsizetype n = needle.size();
    const bool inside = v != nullptr && v >= t && v + view.size() <= t + m_text.size();
    if (n == 0 || needle[0] != u'<' || !inside) return findText(view, needle, from);
    if (from < 0) from = 0;
    if (n > view.size() - from) return -1;
    const auto* w = reinterpret_cast<const char16_t*>(needle.utf16());
    const qsizetype base = v - t;
    const qsizetype last = base + view.size() - n; // the last position a match can start at
    const qsizetype first = base + from;
    // The '>' a candidate needs, as a distance after its '<' (0: none needed).
    const qsizetype shift = n > 1 && n <= 64 && w[n - 1] == u'>' ? n - 1 : 0;
    auto candidates = [&](std::size_t word) {
        std::uint64_t bits = m_open[word];
        if (shift != 0) bits &= m_close[word] >> shift | m_close[word + 1] << (64 - shift);
        return bits;
    };
    auto word = static_cast<std::size_t>(first / 64);
    std::uint64_t bits = candidates(word) & (~std::uint64_t{0} << (first % 64));
    for (;;) {
        while (bits == 0) {
            if (static_cast<qsizetype>(++word) * 64 > last) return -1;
            bits = candidates(word);
        }
        const qsizetype at = static_cast<qsizetype>(word) * 64 + std::countr_zero(bits);
        if (at > last) return -1;
        if (sameChars(t + at + 1, w + 1, n - 1)) return at - base;
        bits &= bits - 1;
    }
}

} // namespace yuming
