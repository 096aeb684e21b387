// The service as an HTTP server: bad and hostile requests, connections that stall or stay open,
// the fixed pages, start-up data and shutdown.
#include "service_test_util.h"

#include "catalog/catalog.h"
#include "http/routes.h"
#include "protocol/search_page.h"
#include "store/store.h"
#include "text/gbk.h"

#include <QDate>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <cstdlib>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>

using namespace yuming;
using namespace yuming::testing;

namespace {

constexpr auto kSearchTail = "&kaiwei=radom&min=0&max=0&op=zahe&o=o_5&tsym=0&d=0&do=do&page=";

QByteArray get(const QByteArray& target, const QByteArray& headers = "Host: x\r\n") {
    return "GET " + target + " HTTP/1.1\r\n" + headers + "\r\n";
}

struct BadRequest {
    const char* name;
    QByteArray request;
    int status;         // expected status; 0: any 4xx
    int pageCount = -1; // for a 200 search page: the page count it must show
    // The request could not be read as one: the service answers and ends the connection.
    bool unreadable = false;
};

void PrintTo(const BadRequest& c, std::ostream* out) {
    *out << c.name;
}

class ServiceBadInput : public ::testing::TestWithParam<BadRequest> {};

const BadRequest kBadRequests[] = {
    {"no_request_line", "GARBAGE\r\n\r\n", 400, -1, true},
    {"no_version", "GET /s/?key=a\r\n\r\n", 400, -1, true},
    {"blank_in_target", "GET /s/?key=a b HTTP/1.1\r\n\r\n", 400, -1, true},
    {"target_over_8k", get("/s/?key=" + QByteArray(9000, 'a')), 414, -1, true},
    {"header_line_over_8k", get("/s/?key=a", "X-Long: " + QByteArray(9000, 'h') + "\r\n"), 431, -1, true},
    {"headers_over_8k_together",
     get("/s/?key=a", QByteArray("X-Many: hhhhhhhhhhhhhhhhhhhhhhhh\r\n").repeated(400)), 431},
    {"post", "POST /s/ HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc", 405},
    {"unknown_path", get("/nothing/here"), 404},
    {"path_prefix_only", get("/s"), 404},
    {"negative_page", get(QByteArray("/s/?key=a") + kSearchTail + "-1"), 400},
    {"page_not_a_number", get(QByteArray("/s/?key=a") + kSearchTail + "abc"), 400},
    {"unknown_position", get("/s/?key=a&kaiwei=middle&page=0"), 400},
    {"unknown_sort", get("/s/?key=a&o=o_9&page=0"), 400},
    {"lookup_without_domain", get("/whois/?Whois%5B%5D=1"), 400},
    {"page_past_int64", get(QByteArray("/s/?key=zzzzzzzzq") + kSearchTail + "99999999999999999999999"), 200,
     0},
    {"invalid_gbk_key", get(QByteArray("/s/?key=\xff\x81\xfe") + kSearchTail + "0"), 200, 0},
    {"gbk_key", get(toGbk(u"/s/?key=中国") + kSearchTail + "0"), 200, 0},
    {"sql_quote_key", get(QByteArray("/s/?key=%27%20OR%201%3D1%20--") + kSearchTail + "0"), 200, 0},
    {"like_wildcard_key", get(QByteArray("/s/?key=%25") + kSearchTail + "0"), 200, 0},
    {"like_underscore_key", get(QByteArray("/s/?key=a_") + kSearchTail + "0"), 200, 0},
    {"nul_in_key", get(QByteArray("/s/?key=a%00b") + kSearchTail + "0"), 200, 0},
    {"http_1_0", "GET /asd/yuming.htm HTTP/1.0\r\n\r\n", 200},
};

} // namespace

