#include "search/paging.h"

#include "protocol/search_query.h"
#include "text/concat.h"

#include <cmath>

namespace yuming {
namespace {

bool isDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}
bool isBlank(QChar c) {
    return c == u' ' || c == u'\t';
}

// Length of the number at the start of `text`: [sign] digits [. digits] [e [sign] digits],
// with at least one digit before the exponent; 0 when there is none.
qsizetype numberLength(QStringView text) {
    qsizetype i = 0;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) ++i;
    qsizetype digits = 0;
    while (i < text.size() && isDigit(text[i]))
        ++i, ++digits;
    if (i < text.size() && text[i] == u'.') {
        ++i;
        while (i < text.size() && isDigit(text[i]))
            ++i, ++digits;
    }
    if (digits == 0) return 0;
    if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
        qsizetype j = i + 1;
        if (j < text.size() && (text[j] == u'+' || text[j] == u'-')) ++j;
        const qsizetype expStart = j;
        while (j < text.size() && isDigit(text[j]))
            ++j;
        if (j > expStart) i = j;
    }
    return i;
}

QStringView skipBlanks(QStringView text) {
    qsizetype i = 0;
    while (i < text.size() && isBlank(text[i]))
        ++i;
    return text.mid(i);
}

double toDouble(QStringView number) {
    bool ok = false;
    const double value = number.toString().toDouble(&ok);
    return ok && std::isfinite(value) ? value : 0.0;
}

} // namespace

double textValue(QStringView text) {
    const QStringView rest = skipBlanks(text);
    const qsizetype n = numberLength(rest);
    return n == 0 ? 0.0 : toDouble(rest.first(n));
}

std::optional<double> wholeNumber(QStringView text) {
    const QStringView rest = skipBlanks(text);
    const qsizetype n = numberLength(rest);
    if (n == 0) return std::nullopt;
    for (QChar c : rest.mid(n))
        if (!isBlank(c)) return std::nullopt;
    bool ok = false;
    const double value = rest.first(n).toString().toDouble(&ok);
    if (!ok || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::int64_t pageCountValue(QStringView text) {
    const double value = std::ceil(textValue(text));
    if (!(value > 0)) return 0;
    return value >= double(kMaxPage) ? kMaxPage : static_cast<std::int64_t>(value);
}

PageMove previousPage(std::int64_t page) {
    if (page <= 0) return {std::nullopt, refusal::kFirstPage};
    return {page - 1, {}};
}

PageMove nextPage(std::int64_t page, std::int64_t pageCount) {
    if (page + 1 >= pageCount) return {std::nullopt, refusal::kLastPage};
    return {page + 1, {}};
}

PageMove jumpPage(QStringView pageBox, std::int64_t pageCount) {
    const auto wanted = wholeNumber(pageBox);
    if (!wanted || *wanted < 1 || *wanted > double(pageCount))
        return {std::nullopt, refusal::kPageOutOfRange};
    // std::nearbyint rounds halves to the even neighbour in the default rounding mode.
    return {static_cast<std::int64_t>(std::nearbyint(*wanted)) - 1, {}};
}

QString pageCaption(QStringView pageCountText, std::int64_t page) {
    return concat(u"总共：", pageCountText, u" 页，当前 ", QString::number(page + 1), u" 页");
}

} // namespace yuming
