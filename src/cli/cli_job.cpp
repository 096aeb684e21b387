#include "cli/cli_job.h"

#include "lookup/app_path.h"
#include "lookup/lookup_log.h"

#include "protocol/sample_header.h"

#include <QFileDevice>

#include <utility>

namespace yuming::cli {

namespace {

// Whether the head of an answer, kept at the start of its text, carries the header that says the
// service's names are sample data.
bool fromSampleData(QStringView text) {
    if (!text.startsWith(u"HTTP/")) return false;
    bool statusLine = true;
    for (QStringView line : text.tokenize(u'\n')) {
        if (line.endsWith(u'\r')) line.chop(1);
        if (line.isEmpty()) return false;
        if (std::exchange(statusLine, false)) continue;
        const qsizetype colon = line.indexOf(u':');
        if (colon > 0 && line.first(colon).trimmed().compare(QLatin1StringView(headers::kSample),
                                                             Qt::CaseInsensitive) == 0)
            return line.sliced(colon + 1).trimmed() == QLatin1StringView(headers::kSampleValue);
    }
    return false;
}

} // namespace

CliJob::CliJob(Options options, QIODevice& out, QIODevice& err, QObject* parent)
    : QObject(parent), m_options(std::move(options)), m_outDevice(out), m_out(&out), m_err(&err) {
    // The status texts say that a request failed; this line says why, for a script's user.
    connect(&m_link, &ServiceLink::ended, this, [this](const Outcome& outcome) {
        if (!outcome.reason.isEmpty()) note(outcome.reason);
        if (m_sampleNoted || !outcome.answered() || !fromSampleData(outcome.text)) return;
        m_sampleNoted = true;
        note(QStringLiteral(
            "the service's list is sample data (示例数据), not real names about to be deleted; "
            "import a real list with yuming-service import FILE"));
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
