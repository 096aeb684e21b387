// yuming-cli as a script would run it, and its commands in this process, against the scripted
// loopback server.
#include "cli/all_pages_job.h"
#include "cli/batch_lookup_job.h"
#include "cli/cli_options.h"
#include "support/script_server.h"
#include "text/gbk.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

using yuming::toGbk;

struct CliRun {
    int exit = -1;
    QString out, err;
    QByteArray bytes; // stdout as written: QString::fromUtf8 drops a byte-order mark
};

CliRun runCli(const QStringList& args) {
    QProcess p;
    QSignalSpy finished(&p, &QProcess::finished);
    p.start(QStringLiteral(YUMING_CLI_BIN), args);
    EXPECT_TRUE(finished.wait(10000));
    const QByteArray out = p.readAllStandardOutput();
    return {p.exitCode(), QString::fromUtf8(out), QString::fromUtf8(p.readAllStandardError()), out};
}

QByteArray page(const QString& count, const QString& rows) {
    return ScriptServer::httpAnswer(toGbk("<html><strong>,&#x5171;" + count +
                                          "页</strong><table><tr><th class=\"booking\">预订</th></tr>\n" +
                                          rows + "\n</tbody></table></html>"));
}

const QString kRow =
    QStringLiteral("<tr><td><a href=x target=_blank>中文.com</a></td><td>2</td><td>com</td><td>2026-12-20 "
                   "02:30</td><td>b</td></tr>");

TEST(Cli, SearchPrintsPageCountAndRows) {
    ScriptServer server;
    server.setScript({ScriptServer::send(page("4", kRow))});
    const CliRun r =
        runCli({"--service", server.hostPort(), "search", "--key", "中", "--pos", "left", "--suffix", "org"});
    EXPECT_EQ(r.exit, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "pages\t4\tcurrent\t1\n中文.com\t2\tcom\t2026-12-20 02:30\n");
    EXPECT_EQ(r.err, "正在连接服务器...\n正在获取结果...\n完成...\n");
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_TRUE(server.requests()[0].startsWith(
        "GET /s/?key=\xD6\xD0&kaiwei=starts&min=0&max=0&op=zahe&o=o_5&org=org&tsym=0&d=0&do=do&page=0 "));
}

TEST(Cli, PageJumpsAfterTheFirstPageOrIsRefused) {
    ScriptServer server;
    server.setScript({ScriptServer::send(page("4", kRow))});
    CliRun r = runCli({"--service", server.hostPort(), "preset", "--page", "2"});
    EXPECT_EQ(r.exit, 0) << r.err.toStdString();
    ASSERT_EQ(server.requests().size(), 2);
    EXPECT_TRUE(server.requests()[1].contains("&com=com&net=net&org=org&tsym=0&d=0&do=do&page=1 HTTP/1.1"));
    EXPECT_TRUE(r.out.startsWith("pages\t4\tcurrent\t2\n"));

    r = runCli({"--service", server.hostPort(), "search", "--page", "9"});
    EXPECT_EQ(r.exit, 2);
    EXPECT_TRUE(r.err.endsWith("您输入的页码范围不正确！\n")) << r.err.toStdString();
}

// One page in the format asked for, written as --all-pages writes a search of one page.
TEST(Cli, OnePageTakesTheFormatAskedFor) {
    ScriptServer server;
    server.setScript({ScriptServer::send(page("4", kRow + kRow))});
    CliRun r = runCli({"--service", server.hostPort(), "search", "--format", "csv"});
    EXPECT_EQ(r.exit, 0) << r.err.toStdString();
    EXPECT_EQ(r.bytes.toStdString(),
              "\xEF\xBB\xBF域名,长度,后缀,删除时间\r\n"
              "中文.com,2,com,2026-12-20 02:30\r\n中文.com,2,com,2026-12-20 02:30\r\n");

    r = runCli({"--service=" + server.hostPort(), "preset", "--format=json", "--page=3"});
    EXPECT_EQ(r.exit, 0) << r.err.toStdString();
    const QString row =
        "{\"domain\":\"中文.com\",\"length\":\"2\",\"suffix\":\"com\",\"deletion\":\"2026-12-20 02:30\"}\n";
    EXPECT_EQ(r.out, row + row + "{\"pages\":4,\"fetched\":1,\"rows\":2,\"complete\":true}\n");
    ASSERT_EQ(server.requests().size(), 3);
    EXPECT_TRUE(server.requests()[2].contains("&page=2 HTTP/1.1"));

    server.setScript({ScriptServer::close()});
    r = runCli({"--service", server.hostPort(), "search", "--format", "json"});
    EXPECT_EQ(r.exit, 1);
    EXPECT_EQ(r.out, "{\"pages\":0,\"fetched\":0,\"rows\":0,\"complete\":false}\n");
}

