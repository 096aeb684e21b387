#include "text/gbk.h"

#include <array>
#include <memory>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "gbk_table.inc"

namespace yuming {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool isLead(unsigned char b) { return b >= 0x81 && b <= 0xFE; }

char16_t decodePair(unsigned char lead, unsigned char trail) {
    if (trail < 0x40 || trail > 0xFE) return 0;
    return kGbkDouble[lead - 0x81][trail - 0x40];
}

// Unicode -> GBK, built once from the decoding table: two bytes packed as lead << 8 | trail,
// or the single byte, or 0 for "no GBK form".
const std::array<quint16, 0x10000>& encodeTable() {
    static const auto table = [] {
        auto t = std::make_unique<std::array<quint16, 0x10000>>();
        t->fill(0);
        for (unsigned c = 0; c < 0x80; ++c) (*t)[c] = static_cast<quint16>(c);
        (*t)[kGbkSingle80] = 0x80;
        for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
            for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
                const char16_t u = kGbkDouble[lead - 0x81][trail - 0x40];
                // Keep the first pair for a character that has several.
                if (u != 0 && (*t)[u] == 0) (*t)[u] = static_cast<quint16>(lead << 8 | trail);
            }
        }
        return t;
    }();
    return *table;
}

} // namespace

void GbkDecoder::decode(QByteArrayView bytes, QString& out) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = p + bytes.size();
    if (p == end) return;
    const qsizetype start = out.size();
    out.resize(start + bytes.size() + 1); // never more characters than bytes (+ a carried lead)
    char16_t* dst = reinterpret_cast<char16_t*>(out.data()) + start;
    char16_t* const first = dst;

    if (m_pending != 0) {
        const char16_t u = decodePair(m_pending, *p);
        *dst++ = u != 0 ? u : kReplacement;
        if (u != 0 || *p >= 0x80) ++p;
        m_pending = 0;
    }
    while (p != end) {
#if defined(__SSE2__)
        // Pages are mostly ASCII markup: widen sixteen such bytes at a time.
        while (end - p >= 16) {
            const __m128i bytes16 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            if (_mm_movemask_epi8(bytes16) != 0) break;
            const __m128i zero = _mm_setzero_si128();
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_unpacklo_epi8(bytes16, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 8), _mm_unpackhi_epi8(bytes16, zero));
            p += 16;
            dst += 16;
        }
        if (p == end) break;
#endif
        const unsigned char b = *p;
        if (b < 0x80) {
            *dst++ = b;
            ++p;
            continue;
        }
        if (b == 0x80) {
            *dst++ = kGbkSingle80;
            ++p;
            continue;
        }
        if (!isLead(b)) {
            *dst++ = kReplacement;
            ++p;
            continue;
        }
        if (p + 1 == end) {
            m_pending = b;
            ++p;
            break;
        }
        const char16_t u = decodePair(b, p[1]);
        *dst++ = u != 0 ? u : kReplacement;
        // An invalid pair with an ASCII second byte costs only its lead byte, so markup such
        // as '<' right after a stray lead byte survives.
        p += (u != 0 || p[1] >= 0x80) ? 2 : 1;
    }
    out.resize(start + (dst - first));
}

QString GbkDecoder::decode(QByteArrayView bytes) {
    QString out;
    decode(bytes, out);
    return out;
}

void GbkDecoder::flush(QString& out) {
    if (m_pending == 0) return;
    out.append(QChar(kReplacement));
    m_pending = 0;
}

QString fromGbk(QByteArrayView bytes) {
    GbkDecoder decoder;
    QString out;
    decoder.decode(bytes, out);
    decoder.flush(out);
    return out;
}

QByteArray gbkBytesOf(char16_t ch) {
    const quint16 code = encodeTable()[ch];
    if (ch == 0) return QByteArray(1, '\0');
    if (code == 0) return {};
    if (code < 0x100) return QByteArray(1, static_cast<char>(code));
    const char pair[2] = {static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)};
    return QByteArray(pair, 2);
}

QByteArray toGbk(QStringView text, char unmappable) {
    const auto& table = encodeTable();
    QByteArray out;
    out.reserve(text.size() * 2);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t ch = text[i].unicode();
        if (ch < 0x80) {
            out.append(static_cast<char>(ch));
            continue;
        }
        const quint16 code = table[ch];
        if (code == 0) {
            out.append(unmappable);
            if (QChar::isHighSurrogate(ch) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) ++i;
        } else if (code < 0x100) {
            out.append(static_cast<char>(code));
        } else {
            out.append(static_cast<char>(code >> 8));
            out.append(static_cast<char>(code & 0xFF));
        }
    }
    return out;
}

std::string toGbkString(QStringView text) {
    const QByteArray bytes = toGbk(text);
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

} // namespace yuming
