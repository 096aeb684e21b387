// Speed of the search path: parsing result pages, the receive path, one search over loopback.
#include "protocol/search_page.h"
#include "search/receive_path.h"
#include "search/search_commands.h"
#include "search/service_link.h"
#include "text/gbk.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTcpServer>
#include <QTcpSocket>

#include <benchmark/benchmark.h>

using namespace yuming;

namespace {

QString resultPage(int rows) {
    QString html =
        QStringLiteral("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n<html><head><title>过期域名</title>"
                       "</head><body><p><strong>,&#x5171;%1页</strong></p><table><thead><tr><th>域名</th>"
                       "<th>长度</th><th>后缀</th><th>删除时间</th><th class=\"booking\">预订</th></tr>"
                       "</thead><tbody>\n")
            .arg(rows / 50 + 1);
    for (int i = 0; i < rows; ++i)
        html +=
            QStringLiteral(
                "<tr><td><a href=\"/whois/?domain=name%1.com\" target=_blank>name%1.com</a></td>"
                "<td>%2</td><td>com</td><td>2026-12-%3 02:30</td><td><a href=\"/book\">预订</a></td></tr>\n")
                .arg(i)
                .arg(4 + i % 9)
                .arg(10 + i % 20);
    return html + QStringLiteral("\n</tbody></table></body></html>");
}

void BM_ParseResultPage(benchmark::State& state) {
    const QString page = resultPage(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        ResultPage parsed = parseResultPage(page);
        benchmark::DoNotOptimize(parsed);
    }
    state.SetBytesProcessed(state.iterations() * page.size() * 2);
    state.counters["page_KiB"] = static_cast<double>(toGbk(page).size()) / 1024;
}
BENCHMARK(BM_ParseResultPage)->Arg(50)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);

void BM_DecodeGbk(benchmark::State& state) {
    const QByteArray bytes = toGbk(resultPage(1000));
    for (auto _ : state)
        benchmark::DoNotOptimize(fromGbk(bytes));
    state.SetBytesProcessed(state.iterations() * bytes.size());
}
BENCHMARK(BM_DecodeGbk)->Unit(benchmark::kMicrosecond);

void BM_ReceivePath(benchmark::State& state) {
    const qsizetype size = state.range(0) * 1024 * 1024;
    QByteArray answer = toGbk(resultPage(1));
    QByteArray body;
    const QByteArray line = toGbk(QStringLiteral("<tr><td>名字 filler text 1234567890</td></tr>\n"));
    while (body.size() < size)
        body += line;
    answer.insert(answer.indexOf("</html>"), body);
    for (auto _ : state) {
        ReceivePath path(64 * 1024 * 1024);
        for (qsizetype at = 0; at < answer.size(); at += 1460)
            benchmark::DoNotOptimize(
                path.feed(QByteArrayView(answer).sliced(at, qMin<qsizetype>(1460, answer.size() - at))));
        if (!path.RecvDone()) state.SkipWithError("answer not complete");
    }
    state.SetBytesProcessed(state.iterations() * answer.size());
}
BENCHMARK(BM_ReceivePath)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond);

// One whole search against a loopback server that answers at once: connect, send, receive,
// decode, parse. No 10 ms sleeps may hide on this path.
void BM_SearchOverLoopback(benchmark::State& state) {
    const QByteArray answer = toGbk(resultPage(50));
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* s = server.nextPendingConnection()) {
            QObject::connect(s, &QTcpSocket::readyRead, s, [s, &answer] {
                if (s->readAll().contains("\r\n\r\n")) s->write(answer);
            });
            QObject::connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
        }
    });
    ServiceLink link;
    SearchCommands search(link, ServiceAddress{"127.0.0.1", server.serverPort()});
    QEventLoop loop;
    QObject::connect(&search, &SearchCommands::finished, &loop, &QEventLoop::quit);
    qsizetype rows = 0;
    QObject::connect(&search, &SearchCommands::rowsAdded,
                     [&rows](const QList<ResultRow>& r) { rows = r.size(); });
    for (auto _ : state) {
        search.newSearch({});
        loop.exec();
        if (rows != 50) state.SkipWithError("search did not return 50 rows");
    }
}
BENCHMARK(BM_SearchOverLoopback)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
