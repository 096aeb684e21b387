// Feeds: the schedule at an injected clock, what a feed's names replace beside other feeds and
// manual imports, the shrink rule, the feed commands, and fetches from a loopback server.
#include "service_test_util.h"
#include "support/zip_writer.h"

#include "app/service_options.h"
#include "http/pages.h"
#include "import/drop_import.h"
#include "import/feed_schedule.h"
#include "import/feed_store.h"
#include "support/rdap_fixture.h"
#include "support/wait_for.h"
#include "text/gbk.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace yuming;
using namespace yuming::testing;
using yuming::service::FeedPlan;
using yuming::service::FeedSchedule;

namespace {

constexpr std::int64_t kMinute = 60, kHour = 3600, kDay = 86400;
// 2026-12-09 00:00:00 UTC.
constexpr std::int64_t kMidnight = 1796774400;

FeedPlan plan(std::int64_t every, std::optional<int> at = std::nullopt) {
    return {"https://lists.example/drop.zip", std::chrono::seconds(every), at};
}

TEST(FeedSchedule, DueTimesKeepTheIntervalWithJitterWithinItsBoundAndLineUpOnTheTimeOfDay) {
    std::int64_t now = kMidnight;
    for (std::uint64_t seed = 0; seed < 200; ++seed) {
        FeedSchedule schedule([&] { return now; }, QTimeZone::utc(), seed);
        const std::int64_t started = kMidnight + 5 * kHour;
        const std::int64_t daily = schedule.afterSuccess(plan(kDay), started);
        EXPECT_GE(daily, started + kDay);
        EXPECT_LE(daily, started + kDay + 15 * kMinute);
        const std::int64_t hourly = schedule.afterSuccess(plan(kHour), started);
        EXPECT_GE(hourly, started + kHour);
        EXPECT_LE(hourly, started + kHour + 3 * kMinute);
        // Fetched at 06:34 for its 06:30 slot: the next is tomorrow's, not the day after.
        const std::int64_t slot = kMidnight + 6 * kHour + 30 * kMinute;
        const std::int64_t atSix = schedule.afterSuccess(plan(kDay, 6 * 60 + 30), slot + 4 * kMinute);
        EXPECT_GE(atSix, slot + 4 * kMinute + kDay);
        EXPECT_LE(atSix, slot + kDay + 15 * kMinute);
        // Every 6 hours from 06:30: 12:30 follows a fetch at 06:31.
        const std::int64_t sixHourly = schedule.afterSuccess(plan(6 * kHour, 6 * 60 + 30), slot + kMinute);
        EXPECT_GE(sixHourly, slot + kMinute + 6 * kHour);
        EXPECT_LE(sixHourly, slot + 6 * kHour + 15 * kMinute);
    }
    FeedSchedule zoned([&] { return now; }, QTimeZone("Asia/Shanghai"), 1);
    // 06:30 in Shanghai is 22:30 UTC the day before; the one a day after the fetch is the next.
    const std::int64_t shanghai = zoned.afterSuccess(plan(kDay, 6 * 60 + 30), kMidnight);
    EXPECT_GE(shanghai, kMidnight + 46 * kHour + 30 * kMinute);
    EXPECT_LE(shanghai, kMidnight + 46 * kHour + 45 * kMinute);
}

TEST(FeedSchedule, FailuresBackOffFromHalfAnHourToTheIntervalAndRetryAfterWhenLater) {
    std::int64_t now = kMidnight;
    FeedSchedule schedule([&] { return now; }, QTimeZone::utc(), 3);
    const auto wait = [&](std::int64_t every, int failures, std::optional<std::int64_t> retryAfter = {}) {
        const auto after = retryAfter ? std::optional(std::chrono::seconds(*retryAfter)) : std::nullopt;
        return schedule.afterFailure(plan(every), now, failures, after) - now;
    };
    const std::pair<int, std::int64_t> daily[] = {{1, 30 * kMinute}, {2, kHour}, {3, 2 * kHour},
                                                  {6, 16 * kHour},   {7, kDay},  {40, kDay}};
    for (const auto& [failures, least] : daily) {
        EXPECT_GE(wait(kDay, failures), least) << failures;
        EXPECT_LE(wait(kDay, failures), least + 15 * kMinute) << failures;
    }
    // An hourly feed never retries more often than every half hour, nor waits past its hour.
    EXPECT_GE(wait(kHour, 1), 30 * kMinute);
    EXPECT_GE(wait(kHour, 9), kHour);
    EXPECT_LE(wait(kHour, 9), kHour + 3 * kMinute);
    EXPECT_GE(wait(kDay, 1, 3 * kHour), 3 * kHour);
    EXPECT_LE(wait(kDay, 1, 3 * kHour), 3 * kHour + 9 * kMinute);
    EXPECT_GE(wait(kDay, 1, 10), 30 * kMinute) << "a Retry-After of seconds is no tight loop";
    EXPECT_LE(wait(kDay, 1, 400 * kDay), 7 * kDay + 15 * kMinute);
}

TEST(FeedSchedule, PicksTheLongestOverdueFeedOfAHostNotBusy) {
    std::int64_t now = kMidnight;
    FeedSchedule schedule([&] { return now; }, QTimeZone::utc(), 1);
    std::vector<service::Feed> feeds(4);
    feeds[0].plan.url = "https://a.example/one";
    feeds[0].next = now - 10;
    feeds[1].plan.url = "https://A.example:443/two";
    feeds[1].next = now - 100;
    feeds[2].plan.url = "http://b.example/three";
    feeds[2].next = now + 50;
    feeds[3].plan.url = "http://a.example/four"; // another port: another host
    feeds[3].next = now + 90;
    std::int64_t wake = 0;
    EXPECT_EQ(schedule.pick(feeds, wake), 1u);
    schedule.begin(feeds[1].plan.url);
    EXPECT_EQ(schedule.pick(feeds, wake), std::nullopt) << "a.example:443 is busy";
    EXPECT_EQ(wake, now + 50);
    now += 95;
    EXPECT_EQ(schedule.pick(feeds, wake), 2u);
    schedule.end(feeds[1].plan.url);
    EXPECT_EQ(schedule.pick(feeds, wake), 1u);
    feeds[1].next.reset(); // never fetched: due at once
    feeds.resize(2);
    EXPECT_EQ(schedule.pick(feeds, wake), 1u);
}

} // namespace