TEST_P(ServiceBadInput, AnswersWithAPageOrA4xxAndKeepsServing) {
    const BadRequest& c = GetParam();
    const quint16 port = sharedService().port();
    const QByteArray answer = exchange(port, c.request);
    const int status = statusOf(answer);
    if (c.status == 0)
        EXPECT_TRUE(status >= 400 && status < 500) << answer.left(80).toStdString();
    else
        EXPECT_EQ(status, c.status) << answer.left(80).toStdString();
    EXPECT_TRUE(answer.endsWith("</html>")) << answer.right(80).toStdString();
    if (c.pageCount >= 0) {
        const ResultPage page = parseResultPage(fromGbk(answer));
        ASSERT_TRUE(page.ok());
        EXPECT_EQ(page.pageCount, QString::number(c.pageCount));
        EXPECT_TRUE(page.rows.isEmpty());
    }
    const QByteArray after = exchange(port, get(QByteArray("/s/?key=a") + kSearchTail + "0"));
    EXPECT_EQ(statusOf(after), 200);
}

INSTANTIATE_TEST_SUITE_P(EachKind, ServiceBadInput, ::testing::ValuesIn(kBadRequests),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ServiceBadInput, UnreadableRequestGetsOneAnswerAndTheConnectionEnds) {
    for (const BadRequest& c : kBadRequests) {
        if (!c.unreadable) continue;
        SCOPED_TRACE(c.name);
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), sharedService().port());
        ASSERT_TRUE(socket.waitForConnected(5000));
        socket.write(c.request);
        QElapsedTimer clock;
        clock.start();
        QByteArray answer;
        while (socket.waitForReadyRead(5000))
            answer += socket.readAll();
        answer += socket.readAll();
        EXPECT_LT(clock.elapsed(), 2000) << "closed by the idle timeout, not at once";
        EXPECT_EQ(answer.count("HTTP/1.1 "), 1);
        EXPECT_TRUE(answer.endsWith("</html>"));
    }
}

TEST(ServiceQuery, UnknownParametersChangeNothing) {
    const QByteArray plain =
        exchange(sharedService().port(), get(QByteArray("/s/?key=an") + kSearchTail + "0"));
    const QByteArray extra = exchange(sharedService().port(),
                                      get(QByteArray("/s/?key=an&colour=blue&x") + kSearchTail + "0&y=%zz"));
    ASSERT_EQ(statusOf(plain), 200);
    ASSERT_EQ(statusOf(extra), 200);
    const ResultPage page = parseResultPage(fromGbk(bodyOf(plain)));
    ASSERT_TRUE(page.ok());
    EXPECT_FALSE(page.rows.isEmpty());
    EXPECT_EQ(bodyOf(extra), bodyOf(plain));
}

// A serving thread's database connection is its database's: one that could not be opened is
// opened on the next lookup, and another database on the same thread gets its own.
TEST(ServiceLookup, DatabaseOpenedOnceItIsThere) {
    QTemporaryDir dir;
    const std::string later = dir.filePath(QStringLiteral("later.sqlite")).toStdString();
    const std::string other = dir.filePath(QStringLiteral("other.sqlite")).toStdString();
    const service::CatalogHolder catalogs(
        std::make_shared<const service::Catalog>(std::vector<service::ListedName>{}));
    const auto lookup = [&catalogs](const std::string& db) {
        service::Reply reply{0, {}};
        service::Routes(catalogs, db).answer("GET", "/whois/?domain=abc.com", [&reply](service::Reply r) {
            reply = std::move(r);
        });
        return reply.status;
    };
    const auto prepare = [](const std::string& db) {
        std::string error;
        EXPECT_TRUE(service::prepareDatabase(db, {1, 10}, QDate::currentDate(), error)) << error;
    };
    EXPECT_EQ(lookup(later), 500);
    prepare(other);
    EXPECT_EQ(lookup(other), 200);
    prepare(later);
    EXPECT_EQ(lookup(later), 200);
}

