#include "search/paging.h"

#include "text/concat.h"

#include <cmath>

namespace yuming {
namespace {

bool isDigit(QChar c) { return c >= u'0' && c <= u'9'; }
bool isBlank(QChar c) { return c == u' ' || c == u'\t'; }

// Length of the number at the start of `text`: [sign] digits [. digits] [e [sign] digits],
// with at least one digit before the exponent; 0 when there is none.
qsizetype numberLength(QStringView text) {
    qsizetype i = 0;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) ++i;
    qsizetype digits = 0;
    while (i < text.size() && isDigit(text[i])) ++i, ++digits;
    if (i < text.size() && text[i] == u'.') {
        ++i;
        while (i < text.size() && isDigit(text[i])) ++i, ++digits;
    }
    if (digits == 0) return 0;
    if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
        qsizetype j = i + 1;
        if (j < text.size() && (text[j] == u'+' || text[j] == u'-')) ++j;
        const qsizetype expStart = j;
        while (j < text.size() && isDigit(text[j])) ++j;
        if (j > expStart) i = j;
    }
    return i;
}

QStringView skipBlanks(QStringView text) {
    qsizetype i = 0;
    while (i < text.size() && isBlank(text[i])) ++i;
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

QString pageNumberText(double value) { return QString::number(value, 'f', 0); }

PageMove previousPageNo(QStringView PageNo) {
    const double page = textValue(PageNo);
    if (!(page > 0)) return {std::nullopt, refusal::kFirstPage};
    return {pageNumberText(page - 1), {}};
}

PageMove nextPageNo(QStringView PageNo, QStringView PageCount) {
    const double page = textValue(PageNo);
    if (!(page + 1 < textValue(PageCount))) return {std::nullopt, refusal::kLastPage};
    return {pageNumberText(page + 1), {}};
}

PageMove jumpPageNo(QStringView Text5, QStringView PageCount) {
    const auto wanted = wholeNumber(Text5);
    if (!wanted || *wanted < 1 || *wanted > textValue(PageCount)) return {std::nullopt, refusal::kPageOutOfRange};
    // std::nearbyint rounds halves to the even neighbour in the default rounding mode.
    return {pageNumberText(std::nearbyint(*wanted) - 1), {}};
}

QString pageCaption(QStringView pageCount, QStringView pageNo) {
    return concat(u"总共：", pageCount, u" 页，当前 ", pageNumberText(textValue(pageNo) + 1), u" 页");
}

} // namespace yuming