TEST(Cli, FailuresAndRefusalsHaveTheirExitStatus) {
    ScriptServer server;
    server.setScript({ScriptServer::send("HTTP/1.1 500 Oops\r\n\r\n<html>oops</html>")});
    CliRun r = runCli({"--service", server.hostPort(), "search"});
    EXPECT_EQ(r.exit, 1);
    EXPECT_TRUE(r.err.endsWith("获取结果出错,请稍后重试...\n"));
    EXPECT_EQ(r.out, "") << "a failed search has no page count";

    r = runCli({"--service", server.hostPort(), "lookup", "www.abc.com"});
    EXPECT_EQ(r.exit, 2);
    EXPECT_EQ(r.err, "域名开头不要加www！\n");
    r = runCli({"--service", server.hostPort(), "lookup", ""});
    EXPECT_EQ(r.exit, 2);
    EXPECT_EQ(r.err, "请输入要查询的域名,开头不要加www！\n");
    r = runCli({"--service", "no:port", "search"});
    EXPECT_EQ(r.exit, 2);
    EXPECT_EQ(server.connections(), 1);
}

TEST(Cli, LookupPrintsTheResultAndLogsThePage) {
    ScriptServer server;
    const QByteArray answer = ScriptServer::httpAnswer(
        toGbk(QStringLiteral("<html><title>x</title> 未注册<span id=span_dt_dt></span></html>")));
    server.setScript({ScriptServer::send(answer)});
    QTemporaryDir dir;
    const QString log = dir.filePath("xxx.txt");
    const CliRun r = runCli({"--service", server.hostPort(), "lookup", "a b.com", "--log", log});
    EXPECT_EQ(r.exit, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "查询完成...\r\n\r\n域名未注册\n");
    EXPECT_TRUE(server.requests()[0].startsWith("GET /whois/?domain=a%20b.com&Whois%5B%5D=1"));
    QFile f(log);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), answer + "\r\n");
}

// Only a regular file is a log; anything else fails the lookup at once with the reason, and is
// left as it was.
TEST(Cli, ALogThatIsNoRegularFileFailsTheLookupAtOnce) {
    ScriptServer server;
    server.setScript({ScriptServer::send(ScriptServer::httpAnswer("<html>x</html>"))});
    QTemporaryDir dir;
    const QString fifo = dir.filePath("fifo"), folder = dir.filePath("folder"),
                  link = dir.filePath("xxx.txt");
    QFile other(dir.filePath("other.txt"));
    ASSERT_TRUE(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0 &&
                QDir(dir.path()).mkdir("folder") && other.open(QIODevice::WriteOnly) &&
                other.write("not a log\n") == 10 && other.link(link));
    other.close();
    const struct {
        QString log;
        const char* reason;
    } cases[] = {
        {fifo, "a FIFO, not a regular file"},
        {folder, "a folder, not a regular file"},
        {"/dev/null", "a character device, not a regular file"},
        {link, "a symbolic link, which the log is never written through"},
    };
    for (const auto& c : cases) {
        const CliRun r = runCli({"--service", server.hostPort(), "lookup", "abc.com", "--log", c.log});
        EXPECT_EQ(r.exit, 1) << c.log.toStdString();
        EXPECT_EQ(r.out, "");
        const QString reason = "yuming-cli: " + c.log + ": " + c.reason + "\n";
        const QString expected =
            "正在连接服务器...\n正在查询结果...\n" + reason + "获取结果出错,请稍后重试...\n";
        EXPECT_EQ(r.err.toStdString(), expected.toStdString());
    }
    EXPECT_TRUE(QFileInfo(fifo).exists() && !QFileInfo(fifo).isFile());
    ASSERT_TRUE(other.open(QIODevice::ReadOnly));
    EXPECT_EQ(other.readAll(), "not a log\n");
}

} // namespace