TEST(ServiceConnection, KeptAliveConnectionServesRequestAfterRequest) {
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), sharedService().port());
    ASSERT_TRUE(socket.waitForConnected(5000));
    for (int i = 0; i < 3; ++i) {
        socket.write(get(QByteArray("/s/?key=a") + kSearchTail + QByteArray::number(i)));
        QByteArray answer;
        while (!answer.contains("</html>") && socket.waitForReadyRead(5000))
            answer += socket.readAll();
        EXPECT_EQ(statusOf(answer), 200);
        EXPECT_TRUE(answer.endsWith("</html>"));
        EXPECT_EQ(socket.state(), QAbstractSocket::ConnectedState);
    }
}

TEST(ServiceConnection, IdleConnectionIsClosedWithinSeconds) {
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), sharedService().port());
    ASSERT_TRUE(socket.waitForConnected(5000));
    socket.write(get("/asd/yuming.htm"));
    while (socket.waitForReadyRead(5000))
        socket.readAll();
    EXPECT_EQ(socket.state(), QAbstractSocket::UnconnectedState) << "still open after 5 s idle";
}

TEST(ServiceConnection, StalledClientsDoNotStopOthers) {
    std::vector<std::unique_ptr<QTcpSocket>> stalled;
    for (int i = 0; i < 4; ++i) {
        stalled.push_back(std::make_unique<QTcpSocket>());
        stalled.back()->connectToHost(QStringLiteral("127.0.0.1"), sharedService().port());
        ASSERT_TRUE(stalled.back()->waitForConnected(5000));
        stalled.back()->write("GET /s/?key=a&kaiwei=ra");
        stalled.back()->flush();
    }
    EXPECT_EQ(statusOf(exchange(sharedService().port(), get("/asd/yuming.htm"), 2000)), 200);
    for (auto& socket : stalled) {
        if (socket->state() != QAbstractSocket::UnconnectedState) socket->waitForDisconnected(10000);
        EXPECT_EQ(socket->state(), QAbstractSocket::UnconnectedState);
    }
}

namespace {

qint64 residentKiB(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}

// The resident size once the service has settled: just after it starts it may still be storing
// its search index, which grows it by a few MiB on its own.
qint64 settledResidentKiB(qint64 pid) {
    qint64 last = residentKiB(pid);
    for (int i = 0; i < 50; ++i) {
        QThread::msleep(200);
        const qint64 now = residentKiB(pid);
        if (std::abs(now - last) < 64) return now;
        last = now;
    }
    return last;
}

} // namespace

TEST(ServiceConnection, EndlessHeadersAreCutOffWithoutGrowingTheService) {
    const qint64 pid = sharedService().processId();
    const qint64 before = settledResidentKiB(pid);
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), sharedService().port());
    ASSERT_TRUE(socket.waitForConnected(5000));
    socket.write("GET /s/?key=a HTTP/1.1\r\n");
    const QByteArray lines = QByteArray("X-Flood: " + QByteArray(1000, 'f') + "\r\n").repeated(1000);
    QByteArray answer;
    for (int i = 0; i < 20 && socket.state() == QAbstractSocket::ConnectedState; ++i) {
        socket.write(lines);
        socket.waitForBytesWritten(2000);
        answer += socket.readAll();
    }
    while (!answer.contains("</html>") && socket.waitForReadyRead(5000))
        answer += socket.readAll();
    // A client that keeps sending after its answer gets the connection reset, and the reset may
    // overtake the answer; if the answer made it, it is the right one.
    if (!answer.isEmpty()) {
        EXPECT_EQ(statusOf(answer), 431);
        EXPECT_TRUE(answer.endsWith("</html>"));
    }
    EXPECT_LT(residentKiB(pid) - before, 4 * 1024) << "KiB grown while 20 MB of headers came in";
    EXPECT_EQ(statusOf(exchange(sharedService().port(), get("/asd/yuming.htm"))), 200);
}