namespace {

class Quiet : public service::ImportObserver {
public:
    void reading(std::uint64_t) override {}
    void writing() override {}
    void skipped(const service::SkippedLine&) override {}
    void read(std::uint64_t) override {}
};

QByteArray day(int days) {
    return QDate::currentDate().addDays(days).toString(Qt::ISODate).toLatin1();
}

// A database with feeds beside manual imports, each list written to a file of its own.
class Sources {
public:
    Sources() : m_db(m_dir.filePath(QStringLiteral("d.sqlite")).toStdString()) {}
    const std::string& db() const { return m_db; }

    std::int64_t addFeed(const std::string& url) {
        bool existed = false;
        std::string error;
        EXPECT_TRUE(service::addFeed(m_db, {url, std::chrono::hours(24), std::nullopt}, existed, error))
            << error;
        for (const service::Feed& feed : service::readFeeds(m_db).value)
            if (feed.plan.url == url) return feed.id;
        return -1;
    }

    service::ImportResult import(const QByteArray& list, std::optional<std::int64_t> feed = {},
                                 bool acceptShrink = false) {
        const QString path = m_dir.filePath(QString::number(++m_files) + QStringLiteral(".txt"));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(list) == list.size());
        file.close();
        service::ImportRequest request;
        request.files = {path.toStdString()};
        request.dbPath = m_db;
        request.zone = QTimeZone::utc();
        request.today = QDate::currentDate();
        if (feed) request.feed = service::ImportRequest::Feed{*feed, acceptShrink};
        Quiet quiet;
        return service::importDropLists(request, quiet);
    }

