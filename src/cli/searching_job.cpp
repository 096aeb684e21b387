#include "cli/searching_job.h"

namespace yuming::cli {

SearchingJob::SearchingJob(Options options, QIODevice& out, QIODevice& err, QObject* parent)
    : CliJob(std::move(options), out, err, parent), m_search(m_link, m_options.service) {
    connect(&m_search, &SearchCommands::rowsCleared, this, [this] { m_rows.clear(); });
    connect(&m_search, &SearchCommands::rowsAdded, this,
            [this](const QList<ResultRow>& rows) { m_rows += rows; });
    connect(&m_search, &SearchCommands::finished, this,
            [this](const SearchResult& result) { searched(result); });
}

CommandResult SearchingJob::firstPage() {
    return m_options.job == Job::Search ? m_search.newSearch(m_options.filters) : m_search.presetSearch();
}

void SearchingJob::writeJsonSummary(qint64 pagesWritten, qint64 rowsWritten, bool complete) {
    m_out << "{\"pages\":" << m_search.state().pageCount << ",\"fetched\":" << pagesWritten
          << ",\"rows\":" << rowsWritten << ",\"complete\":" << (complete ? "true" : "false") << "}\n";
}

} // namespace yuming::cli
