// The service's HTTP front from outside: how requests are framed, what crowds of slow or busy
// clients do to a newcomer, and the connection caps.
#include "service_test_util.h"

#include "http/http_front.h"
#include "http/request_head.h"

#include <QElapsedTimer>
#include <QHash>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

using namespace yuming;
using namespace yuming::testing;

namespace {

constexpr char kFollowUp[] = "GET /no/such/page HTTP/1.1\r\nHost: x\r\n\r\n";
constexpr char kSearch[] = "GET /s/?key=a&kaiwei=starts&min=0&max=0&op=zahe&o=o_5&com=com&net=net&tsym=0&d=0&do=do"
                           "&page=0 HTTP/1.1\r\nHost: x\r\nConnection: Keep-Alive\r\n\r\n";

struct Answers {
    QList<int> statuses;
    QList<QByteArray> bodies;
    QByteArray rest; // what could not be read as an answer
    bool closed = false;
};

// Sends `bytes` on a new connection and reads answers, framed by their Content-Length, until the
// service closes the connection or nothing more comes for `quietMs`.
Answers talk(const QByteArray& bytes, quint16 port = 0, int quietMs = 800,
             const QHostAddress& host = QHostAddress::LocalHost) {
    QTcpSocket socket;
    socket.connectToHost(host, port ? port : sharedService().port());
    Answers out;
    if (!socket.waitForConnected(5000)) return out;
    socket.write(bytes);
    QByteArray in;
    while (socket.waitForReadyRead(quietMs))
        in += socket.readAll();
    in += socket.readAll();
    out.closed = socket.state() == QAbstractSocket::UnconnectedState;
    while (true) {
        const auto headEnd = in.indexOf("\r\n\r\n");
        const auto length = in.indexOf("\r\nContent-Length: ");
        if (!in.startsWith("HTTP/1.1 ") || headEnd < 0 || length < 0 || length > headEnd) break;
        const qsizetype size = in.mid(length + 18, in.indexOf("\r\n", length + 2) - length - 18).toLongLong();
        out.statuses << in.mid(9, 3).toInt();
        out.bodies << in.mid(headEnd + 4, size);
        in.remove(0, headEnd + 4 + size);
    }
    out.rest = in;
    return out;
}

QByteArray withBody(const QByteArray& head, const QByteArray& body) {
    return head + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

QByteArray chunked(const QByteArray& head, const QByteArray& body) {
    return head + "Transfer-Encoding: chunked\r\n\r\n" + QByteArray::number(body.size(), 16) + "\r\n" + body +
           "\r\n0\r\n\r\n";
}

const QByteArray kGet = "GET / HTTP/1.1\r\nHost: x\r\n";
const QByteArray kBanner = "GET /asd/yuming.htm HTTP/1.1\r\nHost: x\r\n\r\n";

struct StreamCase {
    const char* name;
    QByteArray bytes; // sent with kFollowUp after it
    QList<int> statuses;
    bool closed;
};

void PrintTo(const StreamCase& c, std::ostream* out) {
    *out << c.name;
}

const StreamCase kStreams[] = {
    // Framing two readers could disagree on: refused, and nothing after it is read as a request.
    {"content_length_twice_differing", kGet + "Content-Length: 1\r\nContent-Length: 2\r\n\r\nab", {400}, true},
    {"content_length_twice_same", kGet + "Content-Length: 1\r\nContent-Length: 1\r\n\r\na", {400}, true},
    {"content_length_plus", kGet + "Content-Length: +1\r\n\r\na", {400}, true},
    {"content_length_negative", kGet + "Content-Length: -1\r\n\r\n", {400}, true},
    {"content_length_not_digits", kGet + "Content-Length: 1a\r\n\r\na", {400}, true},
    {"content_length_list", kGet + "Content-Length: 1, 1\r\n\r\na", {400}, true},
    {"coding_xchunked", kGet + "Transfer-Encoding: xchunked\r\n\r\n0\r\n\r\n", {400}, true},
    {"coding_chunked_not_last", kGet + "Transfer-Encoding: chunked, gzip\r\n\r\n0\r\n\r\n", {400}, true},
    {"coding_besides_chunked", kGet + "Transfer-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", {400}, true},
    {"coding_and_length", kGet + "Transfer-Encoding: chunked\r\nContent-Length: 5\r\n\r\n0\r\n\r\n", {400}, true},
    {"coding_in_http_1_0", "GET / HTTP/1.0\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", {400}, true},
    {"folded_header", kGet + "X-A: a\r\n b\r\n\r\n", {400}, true},
    {"header_without_colon", kGet + "Garbage\r\n\r\n", {400}, true},
    {"space_before_colon", "GET / HTTP/1.1\r\nHost : x\r\n\r\n", {400}, true},
    {"nul_in_value", kGet + QByteArray("X-A: a\0b\r\n\r\n", 11), {400}, true},
    {"cr_in_value", kGet + "X-A: a\rb\r\n\r\n", {400}, true},
    {"control_in_value", kGet + "X-A: a\x01" "b\r\n\r\n", {400}, true},
    {"two_spaces_in_request_line", "GET  / HTTP/1.1\r\nHost: x\r\n\r\n", {400}, true},
    {"bare_lf_lines", "GET / HTTP/1.1\nHost: x\n\n", {400}, true},
    {"bad_chunk_size", kGet + "Transfer-Encoding: chunked\r\n\r\nzz\r\n", {400}, true},
    {"body_over_limit", kGet + "Content-Length: 1000000\r\n\r\n", {413}, true},
    {"chunked_body_over_limit", chunked(kGet, QByteArray(70000, 'b')), {413}, true},
    // A body the service has no use for is read past, never taken for the next request.
    {"request_inside_a_body", withBody(kGet, kBanner), {200, 404}, false},
    {"request_inside_a_chunked_body", chunked(kGet, kBanner), {200, 404}, false},
    {"post_with_a_body", withBody("POST / HTTP/1.1\r\nHost: x\r\n", kBanner), {405, 404}, false},
    {"pipelined", kGet + "\r\n" + kBanner, {200, 200, 404}, false},
};

class ServiceStream : public ::testing::TestWithParam<StreamCase> {};

} // namespace

TEST_P(ServiceStream, AnswersEachRequestInTurnAndNothingElse) {
    const StreamCase& c = GetParam();
    const Answers answers = talk(c.bytes + kFollowUp);
    EXPECT_EQ(answers.statuses, c.statuses);
    EXPECT_EQ(answers.closed, c.closed);
    EXPECT_TRUE(answers.rest.isEmpty()) << answers.rest.left(80).toStdString();
    for (const QByteArray& body : answers.bodies)
        EXPECT_TRUE(body.endsWith("</html>"));
    // Only the pipelined banner request may produce the banner.
    EXPECT_EQ(answers.bodies.size() == 3, answers.bodies.join().contains("843px"));
}

INSTANTIATE_TEST_SUITE_P(EachKind, ServiceStream, ::testing::ValuesIn(kStreams),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RequestHead, ScanningInPiecesFindsWhatScanningWholeFinds) {
    using service::HeadScan;
    // An empty line before the request line is skipped; the next request's start is not the head's.
    const std::string bytes = "\r\nGET / HTTP/1.1\r\nHost: x\r\n\r\nGET";
    for (const std::size_t step : {1, 2, 3, 7, 100}) {
        SCOPED_TRACE(step);
        HeadScan scan;
        for (std::size_t have = 0; scan.outcome == HeadScan::Outcome::Partial && have < bytes.size();) {
            have = std::min(bytes.size(), have + step);
            scan = service::scanHead(std::string_view(bytes).substr(0, have), 64, scan);
        }
        EXPECT_EQ(scan.outcome, HeadScan::Outcome::Whole);
        EXPECT_EQ(scan.start, 2u);
        EXPECT_EQ(scan.end, bytes.size() - 3);
    }
}

TEST(ServiceMethods, RangeIsIgnoredHeadHasNoBodyAndOthersAreNamed) {
    const Answers plain = talk(kGet + "\r\n");
    ASSERT_EQ(plain.statuses, QList<int>{200});
    const Answers ranged = talk(kGet + "Range: bytes=0-10\r\n\r\n");
    EXPECT_EQ(ranged.statuses, QList<int>{200});
    EXPECT_EQ(ranged.bodies, plain.bodies);

    const QByteArray head = exchange(sharedService().port(), "HEAD / HTTP/1.1\r\nHost: x\r\n\r\n", 800);
    EXPECT_EQ(statusOf(head), 200);
    EXPECT_TRUE(head.contains("\r\nContent-Length: " + QByteArray::number(plain.bodies[0].size()) + "\r\n"));
    EXPECT_TRUE(head.endsWith("\r\n\r\n")) << "a body after the head";

    const QByteArray other = exchange(sharedService().port(), "DELETE /s/ HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(statusOf(other), 405);
    EXPECT_TRUE(other.contains("\r\nAllow: GET, HEAD\r\n"));
}

TEST(ServiceLog, UnreadableRequestIsLoggedWithTheClientsPort) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, sharedService().port());
    ASSERT_TRUE(socket.waitForConnected(5000));
    socket.write("GARBAGE\r\n\r\n");
    ASSERT_TRUE(socket.waitForReadyRead(5000));
    const QByteArray line = "127.0.0.1:" + QByteArray::number(socket.localPort()) + " \"GARBAGE\" 400 ";
    EXPECT_TRUE(QTest::qWaitFor([&] { return sharedService().log().contains(line); }, 5000)) << line.toStdString();
}

