// yuming-cli's watch commands and the watch API client against a loopback server that speaks
// the API.
#include "service_record.h"
#include "support/script_server.h"
#include "support/watch_api_server.h"
#include "watch/watch_client.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QByteArray kToken = QByteArray("0123456789abcdef").repeated(4);

struct CliRun {
    int exit = -1;
    QByteArray out;
    QString err;
};

// yuming-cli with `args`, YUMING_TOKEN set to `token` (unset when empty), `input` on stdin.
CliRun runCli(const QStringList& args, const QByteArray& token = kToken, const QByteArray& input = {},
              const QString& runtime = {}) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("YUMING_TOKEN");
    if (!token.isEmpty()) env.insert("YUMING_TOKEN", QString::fromLatin1(token));
    if (!runtime.isEmpty()) env.insert("XDG_RUNTIME_DIR", runtime);
    p.setProcessEnvironment(env);
    QSignalSpy finished(&p, &QProcess::finished);
    p.start(QStringLiteral(YUMING_CLI_BIN), args);
    p.write(input);
    p.closeWriteChannel();
    EXPECT_TRUE(finished.wait(10000)) << args.join(' ').toStdString();
    return {p.exitCode(), p.readAllStandardOutput(), QString::fromUtf8(p.readAllStandardError())};
}

QStringList at(const WatchApiServer& server, QStringList args) {
    return QStringList{"--service", server.hostPort()} + args;
}

QJsonArray names(const WatchApiServer::Request& request) {
    return request.json().value("names").toArray();
}

TEST(WatchCli, AddsAndRemovesWithTheTokenInEveryRequest) {
    WatchApiServer server(kToken);
    CliRun r = runCli(at(server, {"watch", "add", "abc.com", "例子.com"}));
    EXPECT_EQ(r.exit, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "added\t2\talready\t0\n");
    ASSERT_EQ(server.requests().size(), 1);
    const WatchApiServer::Request& add = server.requests()[0];
    EXPECT_EQ(add.method, "POST");
    EXPECT_EQ(add.target, "/api/watch/add");
    EXPECT_EQ(add.headers.value("authorization"), "Bearer " + kToken);
    EXPECT_EQ(add.headers.value("content-type"), "application/json");
    EXPECT_EQ(names(add), QJsonArray({"abc.com", "例子.com"}));

    // A list on stdin, with blank lines, comments and CRLF line ends; --token before YUMING_TOKEN.
    r = runCli(at(server, {"--token=" + kToken, "watch", "add", "-"}), QByteArray(64, 'f'),
               "# mine\n\n abc.com \r\nb.net\n");
    EXPECT_EQ(r.exit, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "added\t1\talready\t1\n");
    EXPECT_EQ(names(server.requests()[1]), QJsonArray({"abc.com", "b.net"}));

    r = runCli(at(server, {"watch", "remove", "abc.com", "x.org"}));
    EXPECT_EQ(r.exit, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "removed\t1\n");
    EXPECT_EQ(server.requests()[2].target, "/api/watch/remove");
    EXPECT_EQ(server.watched.keys(), QStringList({"b.net", "xn--fsqu00a.com"}));
}

TEST(WatchCli, ListsInEachFormat) {
    WatchApiServer server(kToken);
    server.watched["abc.com"] = WatchApiServer::pendingDelete("abc.com");
    server.watched["b.net"] = WatchApiServer::fresh("b.net");
    CliRun r = runCli(at(server, {"watch", "list"}));
    EXPECT_EQ(r.exit, 0) << r.err.toStdString();
    EXPECT_EQ(r.out,
              "abc.com\tpending-delete\t2026-10-01T12:00:00Z\t2026-12-15T03:00:00Z\tpending-delete\t442800\t"
              "2026-12-09T18:50:00Z\nb.net\tunknown\t\t\t\t\t\n");
    EXPECT_EQ(server.requests()[0].method, "GET");
    EXPECT_EQ(server.requests()[0].target, "/api/watch");
    EXPECT_EQ(server.requests()[0].headers.value("authorization"), "Bearer " + kToken);

    r = runCli(at(server, {"watch", "list", "--format", "csv"}));
    EXPECT_EQ(r.out.toStdString(),
              "\xEF\xBB\xBF域名,状态,到期时间,删除时间,依据,剩余秒数,上次查询\r\n"
              "abc.com,pending-delete,2026-10-01T12:00:00Z,2026-12-15T03:00:00Z,pending-delete,"
              "442800,2026-12-09T18:50:00Z\r\nb.net,unknown,,,,,\r\n");
    r = runCli(at(server, {"watch", "list", "--format=json"}));
    const QList<QByteArray> lines = r.out.split('\n');
    ASSERT_EQ(lines.size(), 3) << r.out.toStdString();
    EXPECT_EQ(lines[2], "");
    const QJsonObject first = QJsonDocument::fromJson(lines[0]).object();
    EXPECT_EQ(first.value("secondsLeft"), 442800);
    EXPECT_EQ(first.value("deletion"), "2026-12-15T03:00:00Z");
    EXPECT_EQ(first.value("checkedAt"), "2026-12-09T18:50:00Z");
    EXPECT_EQ(QJsonDocument::fromJson(lines[1]).object(), QJsonObject({{"name", "b.net"},
                                                                       {"status", "unknown"},
                                                                       {"expiry", QJsonValue::Null},
                                                                       {"deletion", QJsonValue::Null},
                                                                       {"basis", QJsonValue::Null},
                                                                       {"secondsLeft", QJsonValue::Null},
                                                                       {"checkedAt", QJsonValue::Null}}));
}