    QStringList names() const {
        QStringList out;
        for (const QStringList& row : Database(QString::fromStdString(m_db))
                                          .rows("SELECT name || '.' || suffix FROM domains ORDER BY 1"))
            out << row.first();
        return out;
    }

private:
    QTemporaryDir m_dir;
    std::string m_db;
    int m_files = 0;
};

QByteArray list(std::initializer_list<const char*> names) {
    QByteArray text;
    for (const char* name : names)
        text += QByteArray(name) + ' ' + day(3) + '\n';
    return text;
}

TEST(FeedNames, AFeedReplacesOnlyItsOwnNamesBesideAnotherFeedAndManualImports) {
    Sources sources;
    ASSERT_TRUE(sources.import(list({"hand.com", "both.com"})).ok());
    const std::int64_t a = sources.addFeed("https://a.example/list");
    const std::int64_t b = sources.addFeed("https://b.example/list");
    auto taken = sources.import(list({"a1.com", "a2.net", "shared.org", "both.com"}), a);
    ASSERT_TRUE(taken.ok()) << taken.error;
    EXPECT_EQ(taken.counts.added, 3);
    ASSERT_TRUE(sources.import(list({"b1.com", "shared.org"}), b).ok());
    EXPECT_EQ(sources.names(),
              (QStringList{"a1.com", "a2.net", "b1.com", "both.com", "hand.com", "shared.org"}));

    // a drops everything but a1: its own a2 leaves; shared (b's too) and both (manual) stay.
    taken = sources.import(list({"a1.com", "a3.com"}), a);
    ASSERT_TRUE(taken.ok()) << taken.error;
    EXPECT_EQ(taken.counts.removed, 1);
    EXPECT_EQ(sources.names(),
              (QStringList{"a1.com", "a3.com", "b1.com", "both.com", "hand.com", "shared.org"}));
    // A manual import of a feed's name keeps it when the feed drops it.
    ASSERT_TRUE(sources.import(list({"b1.com"})).ok());
    ASSERT_TRUE(sources.import(list({"shared.org", "b2.com"}), b).ok());
    EXPECT_EQ(sources.names(),
              (QStringList{"a1.com", "a3.com", "b1.com", "b2.com", "both.com", "hand.com", "shared.org"}));
    ASSERT_TRUE(sources.import(list({"b2.com"}), b).ok());
    EXPECT_EQ(sources.names(), (QStringList{"a1.com", "a3.com", "b1.com", "b2.com", "both.com", "hand.com"}));

    const QString db = QString::fromStdString(sources.db());
    EXPECT_EQ(Database(db).rows("SELECT value FROM meta WHERE key = 'sources'"), QList<QStringList>{{"3"}});
    // Removing a feed takes the names only it listed.
    bool found = false;
    std::int64_t removed = 0;
    std::string error;
    ASSERT_TRUE(service::removeFeed(sources.db(), "https://a.example/list", found, removed, error)) << error;
    EXPECT_TRUE(found);
    EXPECT_EQ(removed, 2);
    EXPECT_EQ(sources.names(), (QStringList{"b1.com", "b2.com", "both.com", "hand.com"}));
    EXPECT_EQ(Database(db).rows("SELECT COUNT(*) FROM feed_names WHERE feed = ?", {QVariant::fromValue(a)}),
              QList<QStringList>{{"0"}});
}