namespace {

// Clients held open on the shared service while a newcomer searches.
class Crowd {
public:
    ~Crowd() {
        for (auto& socket : m_sockets)
            socket->abort();
    }

    // Each sends the start of a request head and then a byte now and then, never finishing.
    void addSlow(int count) {
        for (int i = 0; i < count; ++i)
            open()->write("GET /s/?key=a HTTP/1.1\r\nX-Slow: ");
        QObject::connect(&m_drip, &QTimer::timeout, [this] {
            for (auto& socket : m_sockets)
                if (m_answers.value(socket.get(), -1) < 0) socket->write("s");
        });
        m_drip.start(300);
    }

    // Each asks one search after another on its kept-alive connection.
    void addBusy(int count) {
        for (int i = 0; i < count; ++i) {
            QTcpSocket* socket = open();
            m_answers[socket] = 0;
            QObject::connect(socket, &QTcpSocket::readyRead, [this, socket] {
                m_pending[socket] += socket->readAll();
                if (!m_pending[socket].endsWith("</html>")) return;
                m_pending[socket].clear();
                ++m_answers[socket];
                socket->write(kSearch);
            });
            socket->write(kSearch);
        }
    }

    bool allConnected() const {
        return std::all_of(m_sockets.begin(), m_sockets.end(),
                           [](const auto& s) { return s->state() == QAbstractSocket::ConnectedState; });
    }
    bool allBusyAnswered() const {
        return std::all_of(m_answers.begin(), m_answers.end(), [](int n) { return n > 0; });
    }

private:
    QTcpSocket* open() {
        m_sockets.push_back(std::make_unique<QTcpSocket>());
        m_sockets.back()->connectToHost(QHostAddress::LocalHost, sharedService().port());
        return m_sockets.back().get();
    }

