// The search and lookup commands over a real loopback connection to the scripted server.
#include "lookup/lookup_command.h"
#include "search/page_export.h"
#include "search/search_commands.h"
#include "search/service_link.h"
#include "support/script_server.h"
#include "text/gbk.h"

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace yuming;

namespace {

QByteArray resultBody(int rows, const QString& count = "3") {
    QString html =
        "<html><head><title>t</title></head><body><strong>,&#x5171;" + count +
        "页</strong><table><thead><tr><th>域名</th><th class=\"booking\">预订</th></tr></thead><tbody>\n";
    for (int i = 0; i < rows; ++i)
        html += QString("<tr><td><a href=\"/d\" target=_blank>名字%1.com</a></td><td>%2</td><td>com</td>"
                        "<td>2026-12-2%1 02:30</td><td>预订</td></tr>\n")
                    .arg(i)
                    .arg(3 + i);
    return toGbk(html + "\n</tbody></table></body></html>");
}

class Commands : public ::testing::Test {
protected:
    void SetUp() override {
        link.fetch().setLimits(
            {.TickMs = 20, .ConnectTicks = 15, .SilenceMs = 400, .MaxAnswerBytes = 256 * 1024});
        connect(search);
        connect(lookup);
        QObject::connect(&search, &SearchCommands::pageLabelChanged,
                         [this](const QString& t) { labels << t; });
        QObject::connect(&search, &SearchCommands::rowsAdded,
                         [this](const QList<ResultRow>& r) { rows += r; });
        QObject::connect(&search, &SearchCommands::showSearchPanel, [this] { panels << "search"; });
        QObject::connect(&lookup, &LookupCommand::showLookupPanel, [this] { panels << "lookup"; });
        QObject::connect(&lookup, &LookupCommand::resultTextChanged,
                         [this](const QString& t) { results << t; });
        QObject::connect(&search, &SearchCommands::finished,
                         [this](const SearchResult& r) { lastSearch = r; });
        QObject::connect(&lookup, &LookupCommand::finished,
                         [this](const LookupResult& r) { lastLookup = r; });
    }

    template <typename C> void connect(C& commands) {
        QObject::connect(&commands, &C::statusChanged, [this](const QString& t) { statuses << t; });
        QObject::connect(&commands, &C::buttonsLocked, [this](bool locked) { locks << locked; });
        QObject::connect(&commands, &C::rowsCleared, [this] {
            rows.clear();
            ++cleared;
        });
    }

    // Runs a search against the server's script and waits for it to end.
    void runSearch(QList<ScriptServer::Step> script, SearchQuery filters = {}) {
        server.setScript(std::move(script));
        QSignalSpy done(&search, &SearchCommands::finished);
        ASSERT_EQ(search.newSearch(filters), CommandResult::started());
        ASSERT_TRUE(done.wait(5000));
    }

    void runLookup(QList<ScriptServer::Step> script, const QString& domain = "abc.com") {
        server.setScript(std::move(script));
        QSignalSpy done(&lookup, &LookupCommand::finished);
        ASSERT_EQ(lookup.lookup(domain), CommandResult::started());
        ASSERT_TRUE(done.wait(5000));
    }

