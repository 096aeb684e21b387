// The pure parts of online lookups: which RDAP server to ask, what its domain answer says, and
// the deletion date that follows from it; then what a real service makes of such answers.
#include "service_test_util.h"

#include "http/pages.h"
#include "registry/rdap_bootstrap.h"
#include "registry/rdap_record.h"
#include "registry/registry_estimate.h"
#include "search/request.h"
#include "support/rdap_fixture.h"
#include "text/gbk.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

using namespace yuming;
using namespace yuming::service;

namespace {

qint64 utc(const char* iso) {
    return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODate).toSecsSinceEpoch();
}

} // namespace

TEST(RdapBootstrapTest, ReadsServicesAndPassesOverBadEntries) {
    const auto read = RdapBootstrap::parse(R"({"version":"1.0","services":[
        [["COM","net"],["http://plain.example/com","https://secure.example/com"]],
        "not a pair", [["bad"]], [["ftp"],["ftp://files.example/"]], [["nohost"],["https://"]],
        [[".org", 7],["http://org.example/rdap/"]], [["com"],["https://second.example/"]]]})");
    ASSERT_TRUE(read.ok()) << read.error;
    EXPECT_EQ(read.bootstrap.size(), 3u);
    EXPECT_EQ(read.bootstrap.baseFor("Com"), "https://secure.example/com/");
    EXPECT_EQ(read.bootstrap.baseFor(".net"), "https://secure.example/com/");
    EXPECT_EQ(read.bootstrap.baseFor("org"), "http://org.example/rdap/");
    EXPECT_EQ(read.bootstrap.baseFor("ftp"), std::nullopt);

    const std::pair<std::string_view, const char*> bad[] = {
        {"{\"services\":[", "not valid JSON"},
        {"[]", "not a bootstrap file"},
        {"{\"version\":\"1.0\"}", "no services"},
        {"{\"services\":{}}", "no services"},
        {"{\"services\":[[[\"com\"],[\"gopher://x/\"]]]}", "no services"}};
    for (const auto& [json, error] : bad) {
        SCOPED_TRACE(json);
        EXPECT_TRUE(RdapBootstrap::parse(json).error.starts_with(error)) << RdapBootstrap::parse(json).error;
    }
}

TEST(RdapBootstrapTest, BuiltInAndUsersFiles) {
    const RdapBootstrap& builtIn = RdapBootstrap::builtIn();
    for (const char* suffix : {"com", "net", "org"})
        EXPECT_TRUE(builtIn.baseFor(suffix).value_or("").starts_with("https://")) << suffix;
    EXPECT_EQ(builtIn.baseFor("cn"), std::nullopt);

    QTemporaryDir dir;
    const QString good = dir.filePath(QStringLiteral("good.json"));
    QFile file(good);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("\xEF\xBB\xBF{\"services\":[[[\"xyz\"],[\"https://rdap.example\"]]]}");
    file.close();
    EXPECT_EQ(RdapBootstrap::load(good.toStdString()).bootstrap.baseFor("xyz"), "https://rdap.example/");
    for (const QString& path : {dir.filePath(QStringLiteral("missing.json")), dir.path()})
        EXPECT_TRUE(
            RdapBootstrap::load(path.toStdString()).error.starts_with("cannot open " + path.toStdString()));
}

TEST(RdapRecordTest, ReadsStatusesAndEvents) {
    const auto parsed = parseRdapDomain(R"({"objectClassName":"Domain","ldhName":"a.com",
        "status":["Redemption Period","pendingDelete"," client  transfer\tPROHIBITED ","ok","pendingDelete",
                  "brandNewStatus"],
        "events":[{"eventAction":"last update of RDAP database","eventDate":"2026-06-01T00:00:00Z"},
                  {"eventAction":"expiration","eventDate":"2026-13-01T00:00:00Z"},
                  {"eventAction":"expiration","eventDate":"2026-01-02T11:04:05+08:00"},
                  {"eventAction":"expiration","eventDate":"2030-01-01T00:00:00Z"},
                  {"eventAction":"lastChanged","eventDate":"2026-02-03T04:05:06.789Z"},
                  {"eventAction":"registration"},{"eventAction":"transfer","eventDate":"2020-01-01T00:00:00Z"}]})",
                                        "a.com");
    ASSERT_TRUE(parsed.record) << parsed.error;
    const RdapRecord& record = *parsed.record;
    EXPECT_EQ(record.statuses,
              (std::vector<std::string>{"redemption period", "pending delete", "client transfer prohibited",
                                        "active", "brand new status"}));
    EXPECT_TRUE(record.has("PendingDelete"));
    EXPECT_EQ(record.expiration, utc("2026-01-02T03:04:05Z"));
    EXPECT_EQ(record.lastChanged, utc("2026-02-03T04:05:06Z"));
    EXPECT_EQ(record.registration, std::nullopt);
}

