// The watchlist: its schedule at a clock the test sets, a name walked through its lifecycle by a
// loopback registry, and the API of the running service.
#include "app/service_options.h"
#include "registry/online_lookups.h"
#include "service_record.h"
#include "service_test_util.h"
#include "store/schema.h"
#include "support/rdap_fixture.h"
#include "watch/watch_checks.h"
#include "watch/watchlist.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <map>
#include <mutex>

using namespace yuming;
using namespace yuming::service;
using yuming::testing::RdapFixture;
using yuming::testing::ServiceProcess;

namespace {

constexpr qint64 kHour = 3600;
constexpr qint64 kDay = 24 * kHour;

QDateTime at(qint64 secs) {
    return QDateTime::fromSecsSinceEpoch(secs, QTimeZone::utc());
}

// A clock the test moves.
struct TestClock {
    std::atomic<qint64> secs{1'800'000'000};
    WatchSchedule::Clock clock() {
        return [this] { return at(secs.load()); };
    }
};

WatchIntervals noJitter() {
    WatchIntervals intervals;
    intervals.jitter = 0;
    return intervals;
}

WatchAnswer answered(WatchStatus status, qint64 deletion = 0, qint64 expiry = 0) {
    WatchAnswer answer;
    answer.ok = true;
    answer.status = status;
    if (deletion) answer.deletion = at(deletion);
    if (expiry) answer.expiry = at(expiry);
    answer.basis = "redemption";
    return answer;
}

TEST(WatchSchedule, PacesChecksByStatusAndBacksOffAfterFailures) {
    TestClock time;
    WatchSchedule schedule(noJitter(), time.clock());
    const qint64 now = time.secs;
    WatchState state = schedule.added("pace.com");
    EXPECT_EQ(state.nextCheck, at(now));
    const auto nextAfter = [&](const WatchAnswer& answer) {
        schedule.apply(state, answer);
        return state.nextCheck.toSecsSinceEpoch() - now;
    };
    EXPECT_EQ(nextAfter(answered(WatchStatus::Active, now + 400 * kDay, now + 325 * kDay)), kDay);
    EXPECT_EQ(nextAfter(answered(WatchStatus::Active, now + 110 * kDay, now + 30 * kDay)), 6 * kHour);
    // Active, its expiry 46 days off: daily, but asked again as the 45 days begin.
    EXPECT_EQ(nextAfter(answered(WatchStatus::Active, now + 120 * kDay, now + 45 * kDay + 600)), 600);
    EXPECT_EQ(nextAfter(answered(WatchStatus::AutoRenewGrace, now + 60 * kDay, now - kDay)), kHour);
    EXPECT_EQ(nextAfter(answered(WatchStatus::Redemption, now + 20 * kDay, now - 50 * kDay)), kHour);
    // Redemption with its drop within the day is paced as pending delete.
    EXPECT_EQ(nextAfter(answered(WatchStatus::Redemption, now + 20 * kHour, now - 70 * kDay)), 600);
    EXPECT_EQ(nextAfter(answered(WatchStatus::PendingDelete, now + 4 * kDay, now - 70 * kDay)), 600);
    EXPECT_EQ(nextAfter(answered(WatchStatus::NotRegistered)), kDay);

    // Failures: retried after 1, 2, 4 minutes, never reported, the last answer standing.
    const WatchState before = state;
    WatchAnswer failed;
    failed.error = "timed out";
    for (const qint64 retry : {60, 120, 240}) {
        EXPECT_TRUE(schedule.apply(state, failed).empty());
        EXPECT_EQ(state.nextCheck.toSecsSinceEpoch() - now, retry);
    }
    EXPECT_EQ(state.status, before.status);
    EXPECT_EQ(state.checkedAt, before.checkedAt);

    // Jitter only ever brings a check forward, by at most its share.
    WatchIntervals jittered;
    jittered.jitter = 0.5;
    WatchSchedule spread(jittered, time.clock(), 42);
    for (int i = 0; i < 50; ++i) {
        WatchState name = spread.added("spread.com");
        spread.apply(name, answered(WatchStatus::NotRegistered));
        const qint64 in = name.nextCheck.toSecsSinceEpoch() - now;
        EXPECT_GE(in, kDay / 2);
        EXPECT_LE(in, kDay);
    }
}

TEST(WatchSchedule, RemindersOnceAtTheirLeadsAndAMovedEstimate) {
    TestClock time;
    WatchSchedule schedule(noJitter(), time.clock());
    const qint64 drop = time.secs + 3 * kDay;
    WatchState state = schedule.added("remind.com");
    schedule.apply(state, answered(WatchStatus::PendingDelete, drop));
    EXPECT_TRUE(schedule.remindersDue(state).empty());
    EXPECT_EQ(schedule.nextWake(state), at(time.secs + 600));

    time.secs = drop - 25 * kHour;
    EXPECT_TRUE(schedule.remindersDue(state).empty());
    time.secs = drop - 23 * kHour;
    std::vector<WatchEvent> due = schedule.remindersDue(state);
    ASSERT_EQ(due.size(), 1u);
    EXPECT_EQ(due[0].kind, WatchEvent::Kind::Reminder);
    EXPECT_EQ(due[0].lead.count(), 24 * kHour);
    EXPECT_TRUE(schedule.remindersDue(state).empty());
    // The next wake is the hour-before reminder when no check comes first.
    state.nextCheck = at(drop);
    EXPECT_EQ(schedule.nextWake(state), at(drop - kHour));

    // An estimate that moves by half an hour is the same one; by two hours, an event, and the
    // reminders start again for the new time.
    std::vector<WatchEvent> events = schedule.apply(state, answered(WatchStatus::PendingDelete, drop + 1800));
    EXPECT_TRUE(events.empty());
    EXPECT_TRUE(schedule.remindersDue(state).empty());
    events = schedule.apply(state, answered(WatchStatus::PendingDelete, drop + 2 * kHour));
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, WatchEvent::Kind::DeletionMoved);
    EXPECT_EQ(events[0].previousDeletion, at(drop + 1800));
    EXPECT_TRUE(schedule.remindersDue(state).empty());
    time.secs = drop + 2 * kHour - 23 * kHour;
    due = schedule.remindersDue(state);
    ASSERT_EQ(due.size(), 1u);
    EXPECT_EQ(due[0].lead.count(), 24 * kHour);