TEST(FeedStore, ServiceConfFeedsAreKeptInStepAndFeedsAddedByCommandStay) {
    Sources sources;
    const std::int64_t own = sources.addFeed("https://own.example/list");
    ASSERT_TRUE(sources.import(list({"own.com"}), own).ok());
    std::string error;
    const FeedPlan a{"https://a.example/l", std::chrono::hours(24), 6 * 60};
    const FeedPlan b{"https://b.example/l", std::chrono::hours(12), std::nullopt};
    ASSERT_TRUE(service::syncConfFeeds(sources.db(), {a, b}, error)) << error;
    const auto idOf = [&](const std::string& url) {
        for (const service::Feed& feed : service::readFeeds(sources.db()).value)
            if (feed.plan.url == url) return feed.id;
        return std::int64_t(-1);
    };
    ASSERT_TRUE(sources.import(list({"a.com", "own.com"}), idOf(b.url)).ok());
    const FeedPlan b6{b.url, std::chrono::hours(6), 30};
    ASSERT_TRUE(service::syncConfFeeds(sources.db(), {b6}, error)) << error;
    const auto feeds = service::readFeeds(sources.db());
    ASSERT_TRUE(feeds.ok()) << feeds.error;
    ASSERT_EQ(feeds.value.size(), 2u);
    EXPECT_EQ(feeds.value[0].plan.url, "https://own.example/list");
    EXPECT_FALSE(feeds.value[0].conf);
    EXPECT_EQ(feeds.value[1].plan.url, b.url);
    EXPECT_TRUE(feeds.value[1].conf);
    EXPECT_EQ(feeds.value[1].plan.every, std::chrono::hours(6));
    EXPECT_EQ(feeds.value[1].plan.at, 30);
    EXPECT_EQ(feeds.value[1].names, 2) << "a changed plan keeps what the feed gave";
    ASSERT_TRUE(service::syncConfFeeds(sources.db(), {}, error)) << error;
    EXPECT_EQ(sources.names(), QStringList{"own.com"}) << "b's own name left with it, the shared one stayed";
}

TEST(FeedNames, AListUnderHalfTheLastIsRefusedUnlessAcceptedAndAFailedListChangesNothing) {
    Sources sources;
    const std::int64_t feed = sources.addFeed("https://a.example/list");
    ASSERT_TRUE(sources.import(list({"a.com", "b.com", "c.com", "d.com", "e.com"}), feed).ok());
    const QStringList before = sources.names();
    auto shrunk = sources.import(list({"a.com", "b.com"}), feed);
    EXPECT_EQ(shrunk.error, sources.db() + ": the list shrank from 5 names last time to 2 (fewer than half); "
                                           "--accept-shrink takes it");
    EXPECT_EQ(sources.names(), before);
    EXPECT_EQ(sources.import("no names here\n", feed).error, "no names to import");
    EXPECT_EQ(sources.names(), before);
    // Half is no shrink.
    ASSERT_TRUE(sources.import(list({"a.com", "b.com", "c.com"}), feed).ok());
    shrunk = sources.import(list({"a.com"}), feed, true);
    ASSERT_TRUE(shrunk.ok()) << shrunk.error;
    EXPECT_EQ(sources.names(), QStringList{"a.com"});
}

} // namespace