TEST(RdapRecordTest, DateForms) {
    const std::pair<const char*, std::optional<qint64>> dates[] = {
        {"2026-01-02T03:04:05Z", utc("2026-01-02T03:04:05Z")},
        {"2026-01-02t03:04:05.5z", utc("2026-01-02T03:04:05Z")},
        {"2026-01-02 03:04:05", utc("2026-01-02T03:04:05Z")},
        {"2026-01-02T03:04:05-0530", utc("2026-01-02T08:34:05Z")},
        {"2026-01-02T03:04:05+01", utc("2026-01-02T02:04:05Z")},
        {"1985-01-01", 473385600},
        {"1984-12-31T23:59:59Z", std::nullopt},
        {"0000-01-01", std::nullopt},
        {"9999-01-01", std::nullopt},
        {"2026-02-29T00:00:00Z", std::nullopt},
        {"2026-01-02T24:00:00Z", std::nullopt},
        {"2026-01-02T03:04Z", std::nullopt},
        {"2026-01-02T03:04:05+08:00 PST", std::nullopt},
        {"0000-00-00", std::nullopt},
        {"2027-02-30", std::nullopt},
        {"", std::nullopt}};
    for (const auto& [date, expected] : dates) {
        SCOPED_TRACE(date);
        const auto parsed = parseRdapDomain(
            std::string(R"({"ldhName":"a.com","events":[{"eventAction":"expiration","eventDate":")") + date +
                "\"}]}",
            "a.com");
        ASSERT_TRUE(parsed.record) << parsed.error;
        EXPECT_EQ(parsed.record->expiration, expected);
    }
}

TEST(RdapRecordTest, AnswersThatAreNoDomainFail) {
    const std::pair<std::string_view, const char*> bad[] = {
        {"<!DOCTYPE html><html>busy</html>", "not JSON: an HTML"},
        {"{\"status\":[", "not JSON: "},
        {"", "not JSON: "},
        {"[{\"objectClassName\":\"domain\"}]", "not a domain object"},
        {"{\"objectClassName\":\"entity\"}", "not a domain object: objectClassName is \"entity\""},
        {"{\"errorCode\":404,\"title\":\"Not Found\"}", "an RDAP error answer: 404 Not Found"},
        {"{\"ldhName\":\"a.com\",\"status\":\"active\"}", "status is not an array"},
        {"{\"ldhName\":\"a.com\",\"status\":[\"active\",3]}", "status holds"},
        {"{\"ldhName\":\"a.com\",\"events\":{}}", "events is not an array"},
        {"{\"ldhName\":\"a.com\",\"events\":[\"expiration\"]}", "events holds"}};
    for (const auto& [json, error] : bad) {
        SCOPED_TRACE(json);
        const auto parsed = parseRdapDomain(json, "a.com");
        EXPECT_FALSE(parsed.record);
        EXPECT_TRUE(parsed.error.starts_with(error)) << parsed.error;
    }
    const auto bare =
        parseRdapDomain("{\"objectClassName\":\"domain\",\"ldhName\":\"a.com\",\"status\":null}", "a.com");
    ASSERT_TRUE(bare.record) << bare.error;
    EXPECT_EQ(*bare.record, RdapRecord{});
}