    // Half an hour before: the one-hour reminder, once; past the drop, none.
    time.secs = drop + 2 * kHour - 1800;
    due = schedule.remindersDue(state);
    ASSERT_EQ(due.size(), 1u);
    EXPECT_EQ(due[0].lead.count(), kHour);
    EXPECT_TRUE(schedule.remindersDue(state).empty());
    WatchState late = schedule.added("late.com");
    schedule.apply(late, answered(WatchStatus::PendingDelete, time.secs - 60));
    EXPECT_TRUE(schedule.remindersDue(late).empty());
}

// An RDAP domain answer with these statuses and events (action, seconds since the epoch).
std::string domainJson(const std::string& name, const std::string& status,
                       const std::vector<std::pair<std::string, qint64>>& events) {
    std::string json = R"({"objectClassName":"domain","ldhName":")" + name + R"(","status":[")" + status +
                       R"("],"events":[)";
    for (std::size_t i = 0; i < events.size(); ++i)
        json += std::string(i ? "," : "") + R"({"eventAction":")" + events[i].first + R"(","eventDate":")" +
                at(events[i].second).toString(Qt::ISODate).toStdString() + "\"}";
    return json + "]}";
}

RdapFixture::Answer rdap(std::string body, int status = 200) {
    RdapFixture::Answer made;
    made.status = status;
    made.body = std::move(body);
    return made;
}

