// The tool's own lookup against the real service answering from a registry: a loopback RDAP
// server of the test's, named by a bootstrap file.
#include "lookup/lookup_command.h"
#include "search/search_commands.h"
#include "search/service_link.h"
#include "support/qt_print.h"
#include "support/rdap_fixture.h"
#include "support/service_process.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimeZone>

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <future>
#include <iostream>

using namespace yuming;
using yuming::testing::RdapFixture;
using yuming::testing::ServiceProcess;

namespace {

std::string isoTime(qint64 secs) {
    return QDateTime::fromSecsSinceEpoch(secs, QTimeZone::utc()).toString(Qt::ISODate).toStdString();
}

std::string shown(qint64 secs) {
    return QDateTime::fromSecsSinceEpoch(secs, QTimeZone::utc())
        .toString("yyyy-MM-dd HH:mm:ss")
        .toStdString();
}

// An RDAP domain answer with these statuses and events (action, seconds since the epoch).
std::string domainJson(const std::string& name, const std::vector<std::string>& statuses,
                       const std::vector<std::pair<std::string, qint64>>& events) {
    std::string json = R"({"objectClassName":"domain","ldhName":")" + name + R"(","status":[)";
    for (std::size_t i = 0; i < statuses.size(); ++i)
        json += (i ? ",\"" : "\"") + statuses[i] + '"';
    json += R"(],"events":[)";
    for (std::size_t i = 0; i < events.size(); ++i)
        json += std::string(i ? "," : "") + R"({"eventAction":")" + events[i].first + R"(","eventDate":")" +
                isoTime(events[i].second) + "\"}";
    return json + "]}";
}

constexpr qint64 kDay = 24 * 3600;

RdapFixture::Answer answer(std::string body, int status = 200,
                           std::string contentType = "application/rdap+json") {
    RdapFixture::Answer made;
    made.status = status;
    made.contentType = std::move(contentType);
    made.body = std::move(body);
    return made;
}

class OnlineLookup : public ::testing::Test {
protected:
    void startService(RdapFixture& fixture, QStringList extra = {}) {
        startService(fixture.baseUrl(), extra);
    }
    // With the registry of com, net and org at `base`.
    void startService(const std::string& base, QStringList extra) {
        const QString bootstrap =
            QString::fromStdString(RdapFixture::writeBootstrap(dir.path().toStdString(), base));
        ServiceProcess::Options options;
        options.rows = 500;
        options.extraArgs =
            QStringList{"--rdap", "--rdap-bootstrap", bootstrap, "--time-zone", "UTC"} + extra;
        service = std::make_unique<ServiceProcess>(options);
        ASSERT_TRUE(service->start()) << service->error().toStdString();
        fetch = std::make_unique<ServiceLink>();
        lookupCommand = std::make_unique<LookupCommand>(*fetch, *ServiceAddress::parse(service->address()),
                                                        dir.filePath("xxx.txt"));
    }

    // Text6 after the tool's lookup of `domain`.
    QString lookup(const QString& domain) {
        QString result;
        QObject::connect(lookupCommand.get(), &LookupCommand::resultTextChanged,
                         [&](const QString& s) { result = s; });
        QObject::connect(lookupCommand.get(), &LookupCommand::finished,
                         [&](const LookupResult& r) { reason = r.reason; });
        QSignalSpy done(lookupCommand.get(), &LookupCommand::finished);
        EXPECT_EQ(lookupCommand->lookup(domain), CommandResult::started());
        EXPECT_TRUE(done.wait(30000));
        QObject::disconnect(lookupCommand.get(), &LookupCommand::resultTextChanged, nullptr, nullptr);
        QObject::disconnect(lookupCommand.get(), &LookupCommand::finished, nullptr, nullptr);
        return result;
    }

    // The names the tool's search finds for a keyword.
    QStringList search(const QString& key) {
        ServiceLink searchLink;
        SearchCommands commands(searchLink, *ServiceAddress::parse(service->address()));
        QStringList names;
        QObject::connect(&commands, &SearchCommands::rowsAdded, [&](const QList<ResultRow>& rows) {
            for (const ResultRow& row : rows)
                names << row.domain().toString() + ' ' + row.deletionTime().toString();
        });
        SearchQuery filters;
        filters.keyword = key;
        QSignalSpy done(&commands, &SearchCommands::finished);
        EXPECT_EQ(commands.newSearch(filters), CommandResult::started());
        EXPECT_TRUE(done.wait(10000));
        return names;
    }