    std::vector<std::unique_ptr<QTcpSocket>> m_sockets;
    QHash<QTcpSocket*, int> m_answers;
    QHash<QTcpSocket*, QByteArray> m_pending;
    QTimer m_drip;
};

// A search on a new connection while the event loop keeps the crowd going; milliseconds to the
// whole answer, or -1.
qint64 newcomerSearch(int timeoutMs) {
    QTcpSocket socket;
    QByteArray answer;
    QObject::connect(&socket, &QTcpSocket::readyRead, [&] { answer += socket.readAll(); });
    QElapsedTimer clock;
    clock.start();
    socket.connectToHost(QHostAddress::LocalHost, sharedService().port());
    socket.write(kSearch);
    if (!QTest::qWaitFor([&] { return answer.endsWith("</html>"); }, timeoutMs)) return -1;
    EXPECT_EQ(statusOf(answer), 200);
    return clock.elapsed();
}

} // namespace

TEST(ServiceCrowd, SlowClientsDoNotDelayANewcomer) {
    Crowd crowd;
    crowd.addSlow(200);
    ASSERT_TRUE(QTest::qWaitFor([&] { return crowd.allConnected(); }, 10000));
    const qint64 took = newcomerSearch(5000);
    EXPECT_GE(took, 0);
    EXPECT_LT(took, 1000);
    EXPECT_TRUE(crowd.allConnected()) << "the slow clients were cut off before the search";
}

TEST(ServiceCrowd, BusyKeptAliveClientsAreAllServedAndLeaveRoomForANewcomer) {
    Crowd crowd;
    crowd.addBusy(100);
    EXPECT_TRUE(QTest::qWaitFor([&] { return crowd.allBusyAnswered(); }, 10000));
    const qint64 took = newcomerSearch(5000);
    EXPECT_GE(took, 0);
    EXPECT_LT(took, 1000);
}

