// Parse-only timing of a saved search page, for the peer comparison: GBK bytes in, page count
// and rows out, as yuming-cli prints them. Usage: parse_page FILE [REPEAT]
// Prints the rows to stdout and "median_us <value>" to stderr.
#include "protocol/search_page.h"
#include "text/gbk.h"

#include <QFile>
#include <QTextStream>

#include <algorithm>
#include <chrono>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    QFile file(QString::fromLocal8Bit(argv[1]));
    if (!file.open(QIODevice::ReadOnly)) return 2;
    const QByteArray bytes = file.readAll();
    const int repeat = argc > 2 ? std::max(1, atoi(argv[2])) : 1;
    std::vector<double> times;
    yuming::ResultPage page;
    for (int i = 0; i < repeat; ++i) {
        const auto start = std::chrono::steady_clock::now();
        page = yuming::parseResultPage(yuming::fromGbk(bytes));
        times.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    std::nth_element(times.begin(), times.begin() + times.size() / 2, times.end());
    QTextStream out(stdout);
    out << "pages\t" << page.pageCount.value_or(QString()) << '\n';
    for (const yuming::ResultRow& r : page.rows)
        out << r.domain() << '\t' << r.length() << '\t' << r.suffix() << '\t' << r.deletionTime() << '\n';
    out.flush();
    QTextStream(stderr) << "median_us " << times[times.size() / 2] << '\n';
    return page.ok() ? 0 : 1;
}