    // Makes every kept answer `seconds` older.
    void age(qint64 seconds) {
        sqlite3* db = nullptr;
        sqlite3_open(service->dbPath().toUtf8().constData(), &db);
        sqlite3_busy_timeout(db, 5000);
        const std::string sql = "UPDATE rdap_answers SET fetched = fetched - " + std::to_string(seconds);
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }

    // How many answers about `domain` the service keeps.
    int answers(const std::string& domain) {
        sqlite3* db = nullptr;
        sqlite3_open_v2(service->dbPath().toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_busy_timeout(db, 5000);
        sqlite3_stmt* select = nullptr;
        sqlite3_prepare_v2(db, "SELECT COUNT(*) FROM rdap_answers WHERE domain = ?", -1, &select, nullptr);
        sqlite3_bind_text(select, 1, domain.c_str(), -1, SQLITE_TRANSIENT);
        const int count = sqlite3_step(select) == SQLITE_ROW ? sqlite3_column_int(select, 0) : -1;
        sqlite3_finalize(select);
        sqlite3_close(db);
        return count;
    }

    static QString found(const std::string& expiry, const std::string& deletion) {
        return QString::fromStdString("查询完成...\r\n\r\n域名到期时间：" + expiry +
                                      "    域名删除时间：预算 " + deletion);
    }

    // One of the service's own names, with its dates as the drop list has them.
    struct Held {
        QString domain;
        std::string expiry, deletion;
    };
    Held held(const char* suffix) {
        sqlite3* db = nullptr;
        sqlite3_open_v2(service->dbPath().toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr);
        // The service may still be storing its search index.
        sqlite3_busy_timeout(db, 5000);
        sqlite3_stmt* select = nullptr;
        sqlite3_prepare_v2(
            db, "SELECT name || '.' || suffix, expiry, deletion FROM domains WHERE suffix = ? LIMIT 1", -1,
            &select, nullptr);
        sqlite3_bind_text(select, 1, suffix, -1, SQLITE_STATIC);
        Held row;
        if (sqlite3_step(select) == SQLITE_ROW) {
            const auto text = [select](int i) {
                return std::string(reinterpret_cast<const char*>(sqlite3_column_text(select, i)));
            };
            row = {QString::fromStdString(text(0)), text(1), text(2)};
        }
        sqlite3_finalize(select);
        sqlite3_close(db);
        EXPECT_FALSE(row.domain.isEmpty()) << "no " << suffix << " name in the database";
        return row;
    }

    QTemporaryDir dir;
    QString reason; // of the last lookup that failed
    std::unique_ptr<ServiceProcess> service;
    std::unique_ptr<ServiceLink> fetch;
    std::unique_ptr<LookupCommand> lookupCommand;
    const qint64 now = QDateTime::currentSecsSinceEpoch();
};

TEST_F(OnlineLookup, EachStatusGivesItsDeletionDate) {
    RdapFixture fixture;
    startService(fixture, {"--rdap-rate", "50"});
    const qint64 expired = now - 40 * kDay;
    const qint64 changed = now - 3 * kDay;
    const qint64 future = now + 200 * kDay;
    struct Case {
        const char* name;
        std::vector<std::string> statuses;
        std::vector<std::pair<std::string, qint64>> events;
        QString text;
    };
    const Case cases[] = {
        {"redeem.com",
         {"redemption period", "pending delete"},
         {{"expiration", expired}, {"last changed", changed}},
         found(shown(expired), shown(changed + 35 * kDay) + "（赎回期，注册局数据）")},
        {"pending.net",
         {"Pending Delete"},
         {{"expiration", expired}, {"last changed", changed}},
         found(shown(expired), shown(changed + 5 * kDay) + "（待删除，注册局数据）")},
        {"grace.org",
         {"auto renew period"},
         {{"expiration", expired}},
         found(shown(expired), QDateTime::fromSecsSinceEpoch(expired, QTimeZone::utc())
                                       .date()
                                       .addDays(75)
                                       .toString("yyyy-MM-dd")
                                       .toStdString() +
                                   " 02:30:00（自动续费宽限期，估算）")},
        {"steady.com",
         {"active"},
         {{"expiration", future}},
         found(shown(future), QDateTime::fromSecsSinceEpoch(future, QTimeZone::utc())
                                      .date()
                                      .addDays(75)
                                      .toString("yyyy-MM-dd")
                                      .toStdString() +
                                  " 02:30:00（未到期，估算）")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fixture.set(std::string("/rdap/domain/") + c.name, answer(domainJson(c.name, c.statuses, c.events)));
        EXPECT_EQ(lookup(c.name), c.text);
    }
    // A name in Chinese is asked for in its ASCII form.
    fixture.set("/rdap/domain/xn--fiqs8s.com",
                answer(domainJson("xn--fiqs8s.com", {"active"}, {{"expiration", future}})));
    EXPECT_EQ(lookup(QString::fromUtf8("中国.com")), cases[3].text);
    // Not registered: the registry does not know the name.
    EXPECT_EQ(lookup("nobody-has-this.com"), QString("查询完成...\r\n\r\n域名未注册"));
    // Letter case does not make another name; the second lookup is answered from what was kept.
    EXPECT_EQ(lookup("REDEEM.COM"), cases[0].text);
    EXPECT_EQ(fixture.hits("/rdap/domain/redeem.com"), 1);
}

TEST_F(OnlineLookup, RetryAfterIsWaitedOutAndOneRequestServesConcurrentAskers) {
    RdapFixture fixture;
    startService(fixture, {"--rdap-rate", "50"});
    const std::string body = domainJson("busy.com", {"pending delete"}, {{"last changed", now - kDay}});
    fixture.setSequence("/rdap/domain/busy.com", {[] {
                                                      RdapFixture::Answer busy = answer("{}", 429);
                                                      busy.headers = {{"Retry-After", "2"}};
                                                      return busy;
                                                  }(),
                                                  answer(body)});
    EXPECT_TRUE(lookup("busy.com").contains("（待删除，注册局数据）"));
    const auto times = fixture.hitTimes("/rdap/domain/busy.com");
    ASSERT_EQ(times.size(), 2u);
    EXPECT_GE(times[1] - times[0], std::chrono::milliseconds(1900));

    RdapFixture::Answer slow = answer(domainJson("crowd.com", {"active"}, {{"expiration", now + 90 * kDay}}));
    slow.delay = std::chrono::milliseconds(700);
    fixture.set("/rdap/domain/crowd.com", slow);
    std::vector<std::future<QByteArray>> askers;
    for (int i = 0; i < 4; ++i)
        askers.push_back(std::async(std::launch::async, [port = service->port()] {
            QTcpSocket socket;
            socket.connectToHost("127.0.0.1", port);
            socket.waitForConnected(5000);
            socket.write("GET /whois/?domain=crowd.com HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
            QByteArray answer;
            while (socket.waitForReadyRead(10000))
                answer += socket.readAll();
            return answer;
        }));
    for (auto& asker : askers)
        EXPECT_TRUE(asker.get().startsWith("HTTP/1.1 200"));
    EXPECT_EQ(fixture.hits("/rdap/domain/crowd.com"), 1);
}

TEST_F(OnlineLookup, OneRequestASecondToAHost) {
    RdapFixture fixture;
    startService(fixture);
    QElapsedTimer clock;
    clock.start();
    for (const char* name : {"one.com", "two.com", "three.com"})
        EXPECT_EQ(lookup(name), QString("查询完成...\r\n\r\n域名未注册"));
    EXPECT_GE(clock.elapsed(), 1900);
    std::vector<std::chrono::steady_clock::time_point> times;
    for (const char* name : {"one.com", "two.com", "three.com"})
        times.push_back(fixture.hitTimes(std::string("/rdap/domain/") + name).at(0));
    // Arrival times carry each request's own connect and scheduling delay, which on a loaded
    // machine reaches a tenth of a second: the service spaces the requests it sends.
    EXPECT_GE(times[1] - times[0], std::chrono::milliseconds(850));
    EXPECT_GE(times[2] - times[1], std::chrono::milliseconds(850));
}

TEST_F(OnlineLookup, RegistryDownServesTheKeptAnswerWithItsAgeOrAnError) {
    RdapFixture fixture;
    startService(fixture, {"--rdap-rate", "50"});
    const qint64 changed = now - kDay;
    fixture.set("/rdap/domain/kept.com",
                answer(domainJson("kept.com", {"pending delete"}, {{"last changed", changed}})));
    const QString first = lookup("kept.com");
    ASSERT_TRUE(first.endsWith("（待删除，注册局数据）")) << first.toStdString();
    age(2 * 3600);
    fixture.stopAnswering(true);
    EXPECT_TRUE(lookup("kept.com").endsWith("（待删除，注册局数据，2 小时前查得）"));
    // Nothing kept: an error, never "not registered".
    EXPECT_EQ(lookup("never-seen.com"), QString("获取结果出错,请稍后重试..."));
    // A registry that answers, but not with RDAP: an error too, said once in the log.
    fixture.stopAnswering(false);
    fixture.set("/rdap/domain/html.com", answer("<html><body>maintenance</body></html>", 200, "text/html"));
    EXPECT_EQ(lookup("html.com"), QString("获取结果出错,请稍后重试..."));
    EXPECT_EQ(service->log().count("lookup of html.com at its registry failed: not an RDAP domain answer"),
              1);
}

TEST_F(OnlineLookup, TheDropListLearnsAndForgets) {
    RdapFixture fixture;
    startService(fixture, {"--rdap-rate", "50"});
    // Redemption began two days ago: deleted in 33 days, and listed although that is past 30.
    const qint64 changed = now - 2 * kDay;
    fixture.set("/rdap/domain/qzlearnt.com",
                answer(domainJson("qzlearnt.com", {"redemption period"},
                                  {{"expiration", changed - 40 * kDay}, {"last changed", changed}})));
    ASSERT_TRUE(lookup("qzlearnt.com").contains("赎回期"));
    EXPECT_EQ(search("qzlearnt"),
              QStringList{QString::fromStdString("qzlearnt.com " + shown(changed + 35 * kDay))});

    // Renewed since: off the list once the registry is asked again.
    fixture.set("/rdap/domain/qzlearnt.com",
                answer(domainJson("qzlearnt.com", {"active"}, {{"expiration", now + 300 * kDay}})));
    age(7 * 3600);
    ASSERT_TRUE(lookup("qzlearnt.com").contains("未到期"));
    EXPECT_EQ(search("qzlearnt"), QStringList{});
}

TEST_F(OnlineLookup, AnotherWriterHoldingTheDatabaseHoldsUpNoLookupAndTheAnswerIsKeptAfter) {
    RdapFixture fixture;
    startService(fixture, {"--rdap-rate", "50"});
    fixture.set("/rdap/domain/held.com",
                answer(domainJson("held.com", {"pending delete"}, {{"last changed", now}})));
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(service->dbPath().toUtf8().constData(), &db), SQLITE_OK);
    sqlite3_busy_timeout(db, 10000);
    ASSERT_EQ(sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(lookup("held.com").endsWith("（待删除，注册局数据）"));
    EXPECT_LT(clock.elapsed(), 4500);
    ASSERT_EQ(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    for (clock.restart(); clock.elapsed() < 10000 && answers("held.com") == 0;)
        QThread::msleep(50);
    EXPECT_EQ(answers("held.com"), 1);
    EXPECT_TRUE(lookup("held.com").endsWith("（待删除，注册局数据）"));
    EXPECT_EQ(fixture.hits("/rdap/domain/held.com"), 1);
}

TEST_F(OnlineLookup, OverHttpsWithTheTestsOwnCa) {
    RdapFixture fixture(true);
    startService(fixture, {"--rdap-ca", QString::fromStdString(fixture.caFile())});
    fixture.set("/rdap/domain/secure.org",
                answer(domainJson("secure.org", {"pending delete"}, {{"last changed", now}})));
    EXPECT_TRUE(lookup("secure.org").endsWith("（待删除，注册局数据）"));
}

const QString kFailed = "获取结果出错,请稍后重试...";
const QString kNotRegistered = "查询完成...\r\n\r\n域名未注册";

// The default: the registry's answer, and its 404 still "not registered".
TEST_F(OnlineLookup, AutoAsksTheRegistryFirst) {
    RdapFixture fixture;
    startService(fixture.baseUrl(), {"--rdap", "auto", "--rdap-rate", "50"});
    const Held listed = held("com");
    const qint64 future = now + 200 * kDay;
    fixture.set("/rdap/domain/" + listed.domain.toStdString(),
                answer(domainJson(listed.domain.toStdString(), {"active"}, {{"expiration", future}})));
    EXPECT_TRUE(lookup(listed.domain)
                    .startsWith(QString::fromStdString("查询完成...\r\n\r\n域名到期时间：" + shown(future))));
    EXPECT_EQ(lookup("nobody-has-this.com"), kNotRegistered);
    // Answers with nothing usable: a listed name keeps its dates, saying so; any other is an
    // error, each logged once with its reason.
    const Held other = held("net");
    fixture.set("/rdap/domain/" + other.domain.toStdString(),
                answer("<html>maintenance</html>", 200, "text/html"));
    EXPECT_EQ(lookup(other.domain),
              found(other.expiry, other.deletion + "（本地数据，注册局未给出可用答复）"));
    fixture.set("/rdap/domain/undated.com", answer(domainJson("undated.com", {"active"}, {})));
    EXPECT_EQ(lookup("undated.com"), kFailed);
    EXPECT_TRUE(reason.contains("no usable answer about undated.com")) << reason.toStdString();
    EXPECT_EQ(service->log().count("lookup of undated.com: "), 1);
}

// Offline: a name on the list keeps its dates, saying where they come from; any other is an
// error with its reason, never "not registered"; and after the first, no lookup waits.
TEST_F(OnlineLookup, AutoWithTheRegistryUnreachableAnswersAtOnceFromTheListOrWithAnError) {
    for (const std::string base : {"http://127.0.0.1:1/rdap/", "http://no-such-registry.invalid/rdap/"}) {
        SCOPED_TRACE(base);
        startService(base, {"--rdap", "auto"});
        const Held listed = held("com");
        const QString local = found(listed.expiry, listed.deletion + "（本地数据，注册局暂时无法访问）");
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(lookup("unheld-first.com"), kFailed);
        const qint64 first = clock.restart();
        EXPECT_LT(first, 1000);
        EXPECT_TRUE(reason.contains("could not be reached about unheld-first.com")) << reason.toStdString();
        EXPECT_TRUE(reason.contains("the local list does not hold the name")) << reason.toStdString();
        EXPECT_EQ(lookup(listed.domain), local);
        const qint64 heldTime = clock.restart();
        EXPECT_EQ(lookup("unheld-next.net"), kFailed);
        const qint64 unheldTime = clock.elapsed();
        // Well within any registry's bounds, with room for a busy machine.
        EXPECT_LT(heldTime, 1000);
        EXPECT_LT(unheldTime, 1000);
        std::cout << "[ figures  ] " << base << ": first " << first << " ms, held " << heldTime
                  << " ms, unheld " << unheldTime << " ms\n";
        const QByteArray log = service->log();
        for (const QString& name : {QString("unheld-first.com"), listed.domain, QString("unheld-next.net")})
            EXPECT_EQ(log.count("lookup of " + name.toUtf8() + " at its registry failed: "), 1)
                << log.toStdString();
        service.reset();
    }
}

// After the pause the next lookup is still answered at once while the registry is asked in the
// background; its answer is kept, and the lookups after it ask the registry again.
TEST_F(OnlineLookup, AnUnreachableRegistryIsLeftAloneForThePauseThenAskedAgain) {
    RdapFixture fixture;
    startService(fixture.baseUrl(), {"--rdap", "auto", "--rdap-pause", "1", "--rdap-rate", "50"});
    fixture.stopAnswering(true);
    EXPECT_EQ(lookup("down-first.com"), kFailed);
    EXPECT_EQ(lookup("down-paused.com"), kFailed);
    EXPECT_EQ(fixture.hits("/rdap/domain/down-paused.com"), 0);
    QThread::msleep(1300);
    fixture.stopAnswering(false);
    const qint64 future = now + 200 * kDay;
    fixture.set("/rdap/domain/probed.com",
                answer(domainJson("probed.com", {"active"}, {{"expiration", future}})));
    QElapsedTimer clock;
    clock.start();
    // Answered without waiting for the registry, which answers at once now: its answer would be found.
    EXPECT_EQ(lookup("probed.com"), kFailed);
    EXPECT_LT(clock.elapsed(), 1000);
    for (clock.restart(); clock.elapsed() < 10000 && answers("probed.com") == 0;)
        QThread::msleep(20);
    EXPECT_EQ(fixture.hits("/rdap/domain/probed.com"), 1);
    EXPECT_TRUE(lookup("probed.com").contains(QString::fromStdString(shown(future))));
    EXPECT_EQ(lookup("back-again.com"), kNotRegistered);
    EXPECT_EQ(fixture.hits("/rdap/domain/back-again.com"), 1);
}

// cn has no registry: a listed name as the list has it, any other unknown rather than free. Off,
// the list alone answers, as it always has.
TEST_F(OnlineLookup, AutoNeverCallsANameFreeForWantOfDataButOffDoes) {
    startService("http://127.0.0.1:1/rdap/", {"--rdap", "auto"});
    const Held listed = held("cn");
    EXPECT_EQ(lookup(listed.domain), found(listed.expiry, listed.deletion));
    EXPECT_EQ(lookup("unheld-name.cn"), kFailed);
    EXPECT_TRUE(reason.contains("the local list does not hold unheld-name.cn")) << reason.toStdString();
    EXPECT_EQ(service->log().count("lookup of unheld-name.cn: "), 1);

    startService("http://127.0.0.1:1/rdap/", {"--no-rdap"});
    EXPECT_EQ(lookup("unheld-name.cn"), kNotRegistered);
    EXPECT_EQ(lookup("unheld-name.com"), kNotRegistered);
}

} // namespace