namespace {

// A front of its own in this process, on a loopback port, with an empty drop list.
class LocalFront {
public:
    explicit LocalFront(service::FrontLimits limits, const std::string& host = "127.0.0.1")
        : m_front(service::Routes(m_catalogs, {}), limits), m_port(m_front.bind(host, 0)) {
        if (m_port > 0) m_thread = std::thread([this] { m_front.run(); });
    }
    ~LocalFront() {
        m_front.stop();
        if (m_thread.joinable()) m_thread.join();
    }
    quint16 port() const { return static_cast<quint16>(m_port); }

private:
    service::CatalogHolder m_catalogs{std::make_shared<const service::Catalog>(std::vector<service::ListedName>{})};
    service::HttpFront m_front;
    int m_port;
    std::thread m_thread;
};

struct CapCase {
    const char* name;
    service::FrontLimits limits;
    bool holdersIdle; // between requests, or in the middle of one
    int newcomerStatus;
};

void PrintTo(const CapCase& c, std::ostream* out) {
    *out << c.name;
}

class FrontCaps : public ::testing::TestWithParam<CapCase> {};

const CapCase kCaps[] = {
    {"idle_make_room_under_the_address_cap", {.maxPerAddress = 4, .headTime = std::chrono::seconds(30), .idleTime = std::chrono::seconds(30)}, true, 200},
    {"busy_over_the_address_cap_get_503", {.maxPerAddress = 4, .headTime = std::chrono::seconds(30), .idleTime = std::chrono::seconds(30)}, false, 503},
    {"idle_make_room_under_the_total_cap", {.maxConnections = 4, .headTime = std::chrono::seconds(30), .idleTime = std::chrono::seconds(30)}, true, 200},
    {"busy_over_the_total_cap_get_503", {.maxConnections = 4, .headTime = std::chrono::seconds(30), .idleTime = std::chrono::seconds(30)}, false, 503},
};

} // namespace

TEST_P(FrontCaps, IdleConnectionsGiveWayBusyOnesDoNot) {
    const CapCase& c = GetParam();
    LocalFront front(c.limits);
    ASSERT_GT(front.port(), 0);
    std::vector<std::unique_ptr<QTcpSocket>> holders;
    for (int i = 0; i < 4; ++i) {
        holders.push_back(std::make_unique<QTcpSocket>());
        QTcpSocket& socket = *holders.back();
        socket.connectToHost(QHostAddress::LocalHost, front.port());
        ASSERT_TRUE(socket.waitForConnected(5000));
        // One whole request, answered, so the service has taken the connection; a busy holder
        // sends the start of the next one with it.
        socket.write(kBanner + (c.holdersIdle ? "" : "GET / HTTP/1.1\r\n"));
        QByteArray answer;
        while (!answer.endsWith("</html>") && socket.waitForReadyRead(5000))
            answer += socket.readAll();
        ASSERT_EQ(statusOf(answer), 200);
        // The client can read the answer a moment before the service files the connection as
        // idle; a pause keeps the holders' idle order the order they were served in.
        QTest::qWait(50);
    }
    const Answers newcomer = talk(kBanner, front.port());
    EXPECT_EQ(newcomer.statuses, QList<int>{c.newcomerStatus});
    // The longest idle holder is the one closed to make room.
    EXPECT_EQ(holders[0]->state() != QAbstractSocket::ConnectedState || holders[0]->waitForDisconnected(c.holdersIdle ? 5000 : 300),
              c.holdersIdle);
    EXPECT_EQ(holders[3]->state(), QAbstractSocket::ConnectedState);
}

INSTANTIATE_TEST_SUITE_P(Each, FrontCaps, ::testing::ValuesIn(kCaps),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FrontBinding, ServesOnIpv6Loopback) {
    LocalFront front({}, "::1");
    ASSERT_GT(front.port(), 0);
    const Answers answers = talk(kBanner, front.port(), 800, QHostAddress::LocalHostIPv6);
    EXPECT_EQ(answers.statuses, QList<int>{200});
}

TEST(FrontBinding, StopBeforeRunEndsRunAtOnce) {
    const service::CatalogHolder catalogs(std::make_shared<const service::Catalog>(std::vector<service::ListedName>{}));
    service::HttpFront front(service::Routes(catalogs, {}));
    ASSERT_GT(front.bind("127.0.0.1", 0), 0);
    front.stop();
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(front.run());
    EXPECT_LT(clock.elapsed(), 2000);
}