namespace {

// Ctrl+C in a run of many lookups: the one in flight ends, its line is whole, nothing more starts.
TEST(Cli, InterruptStopsABatchAfterTheLookupInFlight) {
    ScriptServer server;
    const QByteArray answer = ScriptServer::httpAnswer(
        toGbk(QStringLiteral("<html><title>x</title> 未注册<span id=span_dt_dt></span></html>")));
    server.setScript({ScriptServer::wait(300), ScriptServer::send(answer)});
    QTemporaryDir dir;
    QProcess p;
    p.start(QStringLiteral(YUMING_CLI_BIN), {"--service", server.hostPort(), "lookup", "--file", "-",
                                             "--delay", "0", "--log", dir.filePath("xxx.txt")});
    p.write("a.com\nb.com\nc.com\nd.com\ne.com\nf.com\n");
    p.closeWriteChannel();
    // The server answers from this process's event loop, so the waits here keep it running.
    QSignalSpy finished(&p, &QProcess::finished);
    QByteArray out;
    for (int i = 0; i < 500 && !out.contains('\n'); ++i) {
        QTest::qWait(10);
        out += p.readAllStandardOutput();
    }
    ::kill(static_cast<pid_t>(p.processId()), SIGINT);
    ASSERT_TRUE(finished.wait(5000)) << out.data();
    out += p.readAllStandardOutput();
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 130);
    EXPECT_TRUE(out.endsWith('\n'));
    const QList<QByteArray> lines = out.chopped(1).split('\n');
    EXPECT_LE(lines.size(), 2);
    for (const QByteArray& line : lines)
        EXPECT_TRUE(line.endsWith("\tnot-registered\t\t")) << line.data();
}

// An endless line is passed over in constant memory, and Ctrl+C still ends the run.
TEST(Cli, ABatchOfAnEndlessLineStaysSmall) {
    QProcess p;
    p.start(QStringLiteral(YUMING_CLI_BIN),
            {"--service", "127.0.0.1:1", "lookup", "--file", "/dev/zero", "--log", "/dev/null/x"});
    ASSERT_TRUE(p.waitForStarted());
    QByteArray err;
    for (int i = 0; i < 500 && !err.contains('\n'); ++i) {
        p.waitForReadyRead(10);
        err += p.readAllStandardError();
    }
    EXPECT_EQ(err, "yuming-cli: /dev/zero:1: line too long\n");
    QThread::msleep(1000); // some hundreds of megabytes of zeros
    QFile status(QStringLiteral("/proc/%1/status").arg(p.processId()));
    ASSERT_TRUE(status.open(QIODevice::ReadOnly));
    const QByteArray text = status.readAll();
    const qsizetype at = text.indexOf("VmHWM:");
    ASSERT_GE(at, 0);
    const qint64 peakKiB =
        text.mid(at + 6, text.indexOf('\n', at) - at - 6).trimmed().split(' ')[0].toLongLong();
    EXPECT_GT(peakKiB, 0);
    EXPECT_LT(peakKiB, 50 * 1024);
    ::kill(static_cast<pid_t>(p.processId()), SIGINT);
    ASSERT_TRUE(p.waitForFinished(5000));
    EXPECT_EQ(p.exitCode(), 130);
}

} // namespace

