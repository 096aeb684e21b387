// How long the program takes from process start to its window on screen, and how much memory
// the window process and the browser's helper processes hold once the banner is in.
//
//   app_startup [RUNS]
//
// Uses the display in DISPLAY, or the offscreen platform when there is none.
#include "support/service_process.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct Memory {
    qint64 rssKb = 0;
    qint64 pssKb = 0;
    int processes = 0;
};

qint64 field(const QByteArray& text, const QByteArray& name) {
    const qsizetype at = text.indexOf("\n" + name);
    if (at < 0) return 0;
    return text.mid(at + name.size() + 1).trimmed().split(' ').first().toLongLong();
}

Memory memoryOf(qint64 pid) {
    QFile file(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray text = "\n" + file.readAll();
    return {field(text, "Rss:"), field(text, "Pss:"), 1};
}

qint64 parentOf(const QString& pid) {
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly)) return -1;
    const QByteArray stat = file.readAll();
    // pid (comm) state ppid ...; comm may hold blanks, so read after its closing parenthesis.
    return stat.mid(stat.lastIndexOf(')') + 2).split(' ').value(1).toLongLong();
}

Memory helpersOf(qint64 root) {
    std::vector<qint64> family{root};
    Memory total;
    for (bool grew = true; grew;) {
        grew = false;
        for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            const qint64 pid = entry.toLongLong();
            if (pid <= 0 || std::count(family.begin(), family.end(), pid)) continue;
            if (std::count(family.begin(), family.end(), parentOf(entry))) {
                family.push_back(pid);
                grew = true;
            }
        }
    }
    for (std::size_t i = 1; i < family.size(); ++i) {
        const Memory m = memoryOf(family[i]);
        total.rssKb += m.rssKb;
        total.pssKb += m.pssKb;
        total.processes += m.processes;
    }
    return total;
}

// CPU time the process has used so far, all its threads, in milliseconds.
double cpuMsOf(qint64 pid) {
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly)) return 0;
    const QByteArray stat = file.readAll();
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    // utime and stime are fields 14 and 15 of the whole line, 12 and 13 after the command.
    return double(fields.value(11).toLongLong() + fields.value(12).toLongLong()) * 1000.0 /
           double(sysconf(_SC_CLK_TCK));
}

bool readLine(QProcess& process, const QByteArray& prefix, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        while (process.canReadLine()) {
            if (process.readLine().startsWith(prefix)) return true;
        }
        process.waitForReadyRead(int(std::max<qint64>(1, timeoutMs - timer.elapsed())));
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 10;
    yuming::testing::ServiceProcess service;
    if (!service.start()) {
        std::fprintf(stderr, "app_startup: reference service: %s\n", qPrintable(service.error()));
        return 1;
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!environment.contains(QStringLiteral("DISPLAY")) &&
        !environment.contains(QStringLiteral("QT_QPA_PLATFORM")))
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    if (::getuid() == 0)
        environment.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));

    std::vector<double> shownMs;
    std::vector<double> shownCpuMs;
    std::vector<double> bannerMs;
    Memory windowAtShown, window, helpers;
    for (int run = 0; run < runs; ++run) {
        QProcess program;
        program.setProcessEnvironment(environment);
        program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QElapsedTimer timer;
        timer.start();
        program.start(QStringLiteral(YUMING_PROGRAM),
                      {QStringLiteral("--service"), service.address(), QStringLiteral("--report-start")});
        if (!readLine(program, "shown", 20000)) {
            std::fprintf(stderr, "app_startup: the window did not come up\n");
            return 1;
        }
        shownMs.push_back(double(timer.nsecsElapsed()) / 1e6);
        shownCpuMs.push_back(cpuMsOf(program.processId()));
        windowAtShown = memoryOf(program.processId());
        if (readLine(program, "banner", 20000)) bannerMs.push_back(double(timer.nsecsElapsed()) / 1e6);
        window = memoryOf(program.processId());
        helpers = helpersOf(program.processId());
        program.terminate();
        program.waitForFinished(10000);
    }
    std::sort(shownMs.begin(), shownMs.end());
    std::sort(bannerMs.begin(), bannerMs.end());
    std::sort(shownCpuMs.begin(), shownCpuMs.end());
    const auto median = [](const std::vector<double>& v) { return v.empty() ? 0.0 : v[v.size() / 2]; };
    std::printf("runs                          %d\n", runs);
    std::printf("start to window shown (ms)    min %.1f  median %.1f  max %.1f\n", shownMs.front(),
                median(shownMs), shownMs.back());
    std::printf("CPU used until shown (ms)     min %.1f  median %.1f  max %.1f\n", shownCpuMs.front(),
                median(shownCpuMs), shownCpuMs.back());
    if (!bannerMs.empty())
        std::printf("start to banner loaded (ms)   min %.1f  median %.1f  max %.1f\n", bannerMs.front(),
                    median(bannerMs), bannerMs.back());
    std::printf("window process, shown         RSS %lld KiB  PSS %lld KiB\n", windowAtShown.rssKb,
                windowAtShown.pssKb);
    std::printf("window process, banner in     RSS %lld KiB  PSS %lld KiB\n", window.rssKb, window.pssKb);
    std::printf("browser helpers, banner in    %d processes  RSS %lld KiB  PSS %lld KiB\n", helpers.processes,
                helpers.rssKb, helpers.pssKb);
    std::printf("window and helpers, banner in PSS %lld KiB\n", window.pssKb + helpers.pssKb);
    return 0;
}
