#include "text/find.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace yuming {
namespace {

bool sameAt(const char16_t* at, const char16_t* needle, qsizetype n) {
    return std::memcmp(at, needle, static_cast<size_t>(n) * sizeof(char16_t)) == 0;
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
    const char16_t first = w[0];
    const char16_t last = w[n - 1];
    const qsizetype lastStart = size - n; // the last position a match can start at
    qsizetype i = from;
#if defined(__SSE2__)
    const __m128i vFirst = _mm_set1_epi16(static_cast<short>(first));
    const __m128i vLast = _mm_set1_epi16(static_cast<short>(last));
    for (; i + 8 <= lastStart + 1; i += 8) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + i + n - 1));
        unsigned mask = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi16(a, vFirst), _mm_cmpeq_epi16(b, vLast))));
        while (mask != 0) {
            const int bit = __builtin_ctz(mask);
            const qsizetype at = i + bit / 2;
            if (sameAt(h + at, w, n)) return at;
            mask &= ~(3u << bit);
        }
    }
#endif
    for (; i <= lastStart; ++i)
        if (h[i] == first && h[i + n - 1] == last && sameAt(h + i, w, n)) return i;
    return -1;
}

} // namespace yuming
