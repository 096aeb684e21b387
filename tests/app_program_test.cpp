#include "support/script_server.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

struct Outcome {
    int exitCode;
    QByteArray err;
};

QProcessEnvironment programEnvironment(bool withDisplay) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY", "QTWEBENGINE_DISABLE_SANDBOX",
                             "QTWEBENGINE_CHROMIUM_FLAGS", "QT_LOGGING_RULES"})
        environment.remove(QString::fromLatin1(name));
    if (withDisplay) environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return environment;
}

Outcome runProgram(const QStringList& arguments, bool withDisplay) {
    QProcess program;
    program.setProcessEnvironment(programEnvironment(withDisplay));
    program.start(QStringLiteral(YUMING_PROGRAM), arguments);
    if (!program.waitForFinished(20000)) return {-1, "did not end"};
    return {program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1,
            program.readAllStandardError()};
}

// The window started with --report-start against a banner page on loopback, watched until it
// has said how the banner went; it is ended when the test is done with it.
class WindowRun : public ::testing::Test {
protected:
    void SetUp() override {
        server.setScript({ScriptServer::send(
            ScriptServer::httpAnswer("<html><head><title>b</title></head><body>banner</body></html>"))});
    }
    void TearDown() override {
        program.kill();
        program.waitForFinished(10000);
    }

    void start(const QProcessEnvironment& environment, const QString& path = QStringLiteral(YUMING_PROGRAM)) {
        program.setProcessEnvironment(environment);
        program.start(path, {QStringLiteral("--report-start"), QStringLiteral("--web"), server.hostPort(),
                             QStringLiteral("--service"),
                             QStringLiteral("127.0.0.1:%1").arg(ScriptServer::closedPort())});
    }
    // Until the banner has been reported on; the window's report, and what it said on stderr.
    bool waitForBanner() {
        return QTest::qWaitFor(
            [this] {
                out += program.readAllStandardOutput();
                err += program.readAllStandardError();
                return out.contains("banner ") || program.state() == QProcess::NotRunning;
            },
            60000);
    }

    ScriptServer server;
    QProcess program;
    QByteArray out;
    QByteArray err;
};

} // namespace

TEST(AppProgram, WithoutADisplayItSaysSoInOneLineAndFails) {
    const Outcome run = runProgram({}, false);
    EXPECT_NE(run.exitCode, 0);
    EXPECT_TRUE(run.err.contains("no display")) << run.err.toStdString();
    EXPECT_EQ(run.err.count('\n'), 1) << run.err.toStdString();
}

TEST(AppProgram, RefusesAnUnusableServiceAddress) {
    const Outcome run = runProgram({QStringLiteral("--service"), QStringLiteral("host:port")}, true);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.err.contains("--service")) << run.err.toStdString();
}

TEST_F(WindowRun, AsRootTheBannerLoadsWithoutBeingToldAboutTheSandbox) {
    if (geteuid() != 0) GTEST_SKIP() << "only root needs the sandbox left off";
    start(programEnvironment(true));
    ASSERT_TRUE(waitForBanner()) << out.toStdString();
    EXPECT_EQ(out, "shown\nbanner ok\n") << err.toStdString();
    EXPECT_EQ(program.state(), QProcess::Running);
    // One line about the sandbox, and none of the engine's own start-up talk.
    EXPECT_EQ(err.count("sandbox"), 1) << err.toStdString();
    EXPECT_FALSE(err.contains("Init Parameters")) << err.toStdString();
}

TEST_F(WindowRun, WithoutTheBrowserHelperTheWindowRunsWithoutABanner) {
    QProcessEnvironment environment = programEnvironment(true);
    environment.insert(QStringLiteral("QTWEBENGINEPROCESS_PATH"),
                       QStringLiteral("/nonexistent/QtWebEngineProcess"));
    start(environment);
    ASSERT_TRUE(waitForBanner()) << out.toStdString();
    EXPECT_EQ(out, "shown\nbanner failed\n") << err.toStdString();
    EXPECT_TRUE(err.contains("/nonexistent/QtWebEngineProcess")) << err.toStdString();
    EXPECT_EQ(program.state(), QProcess::Running);
    EXPECT_EQ(server.connections(), 0);
}
