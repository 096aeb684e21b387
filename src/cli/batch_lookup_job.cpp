#include "cli/batch_lookup_job.h"

#include "cli/interrupt.h"

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
    const bool fromStdin = m_options.lookupFile == QLatin1String("-");
    QIODevice* source = m_in;
    if (!fromStdin || !source) {
        const bool opened =
            fromStdin ? m_file.open(stdin, QIODevice::ReadOnly)
                      : (m_file.setFileName(m_options.lookupFile), m_file.open(QIODevice::ReadOnly));
        if (!opened) {
            note(QStringLiteral("cannot read ") + m_options.lookupFile + QStringLiteral(": ") +
                 m_file.errorString());
            return 2;
        }
        source = &m_file;
    }
    m_reader.emplace(*source);
    stopAfterTheCurrentRequest();
    sayWhereTheLogIs();
    QTimer::singleShot(0, this, [this] {
        if (const Read read = readDomain(); read != Read::Domain) return finish(read);
        nextLookup();
    });
    return std::nullopt;
}

BatchLookupJob::Read BatchLookupJob::readDomain() {
    for (;;) {
        // Checked between the pieces of an endless line too (/dev/zero), so Ctrl+C ends it.
        if (interrupted()) return Read::Interrupted;
        const LineReader::Next line = m_reader->next();
        switch (line.kind) {
        case LineReader::Kind::End:
            return Read::End;
        case LineReader::Kind::Skipping:
            continue;
        case LineReader::Kind::TooLong: {
            const QString file =
                m_options.lookupFile == QLatin1String("-") ? QStringLiteral("stdin") : m_options.lookupFile;
            note(file + u':' + QString::number(line.number) + QStringLiteral(": line too long"));
            m_unanswered = true;
            continue;
        }
        case LineReader::Kind::Line:
            break;
        }
        m_domain = QString::fromUtf8(line.text).trimmed();
        if (!m_domain.isEmpty() && !m_domain.startsWith(u'#')) return Read::Domain;
    }
}

void BatchLookupJob::nextLookup() {
    if (interrupted()) return finish(Read::Interrupted);
    for (;;) {
        const CommandResult result = m_lookup.lookup(m_domain);
        if (result.kind == CommandResult::Kind::Started) return;
        writeLine(m_domain, QStringLiteral("refused"), {}, {});
        note(m_domain + QStringLiteral(": ") + result.message);
        m_unanswered = true;
        if (const Read read = readDomain(); read != Read::Domain) return finish(read);
    }
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
    writeLine(m_domain, outcome, result.expiry, result.deletion);
    m_unanswered = m_unanswered || !result.answered();
    // The next line is read now, so the last lookup ends the batch without a pause after it.
    if (const Read read = readDomain(); read != Read::Domain) return finish(read);
    QTimer::singleShot(m_options.delayMs, this, &BatchLookupJob::nextLookup);
}

void BatchLookupJob::finish(Read why) {
    end(why == Read::Interrupted ? kInterruptedExit : m_unanswered ? 1 : 0);
}

void BatchLookupJob::writeLine(const QString& domain, const QString& outcome, const QString& expiry,
                               const QString& deletion) {
    m_out << domain << '\t' << outcome << '\t' << expiry << '\t' << deletion << '\n';
    m_out.flush();
}

} // namespace yuming::cli
