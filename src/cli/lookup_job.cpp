#include "cli/lookup_job.h"

namespace yuming::cli {

LookupJob::LookupJob(Options options, QIODevice& out, QIODevice& err, QObject* parent)
    : CliJob(std::move(options), out, err, parent), m_lookup(m_link, m_options.service, m_options.logPath) {
    const auto toErr = [this](const QString& text) { m_err << text << Qt::endl; };
    connect(&m_lookup, &LookupCommand::statusChanged, this, toErr);
    connect(&m_lookup, &LookupCommand::resultTextChanged, this, toErr);
    connect(&m_lookup, &LookupCommand::logNotice, this, &LookupJob::note);
    connect(&m_lookup, &LookupCommand::finished, this, &LookupJob::lookedUp);
}

std::optional<int> LookupJob::start() {
    const auto exit = refusal(m_lookup.lookup(m_options.domain));
    if (!exit) sayWhereTheLogIs();
    return exit;
}

void LookupJob::lookedUp(const LookupResult& result) {
    if (!result.answered()) return end(1);
    const LookupPage page{result.kind == LookupResult::Kind::Registered ? LookupPage::Outcome::Dates
                                                                        : LookupPage::Outcome::NotRegistered,
                          result.expiry, result.deletion};
    m_out << lookupResultText(page) << Qt::endl;
    end(0);
}

} // namespace yuming::cli