TEST(RdapRecordTest, TheAnswerMustBeAboutTheNameAsked) {
    struct Case {
        const char* asked;
        const char* names; // the answer's name fields
        const char* error; // empty: believed
    };
    const Case cases[] = {
        {"xoth1.com", R"("ldhName":"XOTH1.Com")", ""},
        {"xoth1.com", R"("ldhName":"xoth1.com.")", ""},
        {"xoth1.com", R"("ldhName":"SOMEONE-ELSE.COM")",
         R"(the answer is about "SOMEONE-ELSE.COM" (its ldhName), not about xoth1.com)"},
        {"xoth1.com", R"("ldhName":"xoth1.com\r\nforged log line")",
         R"(the answer is about "xoth1.com??forged log line" (its ldhName), not about xoth1.com)"},
        {"xoth1.com", R"("ldhName":["xoth1.com"])", "the answer's ldhName is not text"},
        {"xoth1.com", R"("ldhName":null)",
         "the answer names no domain (it has no ldhName), so it is not taken for one about xoth1.com"},
        {"xn--fiqs8s.com", R"("ldhName":"XN--FIQS8S.COM","unicodeName":"中国.com")", ""},
        {"xn--fiqs8s.com", R"("unicodeName":"中国.COM")", ""},
        {"xn--fiqs8s.com", R"("ldhName":"xn--fiqs8s.com","unicodeName":"美国.com")",
         R"(the answer is about "美国.com" (its unicodeName), not about xn--fiqs8s.com (中国.com))"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.names);
        const auto parsed = parseRdapDomain(std::string(R"({"objectClassName":"domain",)") + c.names +
                                                R"(,"status":["redemption period"]})",
                                            c.asked);
        EXPECT_EQ(parsed.error, c.error);
        EXPECT_EQ(parsed.record.has_value(), *c.error == '\0');
    }
}

// A last change or a registration cannot lie ahead; more than a day's clock error is a slip.
TEST(RdapRecordTest, ALastChangeOrRegistrationAheadIsLeftOut) {
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const auto read = [now](qint64 changedIn, qint64 registeredIn) {
        const auto event = [now](const char* action, qint64 in) {
            return std::string(R"({"eventAction":")") + action + R"(","eventDate":")" +
                   QDateTime::fromSecsSinceEpoch(now + in, QTimeZone::utc())
                       .toString(Qt::ISODate)
                       .toStdString() +
                   "\"}";
        };
        return parseRdapDomain(R"({"ldhName":"a.com","events":[)" + event("last changed", changedIn) + ',' +
                                   event("registration", registeredIn) + ',' +
                                   event("expiration", 3000 * 86400) + "]}",
                               "a.com")
            .record;
    };
    const auto ahead = read(3000 * 86400, 2 * 86400);
    ASSERT_TRUE(ahead);
    EXPECT_EQ(ahead->lastChanged, std::nullopt);
    EXPECT_EQ(ahead->registration, std::nullopt);
    EXPECT_EQ(ahead->expiration, now + 3000 * 86400);
    const auto skewed = read(12 * 3600, -400 * 86400);
    ASSERT_TRUE(skewed);
    EXPECT_EQ(skewed->lastChanged, now + 12 * 3600);
    EXPECT_EQ(skewed->registration, now - 400 * 86400);
}

TEST(RdapRecordTest, CacheLineRoundTrips) {
    const RdapRecord records[] = {
        {},
        {{"redemption period", "pending delete"}, 1767225600, std::nullopt, 946684800},
        {{"a|b", "x;y=z", "100%", "%7C", "tab\tand\nline", "状态"}, 946684801, 946684802, 946684803}};
    for (const RdapRecord& record : records) {
        const std::string line = serialize(record);
        SCOPED_TRACE(line);
        EXPECT_EQ(line.find('\n'), std::string::npos);
        EXPECT_EQ(deserialize(line), record);
    }
    for (const char* bad : {"garbage", "s=a;s=b", "x=1;x=2", "x=12a", "x=", "q=1", "s=%zz", "s=%4", "s=a||b",
                            "x=1;", ";x=1", "xx=1", "x=99999999999999999999"})
        EXPECT_EQ(deserialize(bad), std::nullopt) << bad;
    // Kept by a build that took any date: 1970 and the year 2400 are dropped, the rest of the answer stays.
    const RdapRecord kept{{"active"}, std::nullopt, std::nullopt, 946684800};
    EXPECT_EQ(deserialize("s=active;x=0;c=13569465600;r=946684800"), kept);
    // A last change or a registration that far ahead is dropped as well; an expiration is not.
    const qint64 ahead = QDateTime::currentSecsSinceEpoch() + 3000 * 86400;
    const std::string aheadText = std::to_string(ahead);
    EXPECT_EQ(deserialize("x=" + aheadText + ";c=" + aheadText + ";r=" + aheadText),
              (RdapRecord{{}, ahead, std::nullopt, std::nullopt}));
}

