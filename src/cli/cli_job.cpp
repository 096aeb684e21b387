#include "cli/cli_job.h"

#include "lookup/app_path.h"
#include "lookup/lookup_log.h"

#include <QFileDevice>

namespace yuming::cli {

CliJob::CliJob(Options options, QIODevice& out, QIODevice& err, QObject* parent)
    : QObject(parent), m_options(std::move(options)), m_outDevice(out), m_out(&out), m_err(&err) {
    // The status texts say that a request failed; this line says why, for a script's user.
    connect(&m_link, &ServiceLink::ended, this, [this](const Outcome& outcome) {
        if (!outcome.reason.isEmpty()) note(outcome.reason);
    });
}

std::optional<int> CliJob::refusal(const CommandResult& result) {
    if (result.kind == CommandResult::Kind::Started) return std::nullopt;
    m_err << result.message << Qt::endl;
    return 2;
}

void CliJob::sayWhereTheLogIs() {
    const QString folder = GetAppPath();
    const QString& log = m_options.logPath;
    if (log != folder + kLookupLogName.toString() && log == lookupLogPath(folder))
        note(QStringLiteral("the program's folder cannot hold the lookup log; it is kept in ") + log);
}

void CliJob::note(const QString& text) {
    m_err << "yuming-cli: " << text << Qt::endl;
}

void CliJob::writeBytes(const QByteArray& bytes) {
    m_out.flush();
    m_outDevice.write(bytes);
    if (auto* file = qobject_cast<QFileDevice*>(&m_outDevice)) file->flush();
}

void CliJob::end(int exitStatus) {
    m_out.flush();
    Q_EMIT finished(exitStatus);
}

} // namespace yuming::cli
