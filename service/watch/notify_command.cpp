#include "watch/notify_command.h"

#include <QProcess>

#include <csignal>
#include <unistd.h>

namespace yuming::service {

CommandResult runBounded(const std::string& command,
                         const std::vector<std::pair<std::string, std::string>>& variables,
                         std::chrono::milliseconds limit) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const auto& [name, value] : variables)
        environment.insert(QString::fromStdString(name), QString::fromStdString(value));
    process.setProcessEnvironment(environment);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    // A group of its own, so that a hung command is killed with whatever it started; and its
    // output joins the log rather than the stdout the service announced its address on.
    process.setChildProcessModifier([] {
        ::setsid();
        ::dup2(STDERR_FILENO, STDOUT_FILENO);
    });
    process.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QString::fromStdString(command)});
    CommandResult result;
    if (!process.waitForStarted(5000)) {
        result.error = process.errorString().toStdString();
        return result;
    }
    const auto pid = static_cast<pid_t>(process.processId());
    if (!process.waitForFinished(static_cast<int>(limit.count()))) {
        ::kill(-pid, SIGKILL);
        process.waitForFinished(5000);
        result.outcome = CommandResult::Outcome::TimedOut;
        return result;
    }
    const bool crashed = process.exitStatus() == QProcess::CrashExit;
    result.exitCode = crashed ? -1 : process.exitCode();
    result.outcome =
        result.exitCode == 0 ? CommandResult::Outcome::Succeeded : CommandResult::Outcome::Failed;
    return result;
}

} // namespace yuming::service
