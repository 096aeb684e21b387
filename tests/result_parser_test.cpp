#include "protocol/search_page.h"
#include "search/paging.h"
#include "search/row_format.h"
#include "text/piece.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

using namespace yuming;

namespace {

const QString kHeader = QStringLiteral("<th class=\"booking\">预订</th></tr></thead><tbody>\n");

QString row(const QString& domain, const QString& len, const QString& suffix, const QString& when) {
    return "<tr><td><a href=\"/d/" + domain + "\" target=_blank>" + domain + "</a></td><td>" + len +
           "</td><td>" + suffix + "</td><td>" + when + "</td><td><a href=#>预订</a></td></tr>\n";
}

QString page(const QString& count, const QString& rows) {
    return "HTTP/1.1 200 OK\r\n\r\n<html><body><p><strong>,&#x5171;" + count +
           "页</strong></p><table><thead><tr><th>域名</th>" + kHeader + rows +
           "</tbody></table></body></html>";
}

TEST(ResultParser, CutsPageCountAndRowsInPageOrder) {
    const ResultPage p = parseResultPage(page("12", row("abc.com", "3", "com", "2026-12-20 02:30") +
                                                        row("xyz.net", "3", "net", "2026-12-21 02:30")));
    ASSERT_TRUE(p.ok());
    EXPECT_EQ(*p.pageCount, "12");
    ASSERT_EQ(p.rows.size(), 2);
    EXPECT_EQ(p.rows[0], ResultRow(u"abc.com", u"3", u"com", u"2026-12-20 02:30"));
    EXPECT_EQ(p.rows[1].domain(), u"xyz.net");
}

// The service's sample-data header stays in the text the receive path keeps: it moves nothing.
TEST(ResultParser, AHeaderInTheAnswersHeadChangesNothing) {
    QString marked = page("12", row("abc.com", "3", "com", "2026-12-20 02:30"));
    marked.replace(QStringLiteral("200 OK\r\n"), QStringLiteral("200 OK\r\nX-Yuming-Sample: 1\r\n"));
    const ResultPage p = parseResultPage(marked);
    ASSERT_TRUE(p.ok());
    EXPECT_EQ(*p.pageCount, "12");
    ASSERT_EQ(p.rows.size(), 1);
    EXPECT_EQ(p.rows[0], ResultRow(u"abc.com", u"3", u"com", u"2026-12-20 02:30"));
}

TEST(ResultParser, RowsOutliveTheTextAndThePageTheyWereCutFrom) {
    QList<ResultRow> kept;
    {
        QString text =
            page("2", row("abc.com", "3", "com", "2026-12-20 02:30") + row("名字.net", "2", "net", "t"));
        const ResultPage p = parseResultPage(text);
        kept = p.rows;
        text.fill(u'x'); // the text the rows were cut from is gone too
    }
    ResultRow copy = kept[1];
    kept.clear();
    EXPECT_EQ(copy, ResultRow(u"名字.net", u"2", u"net", u"t"));
    EXPECT_EQ(copy.domain(), u"名字.net");
    EXPECT_NE(copy, ResultRow(u"名字.net", u"2", u"net", u"u"));
    EXPECT_EQ(ResultRow(), ResultRow(u"", u"", u"", u""));
}

TEST(ResultParser, FailuresKeepWhatWasCutBefore) {
    struct Case {
        QString text;
        ResultPage::Outcome outcome;
        std::optional<QString> count;
        qsizetype rows;
    };
    const QString good = row("a.com", "1", "com", "t");
    const Case cases[] = {
        {"<html>no count</html>", ResultPage::Outcome::NoPageCount, std::nullopt, 0},
        {"<strong>,&#x5171;", ResultPage::Outcome::NoPageCount, std::nullopt, 0}, // nothing after it
        {"<strong>,&#x5171;3页 no table</html>", ResultPage::Outcome::NoTable, "3", 0},
        {page("3", good + "<tr><td>broken</td></tr>" + good), ResultPage::Outcome::MalformedRow, "3", 1},
        {page("3", good + "<tr><td><a target=_blank>x</a></td><td>1</td><td>com</td></tr>"),
         ResultPage::Outcome::MalformedRow, "3", 1}, // fewer than three cell boundaries
        {page("3", good + "<tr>"), ResultPage::Outcome::MalformedRow, "3", 1}, // an empty row
        {page("0", ""), ResultPage::Outcome::Ok, "0", 0},                      // no rows at all
    };
    for (const Case& c : cases) {
        const ResultPage p = parseResultPage(c.text);
        EXPECT_EQ(p.outcome, c.outcome) << c.text.toStdString();
        EXPECT_EQ(p.pageCount, c.count) << c.text.toStdString();
        EXPECT_EQ(p.rows.size(), c.rows) << c.text.toStdString();
    }
}

TEST(ResultParser, ValuesAreTakenExactlyAsTheyStand) {
    const ResultPage p = parseResultPage(page(" 7 ", row("a&amp;b.com", " 4", "com", "<b>2026-12-20</b>")));
    ASSERT_TRUE(p.ok());
    EXPECT_EQ(*p.pageCount, " 7 ");
    EXPECT_EQ(p.rows[0], ResultRow(u"a&amp;b.com", u" 4", u"com", u"<b>2026-12-20</b>"));
}

TEST(ResultParser, OnlyTheTextBetweenTwoTableHeadersIsSearched) {
    // A second header cell ends the body: the rows after it, and the tbody end, are not read.
    const QString text = "<strong>,&#x5171;2页" + kHeader + row("a.com", "1", "com", "t") + kHeader +
                         row("b.com", "1", "com", "t") + "</tbody></html>";
    const ResultPage p = parseResultPage(text);
    ASSERT_TRUE(p.ok());
    ASSERT_EQ(p.rows.size(), 1);
    EXPECT_EQ(p.rows[0].domain(), u"a.com");
}

TEST(ResultParser, PageCountRunsToTheNextMarkerWhenNoPageSignFollows) {
    const ResultPage p = parseResultPage(u"x<strong>,&#x5171;5<strong>,&#x5171;6");
    EXPECT_EQ(*p.pageCount, "5");
    EXPECT_EQ(p.outcome, ResultPage::Outcome::NoTable);
}

// The parser's cuts, written the plain way: every value is piece(piece(...)).
ResultPage referenceParse(QStringView text) {
    ResultPage page;
    auto cut = [](QStringView t, QStringView a, qsizetype k, QStringView b) -> std::optional<QStringView> {
        const auto outer = piece(t, a, k);
        return outer ? piece(*outer, b, 0) : std::nullopt;
    };
    const auto count = cut(text, u"<strong>,&#x5171;", 1, u"页");
    if (!count) return {ResultPage::Outcome::NoPageCount, {}, {}};
    page.pageCount = count->toString();
    const auto body = cut(text, u"<th class=\"booking\">预订</th>", 1, u"</tbody>");
    if (!body) return {ResultPage::Outcome::NoTable, page.pageCount, {}};
    for (qsizetype k = 1; piece(*body, u"<tr>", k); ++k) {
        const QStringView row = *piece(*body, u"<tr>", k);
        const auto d = cut(row, u"target=_blank>", 1, u"</a>");
        const auto l = cut(row, u"</a></td><td>", 1, u"</td>");
        const auto s = cut(row, u"</td><td>", 2, u"</td>");
        const auto t = cut(row, u"</td><td>", 3, u"</td>");
        if (!d || !l || !s || !t) return {ResultPage::Outcome::MalformedRow, page.pageCount, page.rows};
        page.rows.append(ResultRow(*d, *l, *s, *t));
    }
    return page;
}

TEST(ResultParser, AgreesWithThePlainCutsOnScrambledRows) {
    // Rows put together from the markers' own pieces in random order, so that markers overlap,
    // repeat, go missing and stand in the wrong cell.
    const QStringList parts{"<tr>",
                            "target=_blank>",
                            "</a>",
                            "</a></td><td>",
                            "</td><td>",
                            "</td>",
                            "<td>",
                            "x",
                            "预",
                            "</a></td>",
                            "</tbody>",
                            "页",
                            "<strong>,&#x5171;",
                            "<th class=\"booking\">预订</th>"};
    QRandomGenerator random(20261208);
    for (int round = 0; round < 20000; ++round) {
        QString text = "<strong>,&#x5171;4页<th class=\"booking\">预订</th>";
        const int n = random.bounded(1, 40);
        for (int i = 0; i < n; ++i)
            text += parts[random.bounded(parts.size())];
        if (random.bounded(2)) text += "</tbody>";
        const ResultPage got = parseResultPage(text);
        const ResultPage want = referenceParse(text);
        ASSERT_EQ(got.outcome, want.outcome) << text.toStdString();
        ASSERT_EQ(got.pageCount, want.pageCount) << text.toStdString();
        ASSERT_EQ(got.rows, want.rows) << text.toStdString();
    }
}

TEST(PageCaption, ShowsTheCurrentPageCountedFromOne) {
    EXPECT_EQ(pageCaption(u"12", 0), "总共：12 页，当前 1 页");
    EXPECT_EQ(pageCaption(u" 3 ", 4), "总共： 3  页，当前 5 页");
}

// Rows as other programs read them: values exactly as cut, quoted only where CSV needs it.
TEST(RowFormat, CsvTsvAndJsonKeepEveryValueIntact) {
    using namespace row_format;
    const ResultRow plain(u"中文.com", u"2", u"com", u"2026-12-20 02:30");
    const ResultRow odd(u"a,b\"c", u"x\r\ny", u"\\", u"\t");
    EXPECT_EQ(head(Format::Csv), "\xEF\xBB\xBF" + QString("域名,长度,后缀,删除时间\r\n").toUtf8());
    EXPECT_EQ(rows(Format::Csv, {plain, odd}),
              QString("中文.com,2,com,2026-12-20 02:30\r\n\"a,b\"\"c\",\"x\r\ny\",\\,\t\r\n").toUtf8());
    EXPECT_EQ(row(Format::Tsv, plain), QString("中文.com\t2\tcom\t2026-12-20 02:30\n").toUtf8());
    EXPECT_EQ(row(Format::Json, odd),
              QByteArray(R"({"domain":"a,b\"c","length":"x\r\ny","suffix":"\\","deletion":"\t"})"
                         "\n"));
    EXPECT_TRUE(head(Format::Tsv).isEmpty());
}

} // namespace
