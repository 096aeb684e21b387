#include "cli/batch_lookup_job.h"

#include "cli/interrupt.h"

#include <QFile>
#include <QTimer>

namespace yuming::cli {

BatchLookupJob::BatchLookupJob(Options options, QIODevice& out, QIODevice& err, QIODevice* in,
                               QObject* parent)
    : CliJob(std::move(options), out, err, parent), m_lookup(m_link, m_options.service, m_options.logPath),
      m_in(in) {
    connect(&m_lookup, &LookupCommand::logNotice, this, &BatchLookupJob::note);
    connect(&m_lookup, &LookupCommand::finished, this, &BatchLookupJob::lookedUp);
}

std::optional<int> BatchLookupJob::start() {
    QFile file;
    QIODevice* source = m_in;
    if (m_options.lookupFile != QLatin1String("-") || !source) {
        const bool opened = m_options.lookupFile == QLatin1String("-")
                                ? file.open(stdin, QIODevice::ReadOnly)
                                : (file.setFileName(m_options.lookupFile), file.open(QIODevice::ReadOnly));
        if (!opened) {
            note(QStringLiteral("cannot read ") + m_options.lookupFile + QStringLiteral(": ") +
                 file.errorString());
            return 2;
        }
        source = &file;
    }
    for (const QByteArray& raw : source->readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (!line.isEmpty() && !line.startsWith(u'#')) m_batch.append(line);
    }
    stopAfterTheCurrentRequest();
    sayWhereTheLogIs();
    QTimer::singleShot(0, this, &BatchLookupJob::nextLookup);
    return std::nullopt;
}

void BatchLookupJob::nextLookup() {
    while (m_next < m_batch.size()) {
        if (interrupted()) return end(kInterruptedExit);
        const QString& domain = m_batch[m_next];
        const CommandResult result = m_lookup.lookup(domain);
        if (result.kind == CommandResult::Kind::Started) return;
        writeLine(domain, QStringLiteral("refused"), {}, {});
        note(domain + QStringLiteral(": ") + result.message);
        m_unanswered = true;
        ++m_next;
    }
    end(m_unanswered ? 1 : 0);
}

void BatchLookupJob::lookedUp(const LookupResult& result) {
    using Kind = LookupResult::Kind;
    // A service that could not be started has always been reported as a timeout here; the line
    // on stderr says which it was.
    const QString outcome = result.kind == Kind::Registered      ? QStringLiteral("registered")
                            : result.kind == Kind::NotRegistered ? QStringLiteral("not-registered")
                            : result.kind == Kind::TimedOut || result.kind == Kind::NoService
                                ? QStringLiteral("timeout")
                                : QStringLiteral("error");
    writeLine(m_batch[m_next], outcome, result.expiry, result.deletion);
    m_unanswered = m_unanswered || !result.answered();
    ++m_next;
    if (m_next >= m_batch.size()) return end(m_unanswered ? 1 : 0);
    if (interrupted()) return end(kInterruptedExit);
    QTimer::singleShot(m_options.delayMs, this, &BatchLookupJob::nextLookup);
}

void BatchLookupJob::writeLine(const QString& domain, const QString& outcome, const QString& expiry,
                               const QString& deletion) {
    m_out << domain << '\t' << outcome << '\t' << expiry << '\t' << deletion << '\n';
    m_out.flush();
}

} // namespace yuming::cli
