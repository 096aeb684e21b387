#include "text/percent.h"

#include "text/gbk.h"

namespace yuming {
namespace {

bool mustEscape(char16_t c) {
    if (c < 0x21 || c == 0x7F) return true;
    switch (c) {
    case '"': case '#': case '%': case '<': case '>': case '\\': case '^': case '`':
    case '{': case '|': case '}': case '&': case '=': case '+':
        return true;
    default:
        return false;
    }
}

void appendEscaped(QString& out, unsigned char byte) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    out.append(QLatin1Char('%'));
    out.append(QLatin1Char(kHex[byte >> 4]));
    out.append(QLatin1Char(kHex[byte & 0xF]));
}

} // namespace

QString escapeTargetValue(QStringView value) {
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const char16_t c = value[i].unicode();
        if (c < 0x80) {
            if (mustEscape(c))
                appendEscaped(out, static_cast<unsigned char>(c));
            else
                out.append(QChar(c));
            continue;
        }
        if (!gbkBytesOf(c).isEmpty()) {
            out.append(QChar(c));
            continue;
        }
        appendEscaped(out, '?');
        if (QChar::isHighSurrogate(c) && i + 1 < value.size() && value[i + 1].isLowSurrogate()) ++i;
    }
    return out;
}

} // namespace yuming
