#pragma once

#include "cli/cli_job.h"
#include "cli/line_reader.h"
#include "lookup/lookup_command.h"

#include <QFile>

#include <optional>

namespace yuming::cli {

// lookup --file: one domain per line from a file or stdin, looked up one after another with a
// pause between them; one output line each, in input order. The list is read as the lookups go,
// a line at a time, so neither its size nor its lines' length matter.
class BatchLookupJob : public CliJob {
    Q_OBJECT
public:
    // `in` is read for "-"; a file name opens that file.
    BatchLookupJob(Options options, QIODevice& out, QIODevice& err, QIODevice* in = nullptr,
                   QObject* parent = nullptr);
    std::optional<int> start() override;

private:
    enum class Read { Domain, End, Interrupted };
    // The next domain of the list into m_domain, past blank lines, comments and refused lines.
    Read readDomain();
    void nextLookup();
    void lookedUp(const LookupResult& result);
    void finish(Read why);
    void writeLine(const QString& domain, const QString& outcome, const QString& expiry,
                   const QString& deletion);

    LookupCommand m_lookup;
    QIODevice* m_in;
    QFile m_file;
    std::optional<LineReader> m_reader;
    QString m_domain;
    bool m_unanswered = false;
};

} // namespace yuming::cli
