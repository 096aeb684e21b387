// The window's own costs: filling the result list, and how long the event loop can be kept busy
// while a search of the reference service runs.
#include "app/frmmain.h"
#include "protocol/search_page.h"
#include "search/search_commands.h"
#include "support/service_process.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace {

yuming::AppSettings quietSettings() {
    yuming::AppSettings settings;
    settings.service.userService = false; // nothing is started behind a measurement
    settings.banner = false;
    settings.logPath = QStringLiteral("/dev/null");
    return settings;
}

QList<yuming::ResultRow> rows(int count) {
    QList<yuming::ResultRow> out;
    for (int i = 0; i < count; ++i)
        out.append({QStringLiteral("domain%1.com").arg(i), QString::number(7 + i % 9), QStringLiteral("com"),
                    QStringLiteral("2026-12-%1 02:30:00").arg(10 + i % 18)});
    return out;
}

// One page of 1,000 rows into ListView1, from the command's signal to the list painted.
void BM_FillListView1(benchmark::State& state) {
    Frmmain window(quietSettings());
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        state.SkipWithError("the window was not shown");
        return;
    }
    auto* list = window.findChild<QTreeWidget*>(QStringLiteral("ListView1"));
    const QList<yuming::ResultRow> page = rows(int(state.range(0)));
    for (auto _ : state) {
        Q_EMIT window.searchCommands().rowsCleared();
        QElapsedTimer timer;
        timer.start();
        Q_EMIT window.searchCommands().rowsAdded(page);
        list->viewport()->repaint();
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
    }
    state.counters["rows"] = list->topLevelItemCount();
}
BENCHMARK(BM_FillListView1)->Arg(1000)->UseManualTime()->Unit(benchmark::kMillisecond);

// Searches of the reference service typed into the window, with a 1 ms timer measuring the
// longest stretch in which the event loop did not get round to it.
void BM_SearchEventLoopGap(benchmark::State& state) {
    yuming::testing::ServiceProcess service({/*rows=*/int(state.range(0)), /*seed=*/7, {}});
    if (!service.start()) {
        state.SkipWithError(qPrintable(service.error()));
        return;
    }
    yuming::AppSettings settings = quietSettings();
    settings.service = *yuming::ServiceAddress::parse(service.address());
    Frmmain window(settings);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        state.SkipWithError("the window was not shown");
        return;
    }
    auto* text1 = window.findChild<QLineEdit*>(QStringLiteral("Text1"));
    auto* list = window.findChild<QTreeWidget*>(QStringLiteral("ListView1"));

    double worstMs = 0;
    for (auto _ : state) {
        QSignalSpy finished(&window.searchCommands(), &yuming::SearchCommands::finished);
        QTimer probe;
        probe.setTimerType(Qt::PreciseTimer);
        probe.setInterval(1);
        QElapsedTimer since;
        double gapMs = 0;
        QObject::connect(&probe, &QTimer::timeout, [&] {
            gapMs = std::max(gapMs, double(since.nsecsElapsed()) / 1e6);
            since.restart();
        });
        QElapsedTimer timer;
        timer.start();
        since.start();
        probe.start();
        QTest::keyClick(text1, Qt::Key_Return);
        finished.wait(30000);
        QCoreApplication::processEvents(); // the list's repaint belongs to the search
        probe.stop();
        gapMs = std::max(gapMs, double(since.nsecsElapsed()) / 1e6);
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
        worstMs = std::max(worstMs, gapMs);
    }
    state.counters["rows_shown"] = list->topLevelItemCount();
    state.SetLabel(window.findChild<QLabel*>(QStringLiteral("Label16"))->text().toStdString());
    state.counters["max_event_loop_gap_ms"] = worstMs;
}
BENCHMARK(BM_SearchEventLoopGap)->Arg(200000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

// The window shown with its banner on the reference service: how long the event loop is held up
// while the browser module loads and starts (once per process, so one iteration).
void BM_BannerStartEventLoopGap(benchmark::State& state) {
    yuming::testing::ServiceProcess service;
    if (!service.start()) {
        state.SkipWithError(qPrintable(service.error()));
        return;
    }
    yuming::AppSettings settings = quietSettings();
    settings.service = *yuming::ServiceAddress::parse(service.address());
    settings.webHost = service.address();
    settings.banner = true;
    for (auto _ : state) {
        Frmmain window(settings);
        QSignalSpy loaded(&window, &Frmmain::bannerLoaded);
        QTimer probe;
        probe.setTimerType(Qt::PreciseTimer);
        probe.setInterval(1);
        QElapsedTimer since;
        double gapMs = 0;
        QObject::connect(&probe, &QTimer::timeout, [&] {
            gapMs = std::max(gapMs, double(since.nsecsElapsed()) / 1e6);
            since.restart();
        });
        QElapsedTimer timer;
        timer.start();
        window.show();
        since.start();
        probe.start();
        loaded.wait(30000);
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
        state.counters["banner_ok"] = !loaded.isEmpty() && loaded.first().first().toBool();
        state.counters["max_event_loop_gap_ms"] = gapMs;
    }
}
BENCHMARK(BM_BannerStartEventLoopGap)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (::getuid() == 0) // the browser's sandbox refuses to run as root
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