namespace {

struct EstimateCase {
    const char* name;
    const char* statuses; // separated by '|'
    std::optional<qint64> expiration, lastChanged;
    Suffix suffix;
    const char* zone;
    const char* expected; // basis, expiry > deletion on the zone's clock; "none" for no estimate
};

const qint64 kNow = utc("2026-06-01T00:00:00Z");
const qint64 kPast = utc("2026-05-01T10:00:00Z");
const qint64 kFuture = utc("2027-04-20T10:00:00Z");
const qint64 kChanged = utc("2026-05-20T08:15:00Z");
const std::nullopt_t kNone = std::nullopt;

const EstimateCase kEstimates[] = {
    {"both", "pending delete|redemption period", kPast, kChanged, Com, "UTC",
     "R 26-05-01 10:00 > 26-06-24 08:15"},
    {"redemption_from_expiry", "redemption period", kPast, kNone, Com, "UTC",
     "R 26-05-01 10:00 > 26-06-05 10:00"},
    {"redemption_undated", "redemption period", kNone, kNone, Com, "UTC", "none"},
    {"pending_changed", "pending delete", kPast, kChanged, Com, "UTC", "P 26-05-01 10:00 > 26-05-25 08:15"},
    {"pending_from_expiry", "pending delete", kPast, kNone, Com, "UTC", "P 26-05-01 10:00 > 26-07-20 10:00"},
    {"pending_no_expiry", "pending delete", kNone, kChanged, Com, "UTC", "P  > 26-05-25 08:15"},
    {"grace_moved_ahead", "auto renew period", kFuture, kChanged, Com, "UTC",
     "G 27-04-20 10:00 > 26-07-04 02:30"},
    {"grace_not_moved", "auto renew period", kPast, kNone, Net, "UTC", "G 26-05-01 10:00 > 26-07-15 02:30"},
    {"grace_undated", "auto renew period", kNone, kChanged, Com, "UTC", "none"},
    {"expired", "client hold", kPast, kChanged, Org, "UTC", "E 26-05-01 10:00 > 26-07-15 02:30"},
    {"expired_cn", "", kPast, kNone, Cn, "UTC", "E 26-05-01 10:00 > 26-05-17 04:30"},
    {"active", "active", kFuture, kNone, Com, "UTC", "A 27-04-20 10:00 > 27-07-04 02:30"},
    {"active_undated", "active", kNone, kChanged, Com, "UTC", "none"},
    // The expiry is the next day on Shanghai's clock, and so is the day counted from.
    {"shanghai", "", utc("2026-05-01T20:00:00Z"), kNone, Com, "Asia/Shanghai",
     "E 26-05-02 04:00 > 26-07-16 02:30"},
    {"shanghai_redemption", "redemption period", kPast, kChanged, Com, "Asia/Shanghai",
     "R 26-05-01 18:00 > 26-06-24 16:15"},
    // 35 days are counted on the UTC clock: 15:00Z stays 15:00Z, which New York's clock shows as
    // 10:00 before the change to summer time and 11:00 after it.
    {"new_york_dst", "redemption period", kNone, utc("2026-02-20T15:00:00Z"), Com, "America/New_York",
     "R  > 26-03-27 11:00"},
    // 02:30 does not exist on the day the clocks go forward; it happens an hour later on the new clock.
    {"new_york_skipped_hour", "", utc("2025-12-23T17:00:00Z"), kNone, Com, "America/New_York",
     "E 25-12-23 12:00 > 26-03-08 03:30"}};

std::string describe(const std::optional<RegistryEstimate>& estimate) {
    if (!estimate) return "none";
    const auto wall = [](const QDateTime& time) {
        return time.isValid() ? time.toString(QStringLiteral("yy-MM-dd HH:mm")).toStdString() : "";
    };
    return std::string(1, "PRGEA"[static_cast<int>(estimate->basis)]) + " " + wall(estimate->expiry) + " > " +
           wall(estimate->deletion);
}

} // namespace

TEST(RegistryEstimateTest, EachBasis) {
    for (const EstimateCase& c : kEstimates) {
        SCOPED_TRACE(c.name);
        const QTimeZone zone(c.zone);
        ASSERT_TRUE(zone.isValid()) << c.zone << " is not known: is tzdata installed?";
        RdapRecord record{{}, c.expiration, c.lastChanged, kNone};
        for (const QString& status : QString::fromUtf8(c.statuses).split(u'|', Qt::SkipEmptyParts))
            record.statuses.push_back(status.toStdString());
        const auto estimate = estimateDeletion(record, c.suffix, kNow, zone);
        EXPECT_EQ(describe(estimate), c.expected);
        if (estimate) {
            EXPECT_EQ(estimate->deletion.timeZone(), zone);
        }
    }
}