// The commands inside this process, as main.cpp runs them.
namespace {

using namespace yuming;
using namespace yuming::cli;

std::optional<Options> parsed(const QStringList& args, QString* error = nullptr) {
    QString e;
    auto options = parseOptions(args, e);
    if (error) *error = e;
    return options;
}

TEST(CliOptions, ValuesMapByNameAndTheFirstWrongArgumentIsTheOneReported) {
    const auto o = parsed({"search", "--pos", "both", "--kind", "letters", "--sort", "letters", "--suffix",
                           "org,com", "--min", "x", "--format", "json"});
    ASSERT_TRUE(o);
    EXPECT_EQ(o->filters.position, KeyPosition::StartsOrEnds);
    EXPECT_EQ(o->filters.kind, CharKind::Letters);
    EXPECT_EQ(o->filters.sort, SortKey::Alphabetical);
    EXPECT_EQ(o->filters.suffixes, Com | Org);
    EXPECT_EQ(o->filters.minLength, "x");
    // The window sends its length boxes as they stand; so does the CLI, up to the box's limit.
    EXPECT_EQ(parsed({"search", "--min", " -3", "--max", QString(32767, u'9')})->filters.minLength, " -3");
    EXPECT_EQ(parsed({"search", "--page", "0012"})->page, "0012");
    EXPECT_EQ(o->format, row_format::Format::Json);
    EXPECT_EQ(parsed({"lookup", "-a.com"})->domain, "-a.com") << "a plain argument even with a dash";
    EXPECT_EQ(parsed({"search", "--key", "--pos"})->filters.keyword, "--pos") << "a value even with dashes";
    const auto joined = parsed({"search", "--format=csv", "--key=a=b", "--min=", "--all-pages", "--delay=5"});
    ASSERT_TRUE(joined);
    EXPECT_EQ(joined->format, row_format::Format::Csv);
    EXPECT_EQ(joined->filters.keyword, "a=b");
    EXPECT_EQ(joined->filters.minLength, "");
    EXPECT_EQ(joined->delayMs, 5);
    EXPECT_TRUE(joined->allPages);
    EXPECT_TRUE(parsed({"search", "--kind", "x", "help"}) == std::nullopt);
    EXPECT_TRUE(parsed({"search", "help", "--kind", "x"})->help);

    const struct {
        QStringList args;
        const char* error;
    } bad[] = {
        {{}, "no command given"},
        {{"search", "--pos", "x", "--kind", "y"}, "--pos takes one of any|left|right|both"},
        {{"search", "--kind", "y", "--pos", "x"}, "--kind takes one of any|letters|digits"},
        {{"search", "--sort", "name"}, "--sort takes one of time|letters|suffix|length|date"},
        {{"search", "--suffix", "com,cn"}, "unknown suffix: cn"},
        {{"search", "--bogus"}, "--bogus needs a value"},
        {{"search", "--key=a", "b"}, "unexpected argument: b"},
        {{"search", "--bogus=1"}, "unknown option: --bogus"},
        {{"search", "--quiet=yes"}, "--quiet takes no value"},
        {{"search", "--format=xml"}, "--format takes one of tsv|csv|json"},
        {{"search", "--page="}, "--page takes a page number from 1, in digits"},
        {{"search", "x"}, "unexpected argument: x"},
        {{"lookup", "a.com", "--file", "f"}, "lookup needs a DOMAIN or --file, not both"},
        {{"preset", "--all-pages", "--page", "2"}, "--all-pages and --page do not go together"},
        {{"search", "--page", "1e3"}, "--page takes a page number from 1, in digits"},
        {{"search", "--page", ""}, "--page takes a page number from 1, in digits"},
        {{"search", "--page", "+5"}, "--page takes a page number from 1, in digits"},
        {{"search", "--page", " 5"}, "--page takes a page number from 1, in digits"},
        {{"search", "--page", "0"}, "--page takes a page number from 1, in digits"},
        {{"search", "--max", QString(32768, u'9')},
         "--max takes at most 32767 characters, as the window's box does"},
        {{"lookup", "a.com", "--log", ""}, "--log takes a file name"},
    };
    for (const auto& c : bad) {
        QString error;
        EXPECT_FALSE(parsed(c.args, &error)) << c.error;
        EXPECT_EQ(error, c.error);
    }
}

TEST(CliJobs, AllPagesEndingInAFailedPageSaysHowFarItGot) {
    ScriptServer server;
    server.setScript({ScriptServer::send(page("2", kRow))});
    QObject::connect(&server, &ScriptServer::scriptFinished,
                     [&server] { server.setScript({ScriptServer::close()}); });
    auto options =
        parsed({"--service", server.hostPort(), "search", "--all-pages", "--delay", "0", "--format", "json"});
    ASSERT_TRUE(options);
    QBuffer out, err;
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);
    AllPagesJob job(*options, out, err);
    QSignalSpy finished(&job, &CliJob::finished);
    ASSERT_EQ(job.start(), std::nullopt);
    ASSERT_TRUE(finished.wait(5000));
    EXPECT_EQ(finished.first().first().toInt(), 1);
    EXPECT_EQ(
        QString::fromUtf8(out.data()),
        "{\"domain\":\"中文.com\",\"length\":\"2\",\"suffix\":\"com\",\"deletion\":\"2026-12-20 02:30\"}\n"
        "{\"pages\":2,\"fetched\":1,\"rows\":1,\"complete\":false}\n");
    EXPECT_EQ(QString::fromUtf8(err.data()),
              "page 1/2\nyuming-cli: the service closed the connection before the answer was complete\n"
              "获取结果出错,请稍后重试...\n");
}

