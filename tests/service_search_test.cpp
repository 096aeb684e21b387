// The service's search and lookup pages, read with the tool's own parsers and checked against
// direct queries of the service's database.
#include "service_test_util.h"

#include "lookup/lookup.h"
#include "protocol/search_page.h"

#include <QDate>
#include <QDateTime>

#include <gtest/gtest.h>

#include <limits>

using namespace yuming;
using namespace yuming::testing;

namespace {

constexpr int kPageSize = 50;

struct FilterCase {
    const char* name;
    QString key, kaiwei, min, max, op, o, suffixes;
};

void PrintTo(const FilterCase& c, std::ostream* out) {
    *out << c.name;
}

QString queryString(const FilterCase& c, qint64 page) {
    return QStringLiteral("key=") + c.key + "&kaiwei=" + c.kaiwei + "&min=" + c.min + "&max=" + c.max +
           "&op=" + c.op + "&o=" + c.o + c.suffixes + "&tsym=0&d=0&do=do&page=" + QString::number(page);
}

// The same filters written as SQL, independently of the service's own code.
struct Reference {
    QString sql;
    QVariantList params;
};

int bound(const QString& text) {
    return qMax(0, text.toInt());
}

Reference referenceFor(const FilterCase& c, const QString& decodedKey) {
    const QDate today = QDate::currentDate();
    Reference ref;
    // Names whose deletion time has passed are off the list.
    ref.params << QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
               << today.addDays(30).toString(Qt::ISODate) << decodedKey.toLower();
    QStringList where{QStringLiteral("deletion >= ?1 AND deletion < ?2")};
    const QString starts = QStringLiteral("substr(name, 1, length(?3)) = ?3");
    const QString ends =
        QStringLiteral("(length(name) >= length(?3) AND substr(name, length(name) - length(?3) + 1) = ?3)");
    if (!decodedKey.isEmpty()) {
        if (c.kaiwei == "radom") where << QStringLiteral("instr(name, ?3) > 0");
        if (c.kaiwei == "starts") where << starts;
        if (c.kaiwei == "end") where << ends;
        if (c.kaiwei == "startsend") where << "(" + starts + " OR " + ends + ")";
    }
    if (bound(c.min) > 0) where << QStringLiteral("length(name) >= %1").arg(bound(c.min));
    if (bound(c.max) > 0) where << QStringLiteral("length(name) <= %1").arg(bound(c.max));
    if (c.op == "char") where << QStringLiteral("name NOT GLOB '*[^a-z]*'");
    if (c.op == "num") where << QStringLiteral("name NOT GLOB '*[^0-9]*'");
    QStringList suffixes;
    for (const char* s : {"com", "net", "org", "cn"})
        if (c.suffixes.contains(QStringLiteral("&%1=%1").arg(QLatin1String(s))))
            suffixes << QStringLiteral("'%1'").arg(QLatin1String(s));
    if (!suffixes.isEmpty()) where << "suffix IN (" + suffixes.join(',') + ")";
    const QMap<QString, QString> orders{
        {"o_1", "deletion, name, suffix"},
        {"o_2", "name, suffix"},
        {"o_3", "suffix, name"},
        {"o_4", "length(name), name, suffix"},
        {"o_5", "substr(deletion, 1, 10), length(name), name, suffix"},
    };
    ref.sql = "SELECT name || '.' || suffix, length(name), suffix, deletion FROM domains WHERE " +
              where.join(" AND ") + " ORDER BY " + orders.value(c.o);
    return ref;
}

QList<QStringList> rowsOf(const ResultPage& page) {
    QList<QStringList> rows;
    for (const ResultRow& row : page.rows)
        rows << QStringList{row.domain().toString(), row.length().toString(), row.suffix().toString(),
                            row.deletionTime().toString()};
    return rows;
}

class ServiceSearch : public ::testing::TestWithParam<FilterCase> {};

const QString kComNet = QStringLiteral("&com=com&net=net");

// Each value of each filter, alone and in the combinations the window can send.
const FilterCase kCases[] = {
    {"anywhere", "an", "radom", "0", "0", "zahe", "o_5", kComNet},
    {"starts", "an", "starts", "0", "0", "zahe", "o_5", kComNet},
    {"ends", "an", "end", "0", "0", "zahe", "o_5", kComNet},
    {"starts_or_ends", "an", "startsend", "0", "0", "zahe", "o_5", kComNet},
    {"digit_anywhere", "8", "radom", "0", "0", "zahe", "o_1", ""},
    {"digit_starts", "8", "starts", "0", "0", "zahe", "o_1", ""},
    {"digit_ends", "8", "end", "0", "0", "zahe", "o_1", ""},
    {"digit_starts_or_ends", "8", "startsend", "0", "0", "zahe", "o_1", ""},
    {"long_key_anywhere", "zhong", "radom", "0", "0", "zahe", "o_2", ""},
    {"long_key_ends", "ing", "end", "0", "0", "zahe", "o_2", ""},
    {"key_in_capitals", "AN", "starts", "0", "0", "zahe", "o_5", kComNet},
    {"key_percent_encoded", "%61n", "radom", "0", "0", "zahe", "o_5", kComNet},
    {"key_nowhere", "qqqqqq", "radom", "0", "0", "zahe", "o_5", kComNet},
    {"any_structure", "", "radom", "0", "0", "zahe", "o_5", kComNet},
    {"letters_only", "", "radom", "0", "0", "char", "o_5", kComNet},
    {"digits_only", "", "radom", "0", "0", "num", "o_5", kComNet},
    {"by_deletion_time", "a", "radom", "0", "0", "zahe", "o_1", kComNet},
    {"alphabetical", "a", "radom", "0", "0", "zahe", "o_2", kComNet},
    {"by_suffix", "a", "radom", "0", "0", "zahe", "o_3", ""},
    {"by_length", "a", "radom", "0", "0", "zahe", "o_4", kComNet},
    {"by_date_then_length", "a", "radom", "0", "0", "zahe", "o_5", kComNet},
    {"no_suffix_ticked_means_all", "", "radom", "0", "0", "zahe", "o_3", ""},
    {"only_com", "", "radom", "0", "0", "zahe", "o_5", "&com=com"},
    {"only_net", "", "radom", "0", "0", "zahe", "o_5", "&net=net"},
    {"only_org", "", "radom", "0", "0", "zahe", "o_5", "&org=org"},
    {"only_cn", "", "radom", "0", "0", "zahe", "o_5", "&cn=cn"},
    {"com_and_org", "", "radom", "0", "0", "zahe", "o_5", "&com=com&org=org"},
    {"all_three", "", "radom", "0", "0", "zahe", "o_5", "&com=com&net=net&org=org"},
    {"length_between", "", "radom", "3", "5", "zahe", "o_4", ""},
    {"length_from", "", "radom", "9", "0", "zahe", "o_4", ""},
    {"length_up_to", "", "radom", "0", "4", "zahe", "o_4", ""},
    {"length_bound_not_a_number", "", "radom", "ab", "", "zahe", "o_4", kComNet},
    {"length_bounds_crossed", "", "radom", "7", "3", "zahe", "o_4", ""},
    {"length_beyond_any_name", "", "radom", "300", "0", "zahe", "o_4", ""},
    {"length_bound_far_above", "", "radom", "0", "1000", "zahe", "o_1", ""},
    {"letters_starting_and_short", "x", "starts", "0", "6", "char", "o_2", "&com=com&net=net&org=org"},
};

} // namespace

