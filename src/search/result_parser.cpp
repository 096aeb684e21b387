#include "search/result_parser.h"

#include "search/paging.h"
#include "search/result_markers.h"
#include "text/concat.h"
#include "text/find.h"
#include "text/piece.h"

namespace yuming {
namespace {

using namespace markers;

// The four cuts of a row.
std::optional<ResultRow> cutRow(QStringView row) {
    const auto domain = pieceThenCut(row, kLinkEnd, 1, kDomainEnd);
    const auto length = pieceThenCut(row, kFirstCellEnd, 1, kCellEnd);
    if (!domain || !length) return std::nullopt;
    // Pieces 2 and 3 at the cell boundary start after its second and third occurrence.
    const qsizetype n = kCellBoundary.size();
    qsizetype at = -n;
    for (int i = 0; i < 2; ++i) {
        at = findText(row, kCellBoundary, at + n);
        if (at < 0) return std::nullopt;
    }
    const auto suffix = cutPieceAt(row, at + n, kCellBoundary, kCellEnd);
    at = findText(row, kCellBoundary, at + n);
    if (at < 0) return std::nullopt;
    const auto deletion = cutPieceAt(row, at + n, kCellBoundary, kCellEnd);
    if (!suffix || !deletion) return std::nullopt;
    return ResultRow{domain->toString(), length->toString(), suffix->toString(), deletion->toString()};
}

} // namespace

ResultPage parseResultPage(QStringView recvText) {
    ResultPage page;
    const auto count = pieceThenCut(recvText, kPageCountStart, 1, kPageCountEnd);
    if (!count) {
        page.outcome = ResultPage::Outcome::NoPageCount;
        return page;
    }
    page.pageCount = count->toString();

    const auto body = pieceThenCut(recvText, kTableHeader, 1, kTableBodyEnd);
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