// The watchlist of a real database, checked through the real lookups against the fixture.
class WatchLifecycle : public ::testing::Test {
protected:
    void SetUp() override {
        time.secs = now;
        db = dir.filePath("watch.sqlite").toStdString();
        std::string error;
        ASSERT_TRUE(prepareDatabase(db, {.seed = 3, .rows = 200}, QDate::currentDate(), error)) << error;
        auto bootstrap =
            RdapBootstrap::load(RdapFixture::writeBootstrap(dir.path().toStdString(), fixture.baseUrl()));
        ASSERT_TRUE(bootstrap.ok()) << bootstrap.error;
        OnlineOptions options;
        options.dbPath = db;
        options.bootstrap = std::move(bootstrap.bootstrap);
        options.rate = 20;
        options.zone = QTimeZone::utc();
        online = std::make_unique<OnlineLookups>(options, nullptr);
        watchlist = std::make_unique<Watchlist>(db, WatchSchedule(noJitter(), time.clock()),
                                                makeChecker(db, online.get(), QTimeZone::utc(), false),
                                                [this](const WatchEvent& event) {
                                                    const std::lock_guard lock(mutex);
                                                    events.push_back(event);
                                                });
        ASSERT_TRUE(watchlist->start(error)) << error;
    }
    void TearDown() override {
        if (online) online->stop();
        if (watchlist) watchlist->stop();
    }

    std::vector<CheckReport> checkNow(const std::string& name) {
        std::promise<std::vector<CheckReport>> done;
        watchlist->checkNow({name}, std::chrono::seconds(20), [&done](std::vector<CheckReport> reports) {
            done.set_value(std::move(reports));
        });
        return done.get_future().get();
    }
    std::vector<WatchEvent> takeEvents() {
        const std::lock_guard lock(mutex);
        return std::exchange(events, {});
    }

    QTemporaryDir dir;
    std::string db;
    RdapFixture fixture;
    TestClock time;
    std::unique_ptr<OnlineLookups> online;
    std::unique_ptr<Watchlist> watchlist;
    std::mutex mutex;
    std::vector<WatchEvent> events;
    const qint64 now = QDateTime::currentSecsSinceEpoch();
};

