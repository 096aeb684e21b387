#include "search/result_parser.h"

#include "search/paging.h"
#include "search/result_markers.h"
#include "text/concat.h"
#include "text/find.h"
#include "text/piece.h"

namespace yuming {
namespace {

using namespace markers;

// piece(piece(text, first, k), second, 0): the text after the k-th `first` up to the next
// `second`, or nullopt when either piece is missing.
std::optional<QStringView> between(QStringView text, QStringView first, qsizetype k, QStringView second) {
    const auto outer = piece(text, first, k);
    if (!outer) return std::nullopt;
    return piece(*outer, second, 0);
}

// The text before the first "</td>" of a cell piece; an empty piece does not exist.
std::optional<QStringView> cellValue(QStringView cellPiece) {
    if (cellPiece.isEmpty()) return std::nullopt;
    const qsizetype close = findText(cellPiece, kCellEnd);
    return close < 0 ? cellPiece : cellPiece.first(close);
}

// The four cuts of a row. Pieces 2 and 3 of the row at "</td><td>" are found in one pass: the
// texts after the boundary's second and third occurrence, each up to the next one or the end.
std::optional<ResultRow> cutRow(QStringView row) {
    const auto domain = between(row, kLinkEnd, 1, kDomainEnd);
    const auto length = between(row, kFirstCellEnd, 1, kCellEnd);
    if (!domain || !length) return std::nullopt;
    const qsizetype n = kCellBoundary.size();
    qsizetype at[4] = {-1, -1, -1, -1};
    for (qsizetype i = 0, from = 0; i < 4; ++i) {
        at[i] = findText(row, kCellBoundary, from);
        if (at[i] < 0) break;
        from = at[i] + n;
    }
    if (at[2] < 0) return std::nullopt;
    const auto suffix = cellValue(row.sliced(at[1] + n, at[2] - at[1] - n));
    const qsizetype end = at[3] < 0 ? row.size() : at[3];
    const auto deletion = cellValue(row.sliced(at[2] + n, end - at[2] - n));
    if (!suffix || !deletion) return std::nullopt;
    return ResultRow{domain->toString(), length->toString(), suffix->toString(), deletion->toString()};
}

} // namespace

ResultPage parseResultPage(QStringView recvText) {
    ResultPage page;
    const auto count = between(recvText, kPageCountStart, 1, kPageCountEnd);
    if (!count) {
        page.outcome = ResultPage::Outcome::NoPageCount;
        return page;
    }
    page.pageCount = count->toString();

    const auto body = between(recvText, kTableHeader, 1, kTableBodyEnd);
    if (!body) {
        page.outcome = ResultPage::Outcome::NoTable;
        return page;
    }
    // The text before the first "<tr>" is not a row; each "<tr>" starts one.
    qsizetype at = findText(*body, kRowStart);
    while (at >= 0) {
        const qsizetype from = at + kRowStart.size();
        const qsizetype next = findText(*body, kRowStart, from);
        const QStringView row = body->mid(from, (next < 0 ? body->size() : next) - from);
        auto cut = row.isEmpty() ? std::nullopt : cutRow(row);
        if (!cut) {
            page.outcome = ResultPage::Outcome::MalformedRow;
            return page;
        }
        page.rows.append(std::move(*cut));
        at = next;
    }
    return page;
}

QString pageCaption(QStringView pageCount, QStringView pageNo) {
    return concat(u"总共：", pageCount, u" 页，当前 ", pageNumberText(textValue(pageNo) + 1), u" 页");
}

} // namespace yuming
