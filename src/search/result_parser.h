#pragma once

#include <QList>
#include <QString>
#include <QStringView>

#include <optional>

namespace yuming {

struct ResultRow {
    QString domain, length, suffix, deletionTime;
    bool operator==(const ResultRow&) const = default;
};

// A search page cut into its page count and rows. Parsing stops at the first missing marker;
// what was cut before that point is kept, as the window shows it.
struct ResultPage {
    enum class Outcome {
        Ok,
        NoPageCount,   // no page count marker, or nothing after it: nothing was cut
        NoTable,       // page count found, but no result table after it
        MalformedRow,  // rows holds the rows before the first malformed one
    };
    Outcome outcome = Outcome::Ok;
    std::optional<QString> pageCount;
    QList<ResultRow> rows;
    bool ok() const { return outcome == Outcome::Ok; }
};

ResultPage parseResultPage(QStringView recvText);

// Label17: "总共：" + page count + " 页，当前 " + (PageNo + 1) + " 页".
QString pageCaption(QStringView pageCount, QStringView pageNo);

} // namespace yuming