TEST_F(WatchLifecycle, EachChangeOneEventFailuresNoneHistoryKept) {
    const std::string path = "/rdap/domain/walk.com";
    const qint64 expiry = now - 10 * kDay;
    fixture.set(path, rdap(domainJson("walk.com", "active", {{"expiration", now + 200 * kDay}})));
    ASSERT_EQ(watchlist->add({"walk.com"}).added, 1);
    // A name added is checked at once; its first answer is where it stands, not a change.
    std::vector<CheckReport> report = checkNow("walk.com");
    ASSERT_EQ(report.size(), 1u);
    EXPECT_EQ(report[0].to, WatchStatus::Active);
    EXPECT_TRUE(report[0].error.empty()) << report[0].error;
    EXPECT_TRUE(takeEvents().empty());
    const int askedBefore = fixture.hits(path);

    struct Step {
        std::string status;
        std::vector<std::pair<std::string, qint64>> events;
        WatchStatus expected;
    };
    const Step steps[] = {
        {"auto renew period", {{"expiration", expiry}}, WatchStatus::AutoRenewGrace},
        {"redemption period",
         {{"expiration", expiry}, {"last changed", now - kDay}},
         WatchStatus::Redemption},
        {"pending delete",
         {{"expiration", expiry}, {"last changed", now - kHour}},
         WatchStatus::PendingDelete},
    };
    WatchStatus last = WatchStatus::Active;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.status);
        fixture.set(path, rdap(domainJson("walk.com", step.status, step.events)));
        report = checkNow("walk.com");
        ASSERT_EQ(report.size(), 1u);
        EXPECT_TRUE(report[0].changed);
        std::vector<WatchEvent> got = takeEvents();
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].kind, WatchEvent::Kind::StatusChanged);
        EXPECT_EQ(got[0].from, last);
        EXPECT_EQ(got[0].to, step.expected);
        last = step.expected;

        // The same answer again: asked (whatever the kept answer's age), no event.
        report = checkNow("walk.com");
        EXPECT_FALSE(report[0].changed);
        EXPECT_TRUE(takeEvents().empty());
    }
    EXPECT_EQ(fixture.hits(path) - askedBefore, 6);

    // The registry fails: no event, the last state standing.
    fixture.set(path, rdap("{}", 500));
    report = checkNow("walk.com");
    EXPECT_FALSE(report[0].error.empty());
    EXPECT_TRUE(takeEvents().empty());
    EXPECT_EQ(watchlist->list().at(0).status, WatchStatus::PendingDelete);

    fixture.set(path, rdap("{}", 404));
    report = checkNow("walk.com");
    std::vector<WatchEvent> got = takeEvents();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].to, WatchStatus::NotRegistered);

    // The history survives a restart of the watchlist.
    watchlist->stop();
    std::string error;
    Watchlist again(db, WatchSchedule(noJitter(), time.clock()), {}, {});
    ASSERT_TRUE(again.start(error)) << error;
    ASSERT_EQ(again.list().size(), 1u);
    EXPECT_EQ(again.list()[0].status, WatchStatus::NotRegistered);
    const auto history = again.history("walk.com");
    ASSERT_TRUE(history.ok()) << history.error;
    std::vector<std::pair<WatchStatus, WatchStatus>> changes;
    for (const WatchChange& change : history.value)
        changes.emplace_back(change.from, change.to);
    EXPECT_EQ(changes, (std::vector<std::pair<WatchStatus, WatchStatus>>{
                           {WatchStatus::Unknown, WatchStatus::Active},
                           {WatchStatus::Active, WatchStatus::AutoRenewGrace},
                           {WatchStatus::AutoRenewGrace, WatchStatus::Redemption},
                           {WatchStatus::Redemption, WatchStatus::PendingDelete},
                           {WatchStatus::PendingDelete, WatchStatus::NotRegistered}}));
    again.stop();
}

// Lookups falling back on the list when the registry is down: a name it holds takes the list's
// state, one it does not stays unknown rather than free.
TEST_F(WatchLifecycle, AnUnreachedRegistryLeavesHeldNamesToTheList) {
    watchlist->stop();
    const QString soon =
        QDateTime::fromSecsSinceEpoch(now + kDay, QTimeZone::utc()).toString("yyyy-MM-dd HH:mm:ss");
    const auto held = yuming::testing::Database(QString::fromStdString(db))
                          .rows("SELECT name || '.com' FROM domains WHERE suffix = 'com' AND deletion > ? "
                                "ORDER BY deletion DESC LIMIT 1",
                                {soon});
    ASSERT_EQ(held.size(), 1);
    const std::string name = held[0][0].toStdString();
    fixture.stopAnswering(true);
    watchlist = std::make_unique<Watchlist>(db, WatchSchedule(noJitter(), time.clock()),
                                            makeChecker(db, online.get(), QTimeZone::utc(), true),
                                            [](const WatchEvent&) {});
    std::string error;
    ASSERT_TRUE(watchlist->start(error)) << error;
    ASSERT_EQ(watchlist->add({name, "nowhere.com"}).added, 2);
    EXPECT_TRUE(checkNow(name).at(0).error.empty());
    EXPECT_FALSE(checkNow("nowhere.com").at(0).error.empty());
    std::map<std::string, WatchState> states;
    for (const WatchState& state : watchlist->list())
        states[state.name] = state;
    EXPECT_NE(states[name].status, WatchStatus::Unknown);
    EXPECT_EQ(states[name].basis, "local");
    EXPECT_TRUE(states[name].deletion.isValid());
    EXPECT_EQ(states["nowhere.com"].status, WatchStatus::Unknown);
}