TEST(WatchCli, CheckReportsEveryNameAndFailsWhenOneWasNotAnswered) {
    WatchApiServer server(kToken);
    for (const char* name : {"a.com", "b.net", "c.org"})
        server.watched[name] = WatchApiServer::fresh(name);
    server.checks["a.com"] = {{"name", "a.com"},
                              {"changed", true},
                              {"from", "redemption"},
                              {"to", "pending-delete"},
                              {"error", QJsonValue::Null}};
    server.checks["b.net"] = {{"name", "b.net"},
                              {"changed", false},
                              {"from", "active"},
                              {"to", "active"},
                              {"error", "the registry did not answer"}};
    CliRun r = runCli(at(server, {"watch", "check", "a.com", "b.net", "gone.com"}));
    EXPECT_EQ(r.exit, 1);
    EXPECT_EQ(r.out, "a.com\tchanged\tredemption\tpending-delete\nb.net\terror\tactive\tactive\n");
    EXPECT_EQ(r.err, "yuming-cli: b.net: the registry did not answer\n"
                     "yuming-cli: gone.com: not checked in the service's time\n");
    EXPECT_EQ(names(server.requests()[0]), QJsonArray({"a.com", "b.net", "gone.com"}));

    server.checks.remove("b.net");
    r = runCli(at(server, {"watch", "check"}));
    EXPECT_EQ(r.exit, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "a.com\tchanged\tredemption\tpending-delete\nb.net\tunchanged\tunknown\tunknown\n"
                     "c.org\tunchanged\tunknown\tunknown\n");
    EXPECT_EQ(server.requests()[1].body, "{\"names\":[]}");

    server.history["a.com"] = QJsonArray{
        QJsonObject{{"at", "2026-11-01T10:00:00Z"}, {"from", "active"}, {"to", "redemption"}},
        QJsonObject{{"at", "2026-12-09T18:00:00Z"}, {"from", "redemption"}, {"to", "pending-delete"}}};
    r = runCli(at(server, {"watch", "history", "a.com"}));
    EXPECT_EQ(r.exit, 0) << r.err.toStdString();
    EXPECT_EQ(r.out,
              "2026-11-01T10:00:00Z\tactive\tredemption\n2026-12-09T18:00:00Z\tredemption\tpending-delete\n");
    EXPECT_EQ(server.requests()[2].target, "/api/watch/history?name=a.com");
}