namespace {

TEST(FeedOptions, TheFeedCommandsAndServiceConfFeedLines) {
    using service::parseOptions;
    using Action = service::ServiceOptions::FeedAction;
    const auto add = parseOptions({"feed", "add", "https://x.example/l.zip", "--every", "6h", "--at", "06:30",
                                   "--date-order", "dmy", "--db", "/tmp/f.sqlite"});
    ASSERT_TRUE(add.ok()) << add.error;
    EXPECT_EQ(add.options.command, service::ServiceOptions::Command::Feed);
    EXPECT_EQ(add.options.feedAction, Action::Add);
    EXPECT_EQ(add.options.feed.url, "https://x.example/l.zip");
    EXPECT_EQ(add.options.feed.every, std::chrono::hours(6));
    EXPECT_EQ(add.options.feed.at, 6 * 60 + 30);
    EXPECT_EQ(add.options.feed.dateOrder, service::DateOrder::DayFirst);
    const auto fetch = parseOptions({"feed", "fetch", "--accept-shrink", "--user"});
    ASSERT_TRUE(fetch.ok()) << fetch.error;
    EXPECT_TRUE(fetch.options.acceptShrink);
    EXPECT_TRUE(fetch.options.feed.url.empty());

    const std::pair<std::vector<std::string>, std::string> refused[] = {
        {{"feed"}, "feed needs add, remove, list or fetch"},
        {{"feed", "drop"}, "feed needs add, remove, list or fetch, not drop"},
        {{"feed", "add"}, "feed add needs one URL"},
        {{"feed", "add", "ftp://x.example/l"}, "not an http or https URL: ftp://x.example/l"},
        {{"feed", "add", "http://x/l", "--every", "10m"},
         "bad option: --every 10m (a TIME of 1h or more: 6h, 1d)"},
        {{"feed", "add", "http://x/l", "--at", "6:30"},
         "bad option: --at 6:30 (a time of day, written HH:MM)"},
        {{"feed", "list", "http://x/l"}, "feed list takes no URL: http://x/l"},
        {{"feed", "remove", "http://x/l", "--every", "6h"}, "unknown option: --every"},
        {{"feed", "add", "http://x/l", "--accept-shrink"}, "unknown option: --accept-shrink"},
        {{"import", "f.txt", "--accept-shrink"}, "unknown option: --accept-shrink"},
        {{"feed", "list", "--rows", "5"},
         "feed takes only --db, --user, --every, --at, --date-order, --accept-shrink, --rdap-ca or "
         "--time-zone, "
         "not --rows"},
        {{"feed", "fetch", "--date-order", "mdy"}, "unknown option: --date-order"},
    };
    for (const auto& [args, error] : refused)
        EXPECT_EQ(parseOptions(args).error, error) << args.back();

    const std::string conf = "feed = https://a.example/drop.zip\n"
                             "feed = http://b.example/list.csv at 05:15 every 12h date-order mdy\n"
                             "feed-every = 2d\n"
                             "db = /tmp/conf.sqlite\n";
    const auto served = parseOptions({}, conf, "service.conf");
    ASSERT_TRUE(served.ok()) << served.error;
    ASSERT_EQ(served.options.confFeeds.size(), 2u);
    EXPECT_EQ(served.options.confFeeds[0].url, "https://a.example/drop.zip");
    EXPECT_EQ(served.options.confFeeds[0].every, std::chrono::hours(48));
    EXPECT_EQ(served.options.confFeeds[0].at, std::nullopt);
    EXPECT_EQ(served.options.confFeeds[1].every, std::chrono::hours(12));
    EXPECT_EQ(served.options.confFeeds[1].at, 5 * 60 + 15);
    EXPECT_EQ(served.options.confFeeds[1].dateOrder, service::DateOrder::MonthFirst);
    EXPECT_EQ(parseOptions({"feed", "list"}, conf, "service.conf").options.dbPath, "/tmp/conf.sqlite");
    EXPECT_EQ(
        parseOptions({}, "feed = https://a.example/x at 25:00\n", "service.conf").error,
        "service.conf:1: bad setting: feed https://a.example/x at 25:00 (after the URL: at HH:MM, every "
        "TIME of 1h or more, date-order mdy|dmy)");
}

} // namespace