TEST(ServiceConnection, TrickledRequestRunsOutOfTime) {
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), sharedService().port());
    ASSERT_TRUE(socket.waitForConnected(5000));
    // One byte every half second keeps every single read within its timeout.
    const QByteArray request = get("/s/?key=abcdefghijklmnopqrstuvwxyz");
    int sent = 0;
    QTimer drip;
    QObject::connect(&drip, &QTimer::timeout, &socket, [&] {
        if (sent < request.size()) socket.write(request.mid(sent++, 1));
    });
    drip.start(500);
    QElapsedTimer clock;
    clock.start();
    QSignalSpy closed(&socket, &QTcpSocket::disconnected);
    ASSERT_TRUE(closed.wait(15000));
    EXPECT_LT(clock.elapsed(), 8000);
    EXPECT_LT(sent, request.size());
    EXPECT_EQ(statusOf(socket.readAll()), 408);
}

TEST(ServicePages, BannerIsSelfContainedInTheWindowPalette) {
    const QByteArray answer = exchange(sharedService().port(), get("/asd/yuming.htm"));
    ASSERT_EQ(statusOf(answer), 200);
    EXPECT_TRUE(answer.contains("Content-Type: text/html; charset=gbk"));
    const QByteArray body = bodyOf(answer);
    for (const char* wanted : {"843px", "113px", "rgb(241,242,244)", "rgb(212,213,217)", "rgb(47,91,138)"})
        EXPECT_TRUE(body.contains(wanted)) << wanted;
    for (const char* external : {"http:", "https:", "src=", "url(", "@import", "<link"})
        EXPECT_FALSE(body.contains(external)) << external;
    EXPECT_TRUE(body.endsWith("</html>"));
}

TEST(ServicePages, HomePageAndLogLine) {
    const QByteArray answer = exchange(sharedService().port(), get("/?from=test"));
    EXPECT_EQ(statusOf(answer), 200);
    EXPECT_TRUE(answer.endsWith("</html>"));
    // The log line is written after the answer; wait for it rather than for a fixed time.
    QByteArray log;
    for (int i = 0; i < 100 && !log.contains("\"GET /?from=test HTTP/1.1\" 200"); ++i) {
        exchange(sharedService().port(), get("/asd/yuming.htm"));
        log = sharedService().log();
    }
    EXPECT_TRUE(log.contains("\"GET /?from=test HTTP/1.1\" 200"));
}

