#pragma once

#include <QList>
#include <QString>
#include <QStringView>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace yuming {

// One row of a search page: four values. The rows cut from one page share a single buffer
// for all their values (copies share it too; it lives as long as any row that uses it), so
// cutting a page of a thousand rows costs one allocation instead of four thousand.
class ResultRow {
public:
    ResultRow() = default;
    // A row with a buffer of its own.
    ResultRow(QStringView domain, QStringView length, QStringView suffix, QStringView deletionTime);

    QStringView domain() const { return value(0); }
    QStringView length() const { return value(1); }
    QStringView suffix() const { return value(2); }
    QStringView deletionTime() const { return value(3); }

    friend bool operator==(const ResultRow& a, const ResultRow& b) {
        for (int i = 0; i < kValues; ++i)
            if (a.value(i) != b.value(i)) return false;
        return true;
    }

private:
    static constexpr int kValues = 4;
    using Offsets = std::array<qsizetype, kValues + 1>; // value i is [at[i], at[i + 1]) of the buffer
    ResultRow(QString buffer, const Offsets& at) : m_buffer(std::move(buffer)), m_at(at) {}
    QStringView value(int i) const { return QStringView(m_buffer).sliced(m_at[i], m_at[i + 1] - m_at[i]); }
    friend class RowBuffer;

    QString m_buffer; // never changed once made: the views above point into it
    Offsets m_at{};
};

// A search page cut into its page count and rows. Parsing stops at the first missing marker;
// what was cut before that point is kept, as the window shows it.
struct ResultPage {
    enum class Outcome {
        Ok,
        NoPageCount,  // no page count marker, or nothing after it: nothing was cut
        NoTable,      // page count found, but no result table after it
        MalformedRow, // rows holds the rows before the first malformed one
    };
    Outcome outcome = Outcome::Ok;
    std::optional<QString> pageCount;
    QList<ResultRow> rows;
    bool ok() const { return outcome == Outcome::Ok; }
};

ResultPage parseResultPage(QStringView recvText);

// Writing the parts of a search page that parseResultPage reads, in GBK, appended to `out` in
// page order: the page count, then the table's rows, then the end. The text between them is the
// writer's own. Values are GBK (or ASCII) bytes and go in as they are.
void writePageCount(std::string& out, std::int64_t pageCount);
// The header cell that the rows follow, and the table's body.
void writeRowsStart(std::string& out);
// One row; its link and its booking link ask for the lookup of `domain`.
void writeRow(std::string& out, std::string_view domain, std::size_t length, std::string_view suffix,
              std::string_view deletionTime);
void writeRowsEnd(std::string& out);
// Every page the service sends ends with this, the lookup's as well.
void writePageEnd(std::string& out);

} // namespace yuming
