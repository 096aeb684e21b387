#pragma once

#include "cli/cli_job.h"
#include "lookup/lookup_command.h"

#include <QStringList>

namespace yuming::cli {

// lookup --file: one domain per line from a file or stdin, looked up one after another with a
// pause between them; one output line each, in input order.
class BatchLookupJob : public CliJob {
    Q_OBJECT
public:
    // `in` is read for "-"; a file name opens that file.
    BatchLookupJob(Options options, QIODevice& out, QIODevice& err, QIODevice* in = nullptr,
                   QObject* parent = nullptr);
    std::optional<int> start() override;

private:
    void nextLookup();
    void lookedUp(const LookupResult& result);
    void writeLine(const QString& domain, const QString& outcome, const QString& expiry,
                   const QString& deletion);

    LookupCommand m_lookup;
    QIODevice* m_in;
    QStringList m_batch;
    qsizetype m_next = 0;
    bool m_unanswered = false;
};

} // namespace yuming::cli