// With the real clock: a check falls due and runs on time, with no request to prompt it.
TEST(WatchTiming, ADueCheckRunsWithinSecondsOfItsTime) {
    QTemporaryDir dir;
    const std::string db = dir.filePath("due.sqlite").toStdString();
    std::string error;
    ASSERT_TRUE(prepareDatabase(db, {.seed = 3, .rows = 50}, QDate::currentDate(), error)) << error;
    WatchIntervals intervals = noJitter();
    intervals.settled = std::chrono::seconds(2);
    std::mutex mutex;
    std::vector<std::chrono::steady_clock::time_point> checks;
    Watchlist watchlist(
        db, WatchSchedule(intervals),
        [&](const std::string&, std::chrono::seconds, std::function<void(WatchAnswer)> done) {
            {
                const std::lock_guard lock(mutex);
                checks.push_back(std::chrono::steady_clock::now());
            }
            done(answered(WatchStatus::NotRegistered));
        },
        [](const WatchEvent&) {});
    ASSERT_TRUE(watchlist.start(error)) << error;
    watchlist.add({"due.com"});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < deadline) {
        {
            const std::lock_guard lock(mutex);
            if (checks.size() >= 3) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    watchlist.stop();
    ASSERT_GE(checks.size(), 3u);
    for (std::size_t i = 1; i < 3; ++i) {
        const auto apart = std::chrono::duration_cast<std::chrono::milliseconds>(checks[i] - checks[i - 1]);
        EXPECT_GE(apart.count(), 1900);
        EXPECT_LE(apart.count(), 2000 + 5000);
    }
}

TEST(WatchSettings, IntervalsAndRemindersFromTheCommandLineAndServiceConf) {
    const OptionsResult set =
        parseOptions({"--watch-pending", "90s", "--watch-grace", "2h", "--watch-settled", "3d"},
                     "watch-remind = 48h, 30m\nwatch-expiring = 600\n", "service.conf");
    ASSERT_TRUE(set.ok()) << set.error;
    EXPECT_EQ(set.options.watch.pendingDelete.count(), 90);
    EXPECT_EQ(set.options.watch.grace.count(), 2 * kHour);
    EXPECT_EQ(set.options.watch.expiring.count(), 600);
    EXPECT_EQ(set.options.watch.settled.count(), 3 * kDay);
    EXPECT_EQ(set.options.watch.reminders,
              (std::vector<std::chrono::seconds>{std::chrono::hours(48), std::chrono::minutes(30)}));
    EXPECT_TRUE(parseOptions({"--watch-remind", "none"}).options.watch.reminders.empty());
    for (const char* bad : {"10x", "0", "", "h", "-5m", "400d"})
        EXPECT_EQ(parseOptions({"--watch-grace", bad}).error,
                  std::string("bad option: --watch-grace ") + bad);
    EXPECT_EQ(parseOptions({}, "watch-remind = 1h,,2h\n", "service.conf").error,
              "service.conf:1: bad option: --watch-remind 1h,,2h");
}

TEST(ServiceRecord, TokenOnTheThirdLineAndOlderRecordsStillRead) {
    const QByteArray token(64, 'a');
    const user_service::Record record{QStringLiteral("127.0.0.1"), 8123, 42, token};
    EXPECT_EQ(user_service::formatRecord(record), "127.0.0.1:8123\n42\n" + token + '\n');
    const auto read = user_service::parseRecord(user_service::formatRecord(record));
    ASSERT_TRUE(read);
    EXPECT_EQ(read->port, 8123);
    EXPECT_EQ(read->token, token);
    const auto older = user_service::parseRecord("127.0.0.1:8123\n42\n");
    ASSERT_TRUE(older);
    EXPECT_EQ(older->pid, 42);
    EXPECT_TRUE(older->token.isEmpty());
    // A third line that is no token is not taken for one.
    for (const QByteArray& line : {QByteArray(63, 'a'), QByteArray(64, 'A'), QByteArray(64, 'g')}) {
        const auto odd = user_service::parseRecord("127.0.0.1:8123\n42\n" + line + '\n');
        ASSERT_TRUE(odd);
        EXPECT_TRUE(odd->token.isEmpty());
    }
}

// The running service, as this user's own (its record in a runtime folder of the test's).
class WatchApiTest : public ::testing::Test {
protected:
    void SetUp() override {
        qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
        qputenv("XDG_DATA_HOME", runtime.filePath("data").toLocal8Bit());
        ServiceProcess::Options options;
        options.rows = 300;
        options.extraArgs = {"--user"};
        if (idleExit) options.extraArgs << "--idle-exit" << QString::number(idleExit);
        service = std::make_unique<ServiceProcess>(options);
        ASSERT_TRUE(service->start()) << service->error().toStdString();
        QFile record(runtime.filePath("yuming/service"));
        ASSERT_TRUE(record.open(QIODevice::ReadOnly));
        recordText = record.readAll();
        recordPermissions = record.permissions();
        const auto parsed = user_service::parseRecord(recordText);
        ASSERT_TRUE(parsed);
        token = parsed->token;
    }

    // One request on a connection of its own: the status and the body as JSON.
    std::pair<int, QJsonObject> call(const QByteArray& method, const QByteArray& path,
                                     const QByteArray& body = {}, const QByteArray& extra = {},
                                     std::optional<QByteArray> bearer = {},
                                     std::optional<QByteArray> host = {}) {
        QByteArray request = method + ' ' + path + " HTTP/1.1\r\nHost: " +
                             host.value_or("127.0.0.1:" + QByteArray::number(service->port())) +
                             "\r\nConnection: close\r\n";
        request += "Authorization: Bearer " + bearer.value_or(token) + "\r\n" + extra;
        if (method == "POST")
            request +=
                "Content-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size()) +
                "\r\n";
        const QByteArray answer = yuming::testing::exchange(service->port(), request + "\r\n" + body, 20000);
        return {yuming::testing::statusOf(answer),
                QJsonDocument::fromJson(yuming::testing::bodyOf(answer)).object()};
    }
    QStringList watched() {
        QStringList names;
        for (const QJsonValue& entry : call("GET", "/api/watch").second["names"].toArray())
            names << entry["name"].toString();
        return names;
    }

    int idleExit = 0;
    QTemporaryDir runtime;
    std::unique_ptr<ServiceProcess> service;
    QByteArray recordText;
    QFileDevice::Permissions recordPermissions;
    QByteArray token;
};

TEST_F(WatchApiTest, TheTokenInTheRecordGuardsEveryRequest) {
    const QList<QByteArray> lines = recordText.split('\n');
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[0], "127.0.0.1:" + QByteArray::number(service->port()));
    EXPECT_EQ(token.size(), 64);
    EXPECT_EQ(recordPermissions, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser |
                                     QFileDevice::WriteUser);

    const QByteArray add = R"({"names":["guarded.com"]})";
    // Without the header, with a wrong token, from a foreign Host: refused, nothing added.
    const QByteArray request =
        "POST /api/watch/add HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(service->port()) +
        "\r\nConnection: close\r\nContent-Type: application/json\r\nContent-Length: " +
        QByteArray::number(add.size()) + "\r\n\r\n" + add;
    EXPECT_EQ(yuming::testing::statusOf(yuming::testing::exchange(service->port(), request)), 401);
    EXPECT_EQ(call("POST", "/api/watch/add", add, {}, QByteArray(64, '0')).first, 401);
    EXPECT_EQ(
        call("POST", "/api/watch/add", add, {}, {}, "evil.example:" + QByteArray::number(service->port()))
            .first,
        403);
    EXPECT_EQ(call("POST", "/api/watch/add", add, "Origin: http://evil.example\r\n").first, 403);
    EXPECT_EQ(call("GET", "/api/watch", {}, {}, QByteArray("wrong")).first, 401);
    EXPECT_TRUE(watched().isEmpty());

    const auto [status, body] =
        call("POST", "/api/watch/add", add, {}, {}, "localhost:" + QByteArray::number(service->port()));
    EXPECT_EQ(status, 200);
    EXPECT_EQ(body["added"].toInt(), 1);
    EXPECT_EQ(watched(), QStringList{"guarded.com"});
    // The pages stay open to all, as before.
    EXPECT_EQ(yuming::testing::statusOf(yuming::testing::exchange(
                  service->port(), "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n")),
              200);
}