TEST(WatchCli, RefusalsAndFailuresHaveTheirExitStatus) {
    WatchApiServer server(kToken);
    server.watched["a.com"] = WatchApiServer::fresh("a.com");
    CliRun r = runCli(at(server, {"watch", "remove", "a.com"}), QByteArray(64, 'f'));
    EXPECT_EQ(r.exit, 1);
    EXPECT_EQ(
        r.err,
        "yuming-cli: the service refused the token given (--token or YUMING_TOKEN): no or wrong token\n");
    r = runCli(at(server, {"watch", "list"}), {});
    EXPECT_EQ(r.exit, 1);
    EXPECT_FALSE(server.requests()[1].headers.contains("authorization"));
    EXPECT_TRUE(server.watched.contains("a.com"));

    r = runCli(at(server, {"watch", "add", "b.com", "not a name", "c.cn"}));
    EXPECT_EQ(r.exit, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "yuming-cli: not a domain of a served suffix\nyuming-cli: not a name: refused\n"
                     "yuming-cli: c.cn: refused\n");
    EXPECT_EQ(server.watched.keys(), QStringList({"a.com"}));

    r = runCli(at(server, {"watch", "history", "x y.com"}));
    EXPECT_EQ(r.exit, 1);
    EXPECT_EQ(r.err, "yuming-cli: x y.com is not watched\n");
    EXPECT_EQ(server.requests().last().target, "/api/watch/history?name=x%20y.com");

    server.override = [](const WatchApiServer::Request&) -> std::optional<WatchApiServer::Answer> {
        return WatchApiServer::Answer{200, "<html>a page</html>"};
    };
    r = runCli(at(server, {"watch", "list"}));
    EXPECT_EQ(r.exit, 1);
    EXPECT_EQ(r.err, "yuming-cli: the service's answer is not JSON\n");
    server.override = [](const WatchApiServer::Request&) -> std::optional<WatchApiServer::Answer> {
        return WatchApiServer::Answer{200, "{\"names\":[{\"status\":\"active\"}]}"};
    };
    r = runCli(at(server, {"watch", "list"}));
    EXPECT_EQ(r.exit, 1);
    EXPECT_EQ(r.err, "yuming-cli: the service's answer does not hold what the watch API promises\n");

    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const QString nowhere = QStringLiteral("127.0.0.1:%1").arg(closed.serverPort());
    closed.close();
    r = runCli({"--service", nowhere, "watch", "list"});
    EXPECT_EQ(r.exit, 1);
    EXPECT_EQ(r.err, "yuming-cli: Connection refused\n");

    const struct {
        QStringList args;
        const char* error;
    } usage[] = {
        {{"watch"}, "watch needs one of add, remove, list, check, history, ics"},
        {{"watch", "show"}, "unknown watch command: show"},
        {{"watch", "add"}, "watch add takes NAME..., --file FILE or -"},
        {{"watch", "add", "a.com", "-"}, "- reads the names from stdin, alone"},
        {{"watch", "history", "a.com", "b.com"}, "watch history takes one name"},
        {{"watch", "list", "--out", "x.ics"}, "--out is for watch ics"},
        {{"--token", kToken, "watch", "list"}, "--token goes with --service"},
        {{"--service", "127.0.0.1:1", "--token", "ABC", "watch", "list"},
         "--token takes the service's token: 64 hex digits, lower case"},
    };
    for (const auto& c : usage) {
        r = runCli(c.args);
        EXPECT_EQ(r.exit, 2) << c.error;
        EXPECT_TRUE(r.err.startsWith(QStringLiteral("yuming-cli: ") + c.error + "\n\nusage:"))
            << r.err.toStdString();
    }
    r = runCli({"--service", "127.0.0.1:1", "watch", "list"}, "0123");
    EXPECT_EQ(r.exit, 2);
    EXPECT_TRUE(r.err.startsWith("yuming-cli: YUMING_TOKEN holds no token: 64 hex digits, lower case\n"));
}

// The service adds all of a list or none of it, so a list that cannot be read whole is not sent.
TEST(WatchCli, AddReadsItsFileWholeOrSendsNothing) {
    WatchApiServer server(kToken);
    QTemporaryDir dir;
    const auto file = [&dir](const QByteArray& text) {
        QFile f(dir.filePath("list"));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(text) == text.size());
        return f.fileName();
    };
    QByteArray many;
    for (int i = 0; i < 10000; ++i)
        many += "n" + QByteArray::number(i) + ".com\n";
    CliRun r = runCli(at(server, {"watch", "add", "--file", file(many)}));
    EXPECT_EQ(r.exit, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "added\t10000\talready\t0\n");
    ASSERT_EQ(server.requests().size(), 1);

    r = runCli(at(server, {"watch", "add", "--file", file(many + "more.com\n")}));
    EXPECT_EQ(r.exit, 1);
    EXPECT_TRUE(
        r.err.endsWith(": more than 10000 names; the service takes at most that many at a time; nothing "
                       "added\n"))
        << r.err.toStdString();
    r = runCli(at(server, {"watch", "add", "-"}), kToken, "a.com\n" + QByteArray(5000, 'x') + "\nb.com\n");
    EXPECT_EQ(r.exit, 1);
    EXPECT_EQ(r.err, "yuming-cli: stdin:2: line too long; nothing added\n");
    r = runCli(at(server, {"watch", "add", "-"}), kToken, "# nothing\n\n");
    EXPECT_EQ(r.exit, 1);
    EXPECT_EQ(r.err, "yuming-cli: stdin: no names to add\n");
    r = runCli(at(server, {"watch", "add", "--file", dir.filePath("missing")}));
    EXPECT_EQ(r.exit, 2);
    EXPECT_EQ(r.err, "yuming-cli: cannot read " + dir.filePath("missing") + ": No such file or directory\n");
    EXPECT_EQ(server.requests().size(), 1);
}

