#include "text/find.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace yuming {
namespace {

// Markers are short: a plain loop beats a call to memcmp.
bool sameAt(const char16_t* at, const char16_t* needle, qsizetype n) {
    for (qsizetype k = 0; k < n; ++k)
        if (at[k] != needle[k]) return false;
    return true;
}

} // namespace

qsizetype findText(QStringView haystack, QStringView needle, qsizetype from) {
    const qsizetype n = needle.size();
    const qsizetype size = haystack.size();
    if (from < 0) from = 0;
    if (n == 0) return from <= size ? from : -1;
    if (n > size - from) return -1;
    const auto* h = reinterpret_cast<const char16_t*>(haystack.utf16());
    const auto* w = reinterpret_cast<const char16_t*>(needle.utf16());
    // Four probes: the first two and the last two characters. For markup such as "<tr>" against
    // "<td>", or "</td><td>" against other tags, the two inner probes weed out nearly every
    // near-miss before a full comparison.
    const qsizetype p1 = n > 1 ? 1 : 0;
    const qsizetype p2 = n > 2 ? n - 2 : p1;
    const qsizetype p3 = n - 1;
    const qsizetype lastStart = size - n; // the last position a match can start at
    qsizetype i = from;
#if defined(__SSE2__)
    const __m128i v0 = _mm_set1_epi16(static_cast<short>(w[0]));
    const __m128i v1 = _mm_set1_epi16(static_cast<short>(w[p1]));
    const __m128i v2 = _mm_set1_epi16(static_cast<short>(w[p2]));
    const __m128i v3 = _mm_set1_epi16(static_cast<short>(w[p3]));
    auto load = [h](qsizetype at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + at)); };
    for (; i + 8 <= lastStart + 1; i += 8) {
        const __m128i m = _mm_and_si128(_mm_and_si128(_mm_cmpeq_epi16(load(i), v0), _mm_cmpeq_epi16(load(i + p1), v1)),
                                        _mm_and_si128(_mm_cmpeq_epi16(load(i + p2), v2), _mm_cmpeq_epi16(load(i + p3), v3)));
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(m));
        while (mask != 0) {
            const int bit = __builtin_ctz(mask);
            const qsizetype at = i + bit / 2;
            if (sameAt(h + at, w, n)) return at;
            mask &= ~(3u << bit);
        }
    }
#endif
    for (; i <= lastStart; ++i)
        if (h[i] == w[0] && h[i + p3] == w[p3] && sameAt(h + i, w, n)) return i;
    return -1;
}

} // namespace yuming