TEST_F(WatchApiTest, BadNamesChangeNothingAndTenThousandGoInOneCall) {
    ASSERT_EQ(call("POST", "/api/watch/add", R"({"names":["kept.com"]})").first, 200);
    struct Bad {
        const char* what;
        QByteArray body;
    };
    const QByteArray tooLong = QByteArray(250, 'a') + ".com";
    const Bad cases[] = {
        {"not a domain", R"({"names":["fine.com","not a domain"]})"},
        {"unsupported suffix", R"({"names":["fine.com","name.xyz"]})"},
        {"over 253 bytes", R"({"names":["fine.com",")" + tooLong + R"("]})"},
        {"a subdomain", R"({"names":["www.fine.com"]})"},
        {"not a string", R"({"names":["fine.com",7]})"},
        {"malformed JSON", R"({"names":["fine.com")"},
        {"no list", R"({"name":"fine.com"})"},
    };
    for (const Bad& bad : cases) {
        SCOPED_TRACE(bad.what);
        const auto [status, body] = call("POST", "/api/watch/add", bad.body);
        EXPECT_EQ(status, 400);
        EXPECT_FALSE(body["error"].toString().isEmpty());
    }
    EXPECT_EQ(call("POST", "/api/watch/add", R"({"names":["fine.com","bad name"]})").second["bad"].toArray(),
              QJsonArray{"bad name"});
    EXPECT_EQ(watched(), QStringList{"kept.com"});

    QJsonArray many;
    for (int i = 0; i < 10000; ++i)
        many.append(QStringLiteral("bulk%1.%2").arg(i, 5, 10, QChar('0')).arg(i % 2 ? "net" : "com"));
    const QByteArray body = QJsonDocument(QJsonObject{{"names", many}}).toJson(QJsonDocument::Compact);
    const auto [status, added] = call("POST", "/api/watch/add", body);
    EXPECT_EQ(status, 200);
    EXPECT_EQ(added["added"].toInt(), 10000);
    EXPECT_EQ(call("POST", "/api/watch/add", body).second["already"].toInt(), 10000);
    many.append("one-more.com");
    EXPECT_EQ(call("POST", "/api/watch/add", QJsonDocument(QJsonObject{{"names", many}}).toJson()).first,
              400);
    const QStringList names = watched();
    ASSERT_EQ(names.size(), 10001);
    EXPECT_EQ(names.front(), "bulk00000.com");
    EXPECT_EQ(names.back(), "kept.com");
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
    EXPECT_EQ(
        call("POST", "/api/watch/remove", R"({"names":["kept.com","never.com"]})").second["removed"].toInt(),
        1);
    EXPECT_EQ(call("GET", "/api/watch/history?name=kept.com").first, 404);
}

class WatchIdle : public WatchApiTest {
protected:
    WatchIdle() { idleExit = 1; }
};

TEST_F(WatchIdle, TheServiceStaysWhileNamesAreWatched) {
    ASSERT_EQ(call("POST", "/api/watch/add", R"({"names":["stay.com"]})").first, 200);
    std::this_thread::sleep_for(std::chrono::milliseconds(3500));
    EXPECT_TRUE(service->isRunning());
    ASSERT_EQ(call("POST", "/api/watch/remove", R"({"names":["stay.com"]})").first, 200);
    EXPECT_TRUE(service->waitForExit(10000));
}

} // namespace