using namespace yuming;
using namespace yuming::watch;

// This user's service's record and lock, as $XDG_RUNTIME_DIR/yuming holds them.
struct HeldRecord {
    QTemporaryDir runtime;
    QString folder = runtime.filePath("yuming");
    QProcess holder;
    HeldRecord() {
        EXPECT_TRUE(QDir().mkpath(folder));
        holder.start(QStringLiteral(YUMING_LOCK_HOLDER), {folder + "/service.lock"});
        EXPECT_TRUE(holder.waitForReadyRead(5000));
    }
    ~HeldRecord() {
        holder.closeWriteChannel();
        holder.waitForFinished(5000);
    }
    void write(quint16 port, const QByteArray& token) {
        QFile f(folder + "/service");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(user_service::formatRecord({"127.0.0.1", port, holder.processId(), token}));
    }
    UserService::Setup setup() {
        return {"/nonexistent/yuming-service", folder, runtime.filePath("log"), 2000};
    }
};

WatchAnswer sendAndWait(WatchClient& client, WatchCall call) {
    WatchAnswer answer;
    WatchReply* reply = client.send(std::move(call));
    QObject::connect(reply, &WatchReply::finished, [&answer](const WatchAnswer& a) { answer = a; });
    QSignalSpy finished(reply, &WatchReply::finished);
    EXPECT_TRUE(finished.wait(5000));
    return answer;
}

// This user's own service: its address and token come from its record, looked for again when the
// address refuses the connection (the service left and another took its place).
TEST(WatchClientTest, FindsThisUsersServiceAndItsTokenInItsRecord) {
    HeldRecord record;
    WatchApiServer server(kToken);
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const quint16 closedPort = closed.serverPort();
    closed.close();
    record.write(closedPort, kToken);
    WatchClient client(ServiceAddress{"127.0.0.1", 80, true}, "ignored", record.setup());
    WatchReply* reply = client.send(WatchCall::list());
    WatchAnswer answer;
    QObject::connect(reply, &WatchReply::finished, [&answer](const WatchAnswer& a) { answer = a; });
    QSignalSpy finished(reply, &WatchReply::finished);
    record.write(server.port(), kToken);
    ASSERT_TRUE(finished.wait(5000));
    EXPECT_EQ(answer.kind, WatchAnswer::Kind::Answered) << answer.error.toStdString();
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_EQ(server.requests()[0].headers.value("authorization"), "Bearer " + kToken);
    EXPECT_EQ(server.requests()[0].headers.value("host"), server.hostPort().toLatin1());

    // The CLI finds it the same way, YUMING_TOKEN or not.
    const CliRun r = runCli({"watch", "add", "a.com"}, QByteArray(64, 'f'), {}, record.runtime.path());
    EXPECT_EQ(r.exit, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "added\t1\talready\t0\n");
    ASSERT_EQ(server.requests().size(), 2);
    EXPECT_EQ(server.requests()[1].headers.value("authorization"), "Bearer " + kToken);

    // A service from before the watchlist records no token.
    record.write(server.port(), {});
    answer = sendAndWait(client, WatchCall::list());
    EXPECT_EQ(answer.kind, WatchAnswer::Kind::Failed);
    EXPECT_EQ(answer.error,
              "this user's yuming-service keeps no watchlist (it recorded no token); restart it");
    EXPECT_EQ(server.requests().size(), 2);
}

TEST(WatchClientTest, AServiceThatGoesQuietFailsTheCallInItsTime) {
    ScriptServer server;
    server.setScript({ScriptServer::stall()});
    WatchClient client(ServiceAddress{"127.0.0.1", server.port()}, kToken);
    WatchCall call = WatchCall::check({});
    call.timeoutMs = 1000;
    const WatchAnswer answer = sendAndWait(client, call);
    EXPECT_EQ(answer.kind, WatchAnswer::Kind::Failed);
    EXPECT_EQ(answer.error, "the service did not answer within 1 s");
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_TRUE(server.requests()[0].startsWith("POST /api/watch/check HTTP/1.1\r\n"));
}

} // namespace