    QByteArray logBytes() {
        QFile f(logPath);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    ScriptServer server;
    QTemporaryDir dir;
    QString logPath = dir.filePath("xxx.txt");
    ServiceLink link;
    SearchCommands search{link, *ServiceAddress::parse(server.hostPort())};
    LookupCommand lookup{link, *ServiceAddress::parse(server.hostPort()), logPath};
    SearchResult lastSearch;
    LookupResult lastLookup;
    QStringList statuses, labels, results, panels;
    QList<bool> locks;
    QList<ResultRow> rows;
    int cleared = 0;
};

const QStringList kDoneRoad{"正在连接服务器...", "正在获取结果...", "完成..."};
const QStringList kFailedRoad{"正在连接服务器...", "正在获取结果...", "获取结果出错,请稍后重试..."};

TEST_F(Commands, SearchRoadFromRequestToRows) {
    SearchQuery filters;
    filters.keyword = QString::fromUtf8("名字");
    runSearch({ScriptServer::send(ScriptServer::httpAnswer(resultBody(2)))}, filters);
    EXPECT_EQ(statuses, kDoneRoad);
    EXPECT_EQ(locks, (QList<bool>{true, false}));
    EXPECT_EQ(panels, QStringList{"search"});
    EXPECT_EQ(labels, QStringList{"总共：3 页，当前 1 页"});
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[1], ResultRow(u"名字1.com", u"4", u"com", u"2026-12-21 02:30"));
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_TRUE(
        server.requests()[0].startsWith("GET /s/?key=\xC3\xFB\xD7\xD6&kaiwei=radom&min=0&max=0&op=zahe&o=o_5"
                                        "&com=com&net=net&tsym=0&d=0&do=do&page=0 HTTP/1.1\r\n"));
    EXPECT_TRUE(server.requests()[0].endsWith("\r\nHost: " + server.hostPort().toLatin1() +
                                              "\r\nConnection: Keep-Alive\r\n\r\n"));
}

TEST_F(Commands, AnswerSplitAnywhereGivesTheOneShotResult) {
    const QByteArray answer = ScriptServer::httpAnswer(resultBody(1));
    runSearch({ScriptServer::send(answer)});
    const QList<ResultRow> whole = rows;
    ASSERT_EQ(whole.size(), 1);
    for (qsizetype cut = 1; cut < answer.size(); cut += 3) {
        statuses.clear();
        runSearch(ScriptServer::splitAt(answer, cut, 1));
        EXPECT_EQ(rows, whole) << "cut at " << cut;
        EXPECT_EQ(statuses.last(), "完成...") << "cut at " << cut;
    }
}

TEST_F(Commands, ChunkedAnswersAreUnframedEvenInsideMarkersAndCharacters) {
    for (qsizetype chunk : {1, 2, 7, 64}) {
        rows.clear();
        runSearch({ScriptServer::send(ScriptServer::httpAnswer(resultBody(2), 200, true, chunk))});
        ASSERT_EQ(rows.size(), 2) << "chunk " << chunk;
        EXPECT_EQ(rows[0].domain(), u"名字0.com") << "chunk " << chunk;
    }
}

TEST_F(Commands, BrokenAnswersEndWithTheErrorText) {
    const QByteArray good = ScriptServer::httpAnswer(resultBody(1));
    struct Case {
        const char* name;
        QList<ScriptServer::Step> script;
    };
    const Case cases[] = {
        {"upper-case end tag, then close",
         {ScriptServer::send(QByteArray(good).replace("</html>", "</HTML>")), ScriptServer::close()}},
        {"close after headers",
         {ScriptServer::send(good.first(good.indexOf("\r\n\r\n") + 4)), ScriptServer::close()}},
        {"close mid-body", {ScriptServer::send(good.first(good.size() / 2)), ScriptServer::close()}},
        {"close with nothing sent", {ScriptServer::close()}},
        {"headers then silence", {ScriptServer::send(good.first(40)), ScriptServer::stall()}},
        {"endless data without the end tag", ScriptServer::split(QByteArray(300 * 1024, 'x'), 32 * 1024, 1)},
        {"404 page", {ScriptServer::send(ScriptServer::httpAnswer("<html>not found</html>", 404))}},
    };
    for (const Case& c : cases) {
        statuses.clear();
        locks.clear();
        runSearch(c.script);
        EXPECT_EQ(statuses, kFailedRoad) << c.name;
        EXPECT_EQ(locks, (QList<bool>{true, false})) << c.name;
        EXPECT_FALSE(link.inFlight()) << c.name;
        EXPECT_FALSE(lastSearch.pageRead) << c.name;
    }
}

TEST_F(Commands, BytesAfterTheEndTagAndWithTheCloseAreKept) {
    runSearch({ScriptServer::send(ScriptServer::httpAnswer(resultBody(1)) + "<!-- trailing -->"),
               ScriptServer::close()});
    EXPECT_EQ(statuses.last(), "完成...");
    EXPECT_TRUE(link.fetch().RecvText().endsWith("<!-- trailing -->"));
}

TEST_F(Commands, RefusedConnectionWaitsItsTicksThenTimesOut) {
    search.setService({"127.0.0.1", ScriptServer::closedPort()});
    QSignalSpy done(&search, &SearchCommands::finished);
    ASSERT_EQ(search.newSearch({}), CommandResult::started());
    ASSERT_TRUE(done.wait(5000));
    EXPECT_EQ(link.fetch().Ticks(), 15);
    EXPECT_EQ(lastSearch.outcome.kind, FetchState::TimedOut);
    EXPECT_EQ(statuses, (QStringList{"正在连接服务器...", "连接服务器超时,请稍后再试..."}));
    EXPECT_EQ(locks, (QList<bool>{true, false}));
    EXPECT_TRUE(lastSearch.outcome.reason.endsWith("refused the connection"))
        << lastSearch.outcome.reason.toStdString();

    // The window's text stays the same; the reason beside it says what went wrong.
    search.setService({"nonexistent.invalid", 80});
    ASSERT_EQ(search.newSearch({}), CommandResult::started());
    ASSERT_TRUE(done.wait(5000));
    EXPECT_EQ(statuses.last(), "连接服务器超时,请稍后再试...");
    EXPECT_EQ(lastSearch.outcome.reason, "the host name nonexistent.invalid did not resolve");
}

TEST_F(Commands, ASecondRequestWhileOneIsInFlightChangesNothing) {
    server.setScript({ScriptServer::wait(200), ScriptServer::send(ScriptServer::httpAnswer(resultBody(1)))});
    QSignalSpy done(&search, &SearchCommands::finished);
    ASSERT_EQ(search.newSearch({}), CommandResult::started());
    const SearchState before = search.state();
    EXPECT_EQ(search.newSearch({}), CommandResult::busy());
    EXPECT_EQ(search.presetSearch(), CommandResult::busy());
    EXPECT_EQ(lookup.lookup("abc.com"), CommandResult::busy());
    EXPECT_EQ(search.state().query, before.query);
    EXPECT_EQ(panels, QStringList{"search"});
    ASSERT_TRUE(done.wait(5000));
    EXPECT_EQ(server.connections(), 1);
    EXPECT_EQ(locks, (QList<bool>{true, false}));
}

TEST_F(Commands, PagingRefusalsAndPageNumbersCarryOver) {
    runSearch({ScriptServer::send(ScriptServer::httpAnswer(resultBody(1, "3")))});
    EXPECT_EQ(search.previousPage({}), CommandResult::refused(u"已经是第一页了！"));
    EXPECT_EQ(search.jumpToPage({}, u"4"), CommandResult::refused(u"您输入的页码范围不正确！"));
    QSignalSpy done(&search, &SearchCommands::finished);
    SearchQuery changed;
    changed.suffixes = Org;
    ASSERT_EQ(search.jumpToPage(changed, u"3"), CommandResult::started());
    ASSERT_TRUE(done.wait(5000));
    EXPECT_TRUE(
        server.requests().last().startsWith("GET /s/?key=&kaiwei=radom&min=0&max=0&op=zahe&o=o_5&org=org"
                                            "&tsym=0&d=0&do=do&page=2 HTTP/1.1"));
    EXPECT_EQ(labels.last(), "总共：3 页，当前 3 页");
    EXPECT_EQ(search.nextPage({}), CommandResult::refused(u"已经是最后一页了！"));
    EXPECT_EQ(panels, QStringList{"search"}); // paging switches no panel
}

TEST_F(Commands, PageNumberIsNotRestoredWhenTheRequestFails) {
    runSearch({ScriptServer::send(ScriptServer::httpAnswer(resultBody(1, "3")))});
    server.setScript({ScriptServer::close()});
    QSignalSpy done(&search, &SearchCommands::finished);
    ASSERT_EQ(search.nextPage({}), CommandResult::started());
    ASSERT_TRUE(done.wait(5000));
    EXPECT_EQ(search.state().query.page, 1);
    EXPECT_EQ(search.state().pageCountText, "3");
    EXPECT_EQ(search.state().pageCount, 3);
}

TEST_F(Commands, LookupShowsDatesAndLogsThePage) {
    const QByteArray page = toGbk(QStringLiteral(
        "<html><title>abc.com</title>域名到期时间：<span style=color:#FF6600>2026-01-01 08:00:00</span>"
        "<span style=color:#FF6600>预算2026-03-22 02:30</span></html>"));
    runLookup({ScriptServer::send(ScriptServer::httpAnswer(page))});
    EXPECT_EQ(panels, QStringList{"lookup"});
    EXPECT_EQ(
        results,
        (QStringList{
            "正在查询结果...",
            "查询完成...\r\n\r\n域名到期时间：2026-01-01 08:00:00    域名删除时间：预算 2026-03-22 02:30"}));
    EXPECT_EQ(cleared, 1);
    EXPECT_TRUE(server.requests()[0].startsWith(
        "GET /whois/?domain=abc.com&Whois%5B%5D=1&Whois%5B%5D=2&Whois%5B%5D=3 "));
    const QByteArray once = ScriptServer::httpAnswer(page) + "\r\n";
    EXPECT_EQ(logBytes(), once);
    runLookup({ScriptServer::send(ScriptServer::httpAnswer(page))});
    EXPECT_EQ(logBytes(), once + once);
}

TEST_F(Commands, LookupFailuresNeverLogAHalfPage) {
    runLookup({ScriptServer::send("HTTP/1.1 200 OK\r\n\r\n<html>half"), ScriptServer::close()});
    EXPECT_EQ(results.last(), "获取结果出错,请稍后重试...");
    EXPECT_FALSE(QFile::exists(logPath));
    // A page without the dates is logged, then reported as an error.
    runLookup({ScriptServer::send(ScriptServer::httpAnswer("<html>nothing here</html>"))});
    EXPECT_EQ(results.last(), "获取结果出错,请稍后重试...");
    EXPECT_TRUE(logBytes().contains("nothing here"));
}

TEST_F(Commands, LookupTimeoutIsShownInTheResultBoxToo) {
    lookup.setService({"127.0.0.1", ScriptServer::closedPort()});
    results << "before";
    QSignalSpy done(&lookup, &LookupCommand::finished);
    ASSERT_EQ(lookup.lookup("abc.com"), CommandResult::started());
    ASSERT_TRUE(done.wait(5000));
    EXPECT_EQ(statuses.last(), "连接服务器超时,请稍后再试...");
    EXPECT_EQ(results, (QStringList{"before", "连接服务器超时,请稍后再试..."}));
}

TEST_F(Commands, LookupRefusalsChangeNothing) {
    EXPECT_EQ(lookup.lookup(""), CommandResult::refused(u"请输入要查询的域名,开头不要加www！"));
    EXPECT_EQ(lookup.lookup("WWW.abc.com"), CommandResult::refused(u"域名开头不要加www！"));
    EXPECT_TRUE(panels.isEmpty());
    EXPECT_TRUE(locks.isEmpty());
    EXPECT_EQ(server.connections(), 0);
}

TEST(FetchLifetime, DestroyingAFetchInFlightReportsNothing) {
    // Under AddressSanitizer this also proves the closing socket reaches nothing already gone.
    ScriptServer server;
    server.setScript({ScriptServer::send("HTTP/1.1 200 OK\r\n\r\n<html>"), ScriptServer::stall()});
    auto fetch = std::make_unique<Fetch>();
    RunningRequest* running =
        fetch->run({"127.0.0.1", server.port()}, Request::bytes("GET / HTTP/1.1\r\n\r\n"));
    ASSERT_TRUE(running);
    QSignalSpy connected(running, &RunningRequest::connected);
    QSignalSpy finished(running, &RunningRequest::finished);
    ASSERT_TRUE(connected.wait(5000));
    QSignalSpy served(&server, &ScriptServer::scriptFinished);
    ASSERT_TRUE(served.wait(5000));
    fetch.reset();
    EXPECT_EQ(finished.count(), 0);
}

// Every page of the search into a file, as the list's menu does.
class Export : public Commands {
protected:
    PageExport::End exportTo(const QString& path) {
        PageExport exporter(link, *ServiceAddress::parse(server.hostPort()), search.state(), path, 0);
        PageExport::End end;
        QSignalSpy ended(&exporter, &PageExport::finished);
        QObject::connect(&exporter, &PageExport::finished, [&end](const PageExport::End& e) { end = e; });
        QObject::connect(&exporter, &PageExport::progress, [this] { server.setScript(nextScript); });
        exporter.start();
        EXPECT_TRUE(ended.count() == 1 || ended.wait(5000));
        return end;
    }
    static QByteArray fileBytes(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(none)");
    }
    QList<ScriptServer::Step> nextScript; // what the server does once a page has been written
};

const QByteArray kCsvHead = QByteArray("\xEF\xBB\xBF") + QString("域名,长度,后缀,删除时间\r\n").toUtf8();

TEST_F(Export, AFailedPageEndsTheFileAfterTheWholePagesBefore) {
    const QList<ScriptServer::Step> page = {ScriptServer::send(ScriptServer::httpAnswer(resultBody(2, "3")))};
    runSearch(page);
    nextScript = {ScriptServer::close()};
    const QString path = dir.filePath("all.csv");
    const PageExport::End end = exportTo(path);
    EXPECT_EQ(end.kind, PageExport::End::Kind::PageFailed);
    EXPECT_EQ(end.pagesWritten, 1);
    EXPECT_EQ(end.rowsWritten, 2);
    EXPECT_EQ(end.stoppedAtPage, 2);
    EXPECT_EQ(fileBytes(path), kCsvHead + QString("名字0.com,3,com,2026-12-20 02:30\r\n"
                                                  "名字1.com,4,com,2026-12-21 02:30\r\n")
                                              .toUtf8());
    ASSERT_EQ(server.requests().size(), 3);
    EXPECT_TRUE(server.requests()[1].contains("&page=0 HTTP/1.1"));
    EXPECT_TRUE(server.requests()[2].contains("&page=1 HTTP/1.1"));
}

TEST_F(Export, AFileThatCannotBeWrittenOrARequestInFlightStopsItAtOnce) {
    runSearch({ScriptServer::send(ScriptServer::httpAnswer(resultBody(1, "3")))});
    const QString unwritable = dir.filePath("missing/all.csv");
    EXPECT_EQ(exportTo(unwritable).kind, PageExport::End::Kind::WriteFailed);
    EXPECT_FALSE(QFile::exists(unwritable));
    EXPECT_EQ(server.connections(), 1);

    server.setScript(
        {ScriptServer::wait(200), ScriptServer::send(ScriptServer::httpAnswer(resultBody(1, "3")))});
    QSignalSpy done(&search, &SearchCommands::finished);
    ASSERT_EQ(search.nextPage({}), CommandResult::started());
    const QString path = dir.filePath("busy.csv");
    const PageExport::End busy = exportTo(path);
    EXPECT_EQ(busy.kind, PageExport::End::Kind::Busy);
    EXPECT_EQ(busy.pagesWritten, 0);
    EXPECT_EQ(fileBytes(path), kCsvHead);
    ASSERT_TRUE(done.wait(5000));
    EXPECT_EQ(server.connections(), 2);
}

// A window outlives its service: the service leaves after a long idle time and a new one, on
// another port, takes its place. A request that finds the old address refused looks again.
TEST(ServiceLinkTest, LooksForThisUsersServiceAgainWhenItsAddressRefuses) {
    QTemporaryDir runtime;
    QProcess holder;
    holder.start(QStringLiteral(YUMING_LOCK_HOLDER), {runtime.filePath("service.lock")});
    ASSERT_TRUE(holder.waitForReadyRead(5000));
    const auto record = [&](quint16 port) {
        QFile f(runtime.filePath("service"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("127.0.0.1:" + QByteArray::number(port) + "\n" + QByteArray::number(holder.processId()) +
                "\n");
    };
    ScriptServer server;
    server.setScript({ScriptServer::send(ScriptServer::httpAnswer(resultBody(1)))});
    record(ScriptServer::closedPort());

    ServiceLink link(
        UserService::Setup{"/nonexistent/yuming-service", runtime.path(), runtime.filePath("log"), 2000});
    link.fetch().setLimits(
        {.TickMs = 20, .ConnectTicks = 15, .SilenceMs = 400, .MaxAnswerBytes = 256 * 1024});
    SearchCommands search(link, ServiceAddress{"127.0.0.1", 80, true});
    SearchResult result;
    QObject::connect(&search, &SearchCommands::finished, [&](const SearchResult& r) { result = r; });
    QSignalSpy done(&search, &SearchCommands::finished);
    ASSERT_EQ(search.newSearch({}), CommandResult::started());
    // The old address is on its way; the new service records itself meanwhile.
    record(server.port());
    ASSERT_TRUE(done.wait(5000));
    EXPECT_TRUE(result.pageRead) << result.outcome.reason.toStdString();
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_TRUE(server.requests()[0].contains("\r\nHost: " + server.hostPort().toLatin1() + "\r\n"));
    holder.closeWriteChannel();
    EXPECT_TRUE(holder.waitForFinished(5000));
}

TEST(ServiceLinkTest, AServiceThatCannotBeStartedIsSaidSoButShownAsATimeout) {
    QTemporaryDir runtime;
    ServiceLink link(
        UserService::Setup{"/nonexistent/yuming-service", runtime.path(), runtime.filePath("log"), 2000});
    SearchCommands search(link, ServiceAddress{"127.0.0.1", 80, true});
    SearchResult result;
    QString status;
    QObject::connect(&search, &SearchCommands::finished, [&](const SearchResult& r) { result = r; });
    QObject::connect(&search, &SearchCommands::statusChanged, [&](const QString& s) { status = s; });
    QSignalSpy done(&search, &SearchCommands::finished);
    ASSERT_EQ(search.newSearch({}), CommandResult::started());
    ASSERT_TRUE(done.wait(5000));
    EXPECT_EQ(result.outcome.kind, FetchState::NoService);
    EXPECT_EQ(result.outcome.reason,
              "yuming-service could not be started: cannot run /nonexistent/yuming-service");
    EXPECT_EQ(status, "连接服务器超时,请稍后再试...");
}

} // namespace