TEST_P(ServiceSearch, FirstLastAndPastTheEndPagesMatchTheDatabase) {
    const FilterCase& c = GetParam();
    const Database db(sharedService().dbPath());
    const Reference ref = referenceFor(c, c.key == "%61n" ? QStringLiteral("an") : c.key);
    const QList<QStringList> expected = db.rows(ref.sql, ref.params);
    const qint64 pages = (expected.size() + kPageSize - 1) / kPageSize;

    for (const qint64 page : {qint64(0), qMax<qint64>(pages - 1, 0), pages}) {
        SCOPED_TRACE(page);
        const ResultPage parsed = parseResultPage(searchAnswer(queryString(c, page)));
        ASSERT_TRUE(parsed.ok());
        EXPECT_EQ(parsed.pageCount, QString::number(pages));
        EXPECT_EQ(rowsOf(parsed), expected.mid(page * kPageSize, kPageSize));
    }
}

INSTANTIATE_TEST_SUITE_P(EachFilter, ServiceSearch, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ServiceSearchPaging, AllPagesTogetherAreTheWholeResultOnce) {
    const FilterCase c{"paging", "a", "startsend", "0", "0", "zahe", "o_3", ""};
    const Database db(sharedService().dbPath());
    const Reference ref = referenceFor(c, c.key);
    const QList<QStringList> expected = db.rows(ref.sql, ref.params);
    ASSERT_GT(expected.size(), 2 * kPageSize);
    QList<QStringList> seen;
    for (qint64 page = 0; page * kPageSize < expected.size(); ++page)
        seen += rowsOf(parseResultPage(searchAnswer(queryString(c, page))));
    EXPECT_EQ(seen, expected);
}