TEST(RegistryEstimateTest, AgeText) {
    const std::pair<qint64, const char*> ages[] = {
        {-30, "1 分钟前查得"},     {0, "1 分钟前查得"},
        {179, "2 分钟前查得"},     {3599, "59 分钟前查得"},
        {3600, "1 小时前查得"},    {48 * 3600 - 1, "47 小时前查得"},
        {48 * 3600, "2 天前查得"}, {30 * 86400 + 5, "30 天前查得"}};
    for (const auto& [seconds, text] : ages)
        EXPECT_EQ(ageText(seconds), text) << seconds;
}

// A real service asking a registry on loopback: what it does not believe it neither keeps nor
// learns, and an answer without a usable date says so.
TEST(RegistryAnswerChecks, TheServiceBelievesOnlyAnAnswerAboutTheNameWithDatesThatCanBe) {
    yuming::testing::RdapFixture fixture;
    QTemporaryDir dir;
    const QString bootstrap = QString::fromStdString(
        yuming::testing::RdapFixture::writeBootstrap(dir.path().toStdString(), fixture.baseUrl()));
    yuming::testing::ServiceProcess::Options options;
    options.rows = 100;
    options.extraArgs = {"--rdap", "--rdap-bootstrap", bootstrap, "--rdap-rate", "50", "--time-zone", "UTC"};
    yuming::testing::ServiceProcess service(options);
    ASSERT_TRUE(service.start()) << service.error().toStdString();

    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const auto day = [now](qint64 days) {
        return QDateTime::fromSecsSinceEpoch(now + days * 86400, QTimeZone::utc());
    };
    const QString expired = '"' + day(-20).toString(Qt::ISODate) + '"';
    const auto body = [](const char* name, const QString& events) {
        return QStringLiteral(R"({"objectClassName":"domain","ldhName":"%1","status":["redemption period"],)"
                              R"("events":[%2]})")
            .arg(QLatin1String(name), events)
            .toStdString();
    };
    const auto expiration = [](const QString& date) {
        return QStringLiteral(R"({"eventAction":"expiration","eventDate":%1})").arg(date);
    };
    const QString changedLater = QStringLiteral(R"({"eventAction":"last changed","eventDate":"%1"})")
                                     .arg(day(3000).toString(Qt::ISODate));
    struct Case {
        const char* asked;
        std::string body;
        QString answer;
    };
    const Case cases[] = {
        {"xoth1.com", body("SOMEONE-ELSE.COM", expiration(expired)),
         "the answer is about &quot;SOMEONE-ELSE.COM&quot; (its ldhName), not about xoth1.com"},
        {"xoth2.com", body("xoth2.com", changedLater + ',' + expiration(expired)),
         "预算" + day(15).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + "（赎回期，注册局数据）"},
        {"numeric.com", body("numeric.com", expiration(QStringLiteral("1767225600"))), "no expiration date"},
        {"zeros.com", body("zeros.com", expiration(QStringLiteral("\"0000-00-00\""))), "no expiration date"},
        {"feb30.com", body("feb30.com", expiration(QStringLiteral("\"2027-02-30\""))), "no expiration date"},
        {"nodate.com", body("nodate.com", expiration(QStringLiteral("null"))), "no expiration date"},
        {"noevents.com", body("noevents.com", {}), "no expiration date"},
        {"far.com", body("far.com", expiration(QStringLiteral("\"9999-12-31T00:00:00Z\""))),
         "no expiration date"},
    };
    const ServiceAddress address{service.host(), service.port()};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.asked);
        fixture.set(std::string("/rdap/domain/") + c.asked, {.body = c.body});
        const QString answer = fromGbk(
            yuming::testing::exchange(service.port(), lookupRequest(QString::fromLatin1(c.asked), address)));
        EXPECT_TRUE(answer.contains(c.answer)) << answer.toStdString();
    }
    const yuming::testing::Database database(service.dbPath());
    const auto listed = [&](const char* name) {
        return database
            .rows(QStringLiteral("SELECT origin FROM domains WHERE name = ? AND suffix = 'com'"), {name})
            .size();
    };
    EXPECT_EQ(listed("xoth1"), 0);
    EXPECT_EQ(listed("xoth2"), 1);
    EXPECT_EQ(database.rows(QStringLiteral("SELECT 1 FROM rdap_answers WHERE domain = 'xoth1.com'")).size(),
              0);
}