namespace {

struct Ran {
    int exitCode = -1;
    QString out, err;
};

Ran run(const QStringList& arguments) {
    const ServiceRun ran = runService(arguments, {}, 120000);
    return {ran.exitCode, QString::fromUtf8(ran.out), QString::fromUtf8(ran.err)};
}

QStringList namesIn(const QString& db) {
    QStringList out;
    for (const QStringList& row : Database(db).rows("SELECT name || '.' || suffix FROM domains ORDER BY 1"))
        out << row.first();
    return out;
}

RdapFixture::Answer listAnswer(const QByteArray& body, const std::string& etag) {
    return {200,
            "text/plain",
            body.toStdString(),
            {{"Last-Modified", "Wed, 09 Dec 2026 06:00:00 GMT"}, {"ETag", etag}}};
}

TEST(FeedFetchCommand, TakenThenNotModifiedThenReplacedAndCutShortOrShrunkenListsLeaveTheListAsItWas) {
    RdapFixture server(true);
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("d.sqlite"));
    const std::string path = "/lists/drops.txt";
    const QString url = QStringLiteral("https://127.0.0.1:%1/lists/drops.txt").arg(server.port());
    const QStringList fetch{"feed", "fetch",     "--db",
                            db,     "--rdap-ca", QString::fromStdString(server.caFile())};
    QFile hand(dir.filePath(QStringLiteral("hand.txt")));
    ASSERT_TRUE(hand.open(QIODevice::WriteOnly) && hand.write(list({"hand.com", "b.com"})) > 0);
    hand.close();
    ASSERT_EQ(run({"import", hand.fileName(), "--db", db}).exitCode, 0);
    const Ran added = run({"feed", "add", url, "--db", db});
    EXPECT_EQ(added.out, "feed added: " + url + ", every 1d\n") << added.err.toStdString();

    // Published as a zip of two lists, whatever the URL's name says.
    QFile zipped(
        writeZip(dir, QStringLiteral("drops.zip"),
                 {{"part1.txt", list({"a.com", "b.com"})}, {"lists/part2.txt", list({"c.net", "d.org"})}}));
    ASSERT_TRUE(zipped.open(QIODevice::ReadOnly));
    server.set(path, listAnswer(zipped.readAll(), "\"v1\""));
    // A body a killed fetch left behind goes with the next fetch; a live process's stays.
    QProcess ended;
    ended.start(QStringLiteral("true"));
    ASSERT_TRUE(ended.waitForStarted());
    const qint64 endedPid = ended.processId();
    ASSERT_TRUE(ended.waitForFinished());
    const QString left = dir.filePath(QStringLiteral(".feed-1-%1-drops.txt").arg(endedPid));
    const QString live =
        dir.filePath(QStringLiteral(".feed-1-%1-drops.txt").arg(QCoreApplication::applicationPid()));
    for (const QString& file : {left, live}) {
        QFile body(file);
        ASSERT_TRUE(body.open(QIODevice::WriteOnly));
    }
    Ran ran = run(fetch);
    ASSERT_EQ(ran.exitCode, 0) << ran.err.toStdString();
    EXPECT_TRUE(ran.out.startsWith("feed " + url + ": 200, ")) << ran.out.toStdString();
    EXPECT_EQ(namesIn(db), (QStringList{"a.com", "b.com", "c.net", "d.org", "hand.com"}));
    EXPECT_FALSE(QFile::exists(left));
    EXPECT_TRUE(QFile::remove(live));

    server.set(path, {304, "", ""});
    const auto generation = Database(db).rows("SELECT value FROM meta WHERE key = 'generation'");
    ran = run(fetch);
    ASSERT_EQ(ran.exitCode, 0) << ran.err.toStdString();
    EXPECT_EQ(ran.out, "feed " + url + ": 304 not modified, the list unchanged\n");
    const QString asked = QString::fromStdString(server.lastRequest(path));
    EXPECT_TRUE(asked.contains("If-None-Match: \"v1\"\r\n", Qt::CaseInsensitive)) << asked.toStdString();
    EXPECT_TRUE(asked.contains("If-Modified-Since: Wed, 09 Dec 2026 06:00:00 GMT\r\n", Qt::CaseInsensitive));
    EXPECT_EQ(Database(db).rows("SELECT value FROM meta WHERE key = 'generation'"), generation);

