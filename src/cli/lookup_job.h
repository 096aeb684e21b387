#pragma once

#include "cli/cli_job.h"
#include "lookup/lookup_command.h"

namespace yuming::cli {

// lookup DOMAIN: the result text on stdout, the status texts on stderr.
class LookupJob : public CliJob {
    Q_OBJECT
public:
    LookupJob(Options options, QIODevice& out, QIODevice& err, QObject* parent = nullptr);
    std::optional<int> start() override;

private:
    void lookedUp(const LookupResult& result);

    LookupCommand m_lookup;
};

} // namespace yuming::cli