struct BatchRun {
    int exitCode = -1;
    QByteArray out, err;
    int connections = 0;
};

// A batch of lookups read from `list` on stdin, each answered "not registered".
BatchRun runBatch(const QByteArray& list) {
    ScriptServer server;
    server.setScript({ScriptServer::send(ScriptServer::httpAnswer(
        toGbk(QStringLiteral("<html><title>x</title> 未注册<span id=span_dt_dt></span></html>"))))});
    QTemporaryDir dir;
    auto options = parsed({"--service", server.hostPort(), "lookup", "--file", "-", "--delay", "0", "--log",
                           dir.filePath("l.txt")});
    BatchRun run;
    if (!options) {
        ADD_FAILURE() << "options refused";
        return run;
    }
    QBuffer in, out, err;
    in.setData(list);
    in.open(QIODevice::ReadOnly);
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);
    BatchLookupJob job(*options, out, err, &in);
    QSignalSpy finished(&job, &CliJob::finished);
    EXPECT_EQ(job.start(), std::nullopt);
    if (!finished.wait(5000)) {
        ADD_FAILURE() << "the batch did not finish";
        return run;
    }
    return {finished.first().first().toInt(), out.data(), err.data(), server.connections()};
}

// A line over 4 KiB is refused by its number and the list goes on; one of 4096 bytes, a CRLF end
// and a last line without one are lines like any other.
TEST(CliJobs, ABatchRefusesOverlongLinesAndGoesOn) {
    const BatchRun run = runBatch(QByteArray(70000, 'x') + "\nb.com\r\n#" + QByteArray(4095, 'y') + "\r\n#" +
                                  QByteArray(4096, 'z') + "\r\n" + QByteArray(4097, 'w') + "\na.net");
    EXPECT_EQ(run.exitCode, 1) << "refused lines say so in the exit status";
    EXPECT_EQ(run.out, "b.com\tnot-registered\t\t\na.net\tnot-registered\t\t\n");
    EXPECT_EQ(run.err, "yuming-cli: stdin:1: line too long\nyuming-cli: stdin:4: line too long\n"
                       "yuming-cli: stdin:5: line too long\n");
}

TEST(CliJobs, ABatchReadsItsListAndAnswersInOrder) {
    const BatchRun run = runBatch("# names\n\nb.com\nwww.c.com\n a.net \n");
    EXPECT_EQ(run.exitCode, 1) << "one name was refused";
    EXPECT_EQ(run.out, "b.com\tnot-registered\t\t\nwww.c.com\trefused\t\t\na.net\tnot-registered\t\t\n");
    EXPECT_EQ(QString::fromUtf8(run.err), "yuming-cli: www.c.com: 域名开头不要加www！\n");
    EXPECT_EQ(run.connections, 2);
}

} // namespace