    // Its b.com goes; the import's stays.
    server.set(path, listAnswer(list({"a.com", "c.net", "e.com"}), "\"v2\""));
    ASSERT_EQ(run(fetch).exitCode, 0);
    EXPECT_EQ(namesIn(db), (QStringList{"a.com", "b.com", "c.net", "e.com", "hand.com"}));
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Hidden | QDir::Files).filter(".feed-").isEmpty());

    const QStringList kept = namesIn(db);
    const std::pair<RdapFixture::Answer, QString> faults[] = {
        {{200, "text/plain", "a.com 2026", {{"Content-Length", "100000"}}}, "cut short"},
        {{500, "text/plain", "down"}, "500"},
        {{302, "", "", {{"Location", path}}}, "more than 3 redirects"},
        {listAnswer(list({"a.com"}), "\"v3\""), "the list shrank from 3 names last time to 1"},
    };
    for (const auto& [answer, why] : faults) {
        server.set(path, answer);
        ran = run(fetch);
        EXPECT_EQ(ran.exitCode, 1) << why.toStdString();
        EXPECT_TRUE(ran.err.contains(why) && ran.err.contains("the list is as it was"))
            << ran.err.toStdString();
        EXPECT_EQ(namesIn(db), kept) << why.toStdString();
        const Ran listed = run({"feed", "list", "--db", db});
        EXPECT_TRUE(listed.out.contains("  last error: ") && listed.out.contains(why))
            << listed.out.toStdString();
    }
    // The server's certificate names 127.0.0.1, not localhost.
    const QString other = QStringLiteral("https://localhost:%1/lists/drops.txt").arg(server.port());
    ASSERT_EQ(run({"feed", "add", other, "--db", db}).exitCode, 0);
    ran = run(fetch + QStringList{other});
    EXPECT_EQ(ran.exitCode, 1);
    EXPECT_TRUE(ran.err.contains("certificate verify failed")) << ran.err.toStdString();
    EXPECT_EQ(namesIn(db), kept);
    ASSERT_EQ(run({"feed", "remove", other, "--db", db}).exitCode, 0);
    ran = run(fetch + QStringList{"--accept-shrink"});
    ASSERT_EQ(ran.exitCode, 0) << ran.err.toStdString();
    EXPECT_EQ(namesIn(db), (QStringList{"a.com", "b.com", "hand.com"}));
    const Ran listed = run({"feed", "list", "--db", db});
    EXPECT_TRUE(listed.out.contains("  last list: 0 added, 0 updated, 1 unchanged, 2 removed, 0 skipped\n"))
        << listed.out.toStdString();
    EXPECT_FALSE(listed.out.contains("last error")) << listed.out.toStdString();
}

// A feed added before the service ever ran makes its database, which then holds the feeds' names
// alone: no sample names are seeded into it.
TEST(FeedStore, AFeedAddedWhereNoDatabaseIsMakesOneNoServiceSeeds) {
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("new/folder/d.sqlite"));
    ASSERT_EQ(run({"feed", "add", "http://127.0.0.1:9/drops.txt", "--db", db}).exitCode, 0);
    ServiceProcess service({.rows = 200, .dbPath = db});
    ASSERT_TRUE(service.start()) << service.error().toStdString();
    EXPECT_EQ(Database(db).rows("SELECT COUNT(*) FROM domains"), (QList<QStringList>{{"0"}}));
}

TEST(FeedBanner, TheRefreshIsShownInTheServicesZone) {
    const service::ListRefresh refresh{1765260000, 2}; // 2025-12-09 06:00 UTC
    const QString tokyo =
        fromGbk(QByteArray::fromStdString(service::bannerPage(10, false, &refresh, QTimeZone("Asia/Tokyo"))));
    EXPECT_TRUE(tokyo.contains("列表更新于 2025-12-09 15:00<br>来自 2 个来源")) << tokyo.toStdString();
    EXPECT_TRUE(fromGbk(QByteArray::fromStdString(service::bannerPage(10, false, &refresh, QTimeZone::utc())))
                    .contains("列表更新于 2025-12-09 06:00"));
}

