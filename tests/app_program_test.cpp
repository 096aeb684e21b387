#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

namespace {

struct Outcome {
    int exitCode;
    QByteArray err;
};

Outcome runProgram(const QStringList& arguments, bool withDisplay) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        environment.remove(QString::fromLatin1(name));
    if (withDisplay) environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(YUMING_PROGRAM), arguments);
    if (!program.waitForFinished(20000)) return {-1, "did not end"};
    return {program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1,
            program.readAllStandardError()};
}

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