namespace {

QList<QStringList> dump(const QString& path) {
    return Database(path).rows("SELECT name, suffix, expiry, deletion FROM domains ORDER BY id");
}

// Opens a database for writing, to age it as if it had been seeded days ago.
bool ageDatabase(const QString& path, int days) {
    sqlite3* db = nullptr;
    const QByteArray shift = QByteArray::number(-days) + " days";
    const QByteArray dated = QDate::currentDate().addDays(-days).toString(Qt::ISODate).toUtf8();
    const QByteArray sql = "UPDATE domains SET expiry = datetime(expiry, '" + shift +
                           "'), deletion = datetime(deletion, '" + shift + "'); UPDATE meta SET value = '" +
                           dated + "' WHERE key = 'dated';";
    const bool ok = sqlite3_open(path.toUtf8().constData(), &db) == SQLITE_OK &&
                    sqlite3_busy_timeout(db, 10000) == SQLITE_OK &&
                    sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

} // namespace

TEST(ServiceData, SameSeedSameRowsOtherSeedOtherRows) {
    ServiceProcess first({.rows = 300, .seed = 11, .dbPath = {}});
    ServiceProcess again({.rows = 300, .seed = 11, .dbPath = {}});
    ServiceProcess other({.rows = 300, .seed = 12, .dbPath = {}});
    for (ServiceProcess* service : {&first, &again, &other})
        ASSERT_TRUE(service->start()) << service->error().toStdString();
    EXPECT_EQ(dump(first.dbPath()).size(), 330);
    EXPECT_EQ(dump(first.dbPath()), dump(again.dbPath()));
    EXPECT_NE(dump(first.dbPath()), dump(other.dbPath()));
}

TEST(ServiceData, RestartKeepsTheRowsAndShowsOldDatesMovedToToday) {
    QTemporaryDir dir;
    const QString path = dir.filePath("kept.sqlite");
    ServiceProcess seeded({.rows = 300, .seed = 5, .dbPath = path});
    ASSERT_TRUE(seeded.start());
    EXPECT_EQ(seeded.stop(), 0);
    ASSERT_TRUE(ageDatabase(path, 3));
    const auto before = dump(path);

    // Other options do not reseed an existing database.
    ServiceProcess restarted({.rows = 50, .seed = 6, .dbPath = path});
    ASSERT_TRUE(restarted.start());
    EXPECT_EQ(dump(path), before);
    const QByteArray answer = exchange(restarted.port(), get(QByteArray("/s/?key=") + kSearchTail + "0"));
    const ResultPage page = parseResultPage(fromGbk(answer));
    EXPECT_EQ(page.pageCount, "6") << "all 300 names are on the drop list again";
}

TEST(ServiceLifecycle, StopsCleanlyOnTermAndInt) {
    for (const int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        ServiceProcess service({.rows = 100, .seed = 1, .dbPath = {}});
        ASSERT_TRUE(service.start());
        // An open kept-alive connection must not hold the shutdown up.
        QTcpSocket idle;
        idle.connectToHost(QStringLiteral("127.0.0.1"), service.port());
        ASSERT_TRUE(idle.waitForConnected(5000));
        ASSERT_EQ(::kill(static_cast<pid_t>(service.processId()), signal), 0);
        ASSERT_TRUE(service.waitForExit(10000));
        EXPECT_EQ(service.stop(), 0);
        EXPECT_TRUE(service.log().contains("stopped"));
    }
}

namespace {

struct CommandLineCase {
    const char* name;
    QStringList arguments;
    int exitCode;
    const char* says;
};

void PrintTo(const CommandLineCase& c, std::ostream* out) {
    *out << c.name;
}

class ServiceCommandLine : public ::testing::TestWithParam<CommandLineCase> {};

const CommandLineCase kCommandLines[] = {
    {"help", {"--help"}, 0, "usage: yuming-service"},
    {"listen_without_port", {"--listen", "127.0.0.1"}, 2, "bad option: --listen"},
    {"port_out_of_range", {"--listen", "127.0.0.1:70000"}, 2, "bad option: --listen"},
    {"no_rows", {"--rows", "0"}, 2, "bad option: --rows"},
    {"rows_not_a_number", {"--rows", "many"}, 2, "bad option: --rows"},
    {"seed_negative", {"--seed", "-1"}, 2, "bad option: --seed"},
    {"unknown_option", {"--colour", "blue"}, 2, "unknown option: --colour"},
    {"missing_value", {"--db"}, 2, "missing value: --db"},
    {"database_cannot_be_made", {"--db", "/proc/self/no/such/domains.sqlite"}, 1, "cannot prepare"},
};

} // namespace

TEST_P(ServiceCommandLine, RefusesOrHelpsWithTheRightExitCode) {
    const CommandLineCase& c = GetParam();
    QProcess process;
    process.start(ServiceProcess::program(), c.arguments);
    ASSERT_TRUE(process.waitForFinished(20000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), c.exitCode);
    const QByteArray said = process.readAllStandardOutput() + process.readAllStandardError();
    EXPECT_TRUE(said.contains(c.says)) << said.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Each, ServiceCommandLine, ::testing::ValuesIn(kCommandLines),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ServiceLifecycle, PortInUseIsAnErrorNotAHang) {
    QProcess second;
    second.start(ServiceProcess::program(),
                 {"--listen", sharedService().address(), "--db", sharedService().dbPath()});
    ASSERT_TRUE(second.waitForFinished(20000));
    EXPECT_EQ(second.exitCode(), 1);
    EXPECT_TRUE(second.readAllStandardError().contains("cannot listen on"));
}