// Early in a month a US list's dates all read both ways: refused until the feed says its order.
TEST(FeedFetchCommand, AFeedsDateOrderReadsDatesTheListLeavesOpen) {
    RdapFixture server;
    const QDate ahead = QDate::currentDate().addMonths(2);
    const QDate day(ahead.year(), ahead.month(), 3);
    server.set("/us.csv",
               listAnswer("Domain,Delete Date\nus-order.com," + day.toString("MM/dd/yyyy").toLatin1() + "\n" +
                              "us-next.com," + day.addDays(1).toString("MM/dd/yyyy").toLatin1() + "\n",
                          "\"u\""));
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("d.sqlite"));
    const QString url = QStringLiteral("http://127.0.0.1:%1/us.csv").arg(server.port());
    ASSERT_EQ(run({"feed", "add", url, "--db", db}).exitCode, 0);
    Ran ran = run({"feed", "fetch", "--db", db});
    EXPECT_EQ(ran.exitCode, 1);
    EXPECT_TRUE(ran.err.contains("--date-order")) << ran.err.toStdString();
    ASSERT_EQ(run({"feed", "add", url, "--date-order", "mdy", "--db", db}).exitCode, 0);
    EXPECT_TRUE(run({"feed", "list", "--db", db}).out.contains("every 1d, dates mdy\n"));
    ran = run({"feed", "fetch", "--db", db});
    ASSERT_EQ(ran.exitCode, 0) << ran.err.toStdString();
    EXPECT_EQ(Database(db).rows("SELECT substr(deletion, 1, 10) FROM domains WHERE name = 'us-order'"),
              (QList<QStringList>{{day.toString(Qt::ISODate)}}));
}

TEST(FeedService, FetchesAFeedAddedBesideItAndItsBannerSaysWhenTheListWasRefreshed) {
    RdapFixture server;
    server.set("/drops.txt", listAnswer(list({"fed.com", "fed.net"}), "\"1\""));
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("d.sqlite"));
    ServiceProcess service({.rows = 200, .dbPath = db});
    ASSERT_TRUE(service.start()) << service.error().toStdString();
    const QByteArray banner = "GET /asd/yuming.htm HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    const QByteArray before = bodyOf(exchange(service.port(), banner));
    EXPECT_FALSE(before.contains(".fresh{"));

    const QString url = QStringLiteral("http://127.0.0.1:%1/drops.txt").arg(server.port());
    ASSERT_EQ(run({"feed", "add", url, "--db", db}).exitCode, 0);
    ASSERT_TRUE(waitFor(
        [&] { return fromGbk(bodyOf(exchange(service.port(), banner))).contains("来自 1 个来源"); }, 20000))
        << service.log().toStdString();
    EXPECT_EQ(server.hits("/drops.txt"), 1);
    EXPECT_TRUE(service.log().contains(("feed " + url + ": 200, ").toUtf8())) << service.log().toStdString();
    EXPECT_EQ(namesIn(db).filter("fed."), (QStringList{"fed.com", "fed.net"}));

    // Stopped in the middle of a slow fetch: the service ends at once, leaving no body and no
    // failure on the feed, which is fetched again at the next start.
    const QString slow = QStringLiteral("http://127.0.0.1:%1/slow.txt").arg(server.port());
    RdapFixture::Answer trickled = listAnswer(list({"slow.com"}), "\"2\"");
    trickled.trickle = true;
    server.set("/slow.txt", trickled);
    ASSERT_EQ(run({"feed", "add", slow, "--db", db}).exitCode, 0);
    ASSERT_TRUE(waitFor([&] { return server.hits("/slow.txt") == 1; }, 20000));
    QElapsedTimer stopping;
    stopping.start();
    EXPECT_EQ(service.stop(), 0);
    EXPECT_LT(stopping.elapsed(), 3000);
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Hidden | QDir::Files).filter(".feed-").isEmpty());
    EXPECT_FALSE(run({"feed", "list", "--db", db}).out.contains("last error"));
}

} // namespace
