#include "protocol/search_page.h"

#include "protocol/paths.h"
#include "protocol/search_markers.h"
#include "text/concat.h"
#include "text/find.h"
#include "text/gbk.h"
#include "text/piece.h"

#include <algorithm>
#include <array>
#include <vector>

namespace yuming {
namespace {

using namespace markers;

// The four values of a row, still in the page's text.
using RowCuts = std::array<QStringView, 4>;

// The four cuts of a row.
std::optional<RowCuts> cutRow(QStringView row, const TagIndex& tags) {
    const auto domain = pieceThenCut(row, kLinkEnd, 1, kDomainEnd, tags);
    if (!domain) return std::nullopt;
    // Pieces 2 and 3 at the cell boundary start after its second and third occurrence.
    const qsizetype n = kCellBoundary.size();
    const qsizetype first = tags.find(row, kCellBoundary);
    if (first < 0) return std::nullopt;
    // "</a></td><td>" ends in the cell boundary, so its first occurrence cannot start before
    // the boundary's first occurrence less the four characters of "</a>": the search for it
    // starts there instead of at the row's beginning.
    constexpr qsizetype kLead = kFirstCellEnd.size() - kCellBoundary.size();
    static_assert([] {
        for (qsizetype i = 0; i < kCellBoundary.size(); ++i)
            if (kFirstCellEnd[kLead + i] != kCellBoundary[i]) return false;
        return true;
    }());
    const qsizetype firstCell = tags.find(row, kFirstCellEnd, qMax<qsizetype>(0, first - kLead));
    if (firstCell < 0) return std::nullopt;
    const auto length = cutPieceAt(row, firstCell + kFirstCellEnd.size(), kFirstCellEnd, kCellEnd, tags);
    if (!length) return std::nullopt;
    const qsizetype at = tags.find(row, kCellBoundary, first + n);
    if (at < 0) return std::nullopt;
    const auto suffix = cutPieceAt(row, at + n, kCellBoundary, kCellEnd, tags);
    const qsizetype third = tags.find(row, kCellBoundary, at + n);
    if (third < 0) return std::nullopt;
    const auto deletion = cutPieceAt(row, third + n, kCellBoundary, kCellEnd, tags);
    if (!suffix || !deletion) return std::nullopt;
    return RowCuts{*domain, *length, *suffix, *deletion};
}

// The markers in GBK, converted once: a page is written from them and ASCII values.
struct Written {
    std::string pageCountStart = toGbkString(kPageCountStart);
    std::string pageCountEnd = toGbkString(kPageCountEnd);
    std::string rowsStart = toGbkString(kTableHeader) + "</tr></thead>\n<tbody>";
    std::string rowsEnd = '\n' + toGbkString(kTableBodyEnd) + "</table>";
    std::string rowStart = toGbkString(kRowStart);
    std::string linkEnd = toGbkString(kLinkEnd);
    std::string firstCellEnd = toGbkString(kFirstCellEnd);
    std::string cellBoundary = toGbkString(kCellBoundary);
    std::string cellEnd = toGbkString(kCellEnd);
    std::string pageEnd = toGbkString(kPageEnd);
    std::string lookupPath = toGbkString(paths::kLookup);
    std::string lookupParams = toGbkString(paths::kLookupParams);
    std::string booking = toGbkString(u">预订</a></td></tr>");
};

const Written& written() {
    static const Written instance;
    return instance;
}

// The lookup's address as an attribute value: its ampersands escaped.
std::string lookupHref(std::string_view domain) {
    const Written& w = written();
    std::string href;
    href.reserve(w.lookupPath.size() + domain.size() + w.lookupParams.size() + 32);
    for (std::string_view part : {std::string_view(w.lookupPath), std::string_view("?domain="), domain,
                                  std::string_view(w.lookupParams)})
        for (char c : part) {
            if (c == '&')
                href += "&amp;";
            else
                href += c;
        }
    return href;
}

} // namespace

// Puts the values of rows into one buffer, one after the other, and hands out rows that share it.
class RowBuffer {
public:
    static QList<ResultRow> rows(const std::vector<RowCuts>& cuts) {
        QList<ResultRow> rows;
        if (cuts.empty()) return rows;
        qsizetype total = 0;
        for (const RowCuts& row : cuts)
            for (QStringView value : row)
                total += value.size();
        QString buffer(total, Qt::Uninitialized);
        auto* out = reinterpret_cast<char16_t*>(buffer.data());
        qsizetype at = 0;
        rows.reserve(static_cast<qsizetype>(cuts.size()));
        for (const RowCuts& row : cuts) {
            ResultRow::Offsets offsets;
            for (int i = 0; i < ResultRow::kValues; ++i) {
                offsets[i] = at;
                out = std::copy(row[i].utf16(), row[i].utf16() + row[i].size(), out);
                at += row[i].size();
            }
            offsets[ResultRow::kValues] = at;
            rows.append(ResultRow(buffer, offsets));
        }
        return rows;
    }
};

ResultRow::ResultRow(QStringView domain, QStringView length, QStringView suffix, QStringView deletionTime)
    : ResultRow(RowBuffer::rows({RowCuts{domain, length, suffix, deletionTime}}).first()) {}

ResultPage parseResultPage(QStringView recvText) {
    ResultPage page;
    // Nearly every marker is a tag: they are searched where the page's tags stand.
    const TagIndex tags(recvText);
    const auto count = pieceThenCut(recvText, kPageCountStart, 1, kPageCountEnd, tags);
    if (!count) {
        page.outcome = ResultPage::Outcome::NoPageCount;
        return page;
    }
    page.pageCount = count->toString();

    const auto body = pieceThenCut(recvText, kTableHeader, 1, kTableBodyEnd, tags);
    if (!body) {
        page.outcome = ResultPage::Outcome::NoTable;
        return page;
    }
    // The text before the first "<tr>" is not a row; each "<tr>" starts one. A row takes a
    // few hundred characters, which is enough to reserve for most pages at once.
    std::vector<RowCuts> cuts;
    cuts.reserve(static_cast<size_t>(body->size() / 256));
    qsizetype at = tags.find(*body, kRowStart);
    while (at >= 0) {
        const qsizetype from = at + kRowStart.size();
        const qsizetype next = tags.find(*body, kRowStart, from);
        const QStringView row = body->mid(from, (next < 0 ? body->size() : next) - from);
        auto cut = row.isEmpty() ? std::nullopt : cutRow(row, tags);
        if (!cut) {
            page.outcome = ResultPage::Outcome::MalformedRow;
            break;
        }
        cuts.push_back(*cut);
        at = next;
    }
    page.rows = RowBuffer::rows(cuts);
    return page;
}

void writePageCount(std::string& out, std::int64_t pageCount) {
    out += written().pageCountStart;
    out += std::to_string(pageCount);
    out += written().pageCountEnd;
}

void writeRowsStart(std::string& out) {
    out += written().rowsStart;
}

void writeRow(std::string& out, std::string_view domain, std::size_t length, std::string_view suffix,
              std::string_view deletionTime) {
    const Written& w = written();
    const std::string href = lookupHref(domain);
    out += '\n';
    out += w.rowStart;
    out += "<td><a href=\"";
    out += href;
    out += "\" ";
    out += w.linkEnd;
    out += domain;
    out += w.firstCellEnd;
    out += std::to_string(length);
    out += w.cellBoundary;
    out += suffix;
    out += w.cellBoundary;
    out += deletionTime;
    out += w.cellEnd;
    out += "<td class=\"booking\"><a href=\"";
    out += href;
    out += '"';
    out += w.booking;
}

void writeRowsEnd(std::string& out) {
    out += written().rowsEnd;
}

void writePageEnd(std::string& out) {
    out += written().pageEnd;
}

} // namespace yuming