// Any page number from the cap up is the same empty page, counted without overflow.
TEST(ServiceSearchPaging, PageNumbersFromTheCapUpAreOneEmptyPage) {
    const FilterCase c{"cap", "a", "radom", "0", "0", "zahe", "o_5", ""};
    for (const qint64 page : {qint64(1'000'000'000), std::numeric_limits<qint64>::max()}) {
        SCOPED_TRACE(page);
        const QString answer = searchAnswer(queryString(c, page));
        EXPECT_TRUE(answer.startsWith("HTTP/1.1 200")) << answer.left(40).toStdString();
        EXPECT_TRUE(answer.contains(QStringLiteral("当前第 1000000001 页")));
        EXPECT_TRUE(parseResultPage(answer).rows.isEmpty());
    }
}

TEST(ServiceSearchData, SeededRowsLookReal) {
    const Database db(sharedService().dbPath());
    const QDate today = QDate::currentDate();
    const auto stats = db.rows("SELECT count(*), count(DISTINCT suffix), min(deletion), max(deletion), "
                               "count(DISTINCT substr(deletion,1,10)),"
                               " sum(name GLOB '*[0-9]*'), sum(name NOT GLOB '*[^a-z]*') FROM domains WHERE "
                               "deletion >= ? AND deletion < ?",
                               {today.toString(Qt::ISODate), today.addDays(30).toString(Qt::ISODate)});
    ASSERT_EQ(stats.size(), 1);
    const QStringList& s = stats.first();
    EXPECT_EQ(s[0], "2000");
    EXPECT_EQ(s[1], "4");
    EXPECT_GE(s[2], today.toString(Qt::ISODate));
    EXPECT_EQ(s[4], "30") << "deletion days spread over the coming 30 days";
    EXPECT_GT(s[5].toInt(), 200) << "names with digits";
    EXPECT_GT(s[6].toInt(), 800) << "names of letters only";
}

namespace {

struct LifecycleCase {
    const char* suffix;
    int days;
    const char* time;
};

void PrintTo(const LifecycleCase& c, std::ostream* out) {
    *out << c.suffix;
}

class ServiceLookupRule : public ::testing::TestWithParam<LifecycleCase> {};

} // namespace

// A listed name's lookup shows its registration's expiry and the same deletion time its search
// row shows, and that time follows from the expiry by the suffix's rule.
TEST_P(ServiceLookupRule, DeletionFollowsExpiryAndMatchesTheSearchRow) {
    const LifecycleCase& c = GetParam();
    const Database db(sharedService().dbPath());
    const QDate today = QDate::currentDate();
    const auto rows =
        db.rows("SELECT name || '.' || suffix, expiry, deletion FROM domains WHERE suffix = ? AND "
                "deletion >= ? AND deletion < ? ORDER BY id LIMIT 3",
                {c.suffix, QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                 today.addDays(30).toString(Qt::ISODate)});
    ASSERT_EQ(rows.size(), 3);
    for (const QStringList& row : rows) {
        SCOPED_TRACE(row.join(' ').toStdString());
        const QDateTime expiry = QDateTime::fromString(row[1], "yyyy-MM-dd HH:mm:ss");
        ASSERT_TRUE(expiry.isValid());
        EXPECT_EQ(row[2], expiry.date().addDays(c.days).toString(Qt::ISODate) + ' ' + c.time);

        const LookupPage page = parseLookupPage(lookupAnswer(row[0]));
        ASSERT_EQ(page.outcome, LookupPage::Outcome::Dates);
        EXPECT_EQ(page.expiry, row[1]);
        EXPECT_EQ(page.deletion, QStringLiteral("预算 ") + row[2]);

        const FilterCase search{"one",    row[0].section('.', 0, 0),
                                "starts", "0",
                                "0",      "zahe",
                                "o_2",    QStringLiteral("&%1=%1").arg(QLatin1String(c.suffix))};
        const ResultPage result = parseResultPage(searchAnswer(queryString(search, 0)));
        ASSERT_FALSE(result.rows.isEmpty());
        EXPECT_EQ(result.rows.first().domain().toString(), row[0]);
        EXPECT_EQ(QStringLiteral("预算 ") + result.rows.first().deletionTime().toString(), page.deletion);
    }
}

INSTANTIATE_TEST_SUITE_P(EachSuffix, ServiceLookupRule,
                         ::testing::Values(LifecycleCase{"com", 75, "02:30:00"},
                                           LifecycleCase{"net", 75, "02:30:00"},
                                           LifecycleCase{"org", 75, "02:30:00"},
                                           LifecycleCase{"cn", 16, "04:30:00"}),
                         [](const auto& info) { return std::string(info.param.suffix); });

TEST(ServiceLookup, RegisteredNameOffTheDropListShowsItsDates) {
    const Database db(sharedService().dbPath());
    const auto rows =
        db.rows("SELECT name || '.' || suffix, expiry, deletion FROM domains WHERE deletion >= ? LIMIT 1",
                {QDate::currentDate().addDays(30).toString(Qt::ISODate)});
    ASSERT_EQ(rows.size(), 1);
    const LookupPage page = parseLookupPage(lookupAnswer(rows[0][0].toUpper()));
    ASSERT_EQ(page.outcome, LookupPage::Outcome::Dates);
    EXPECT_EQ(page.expiry, rows[0][1]);
    EXPECT_EQ(page.deletion, QStringLiteral("预算 ") + rows[0][2]);
}

TEST(ServiceLookup, UnknownNamesAreNotRegistered) {
    for (const QString domain : {"never-registered-here.com", "nosuffix", "abc.xyz", "中文.cn", "   "}) {
        SCOPED_TRACE(domain.toStdString());
        EXPECT_EQ(parseLookupPage(lookupAnswer(domain)).outcome, LookupPage::Outcome::NotRegistered);
    }
}
