#include "cli/search_job.h"

#include "search/row_format.h"

namespace yuming::cli {

SearchJob::SearchJob(Options options, QIODevice& out, QIODevice& err, QObject* parent)
    : SearchingJob(std::move(options), out, err, parent) {
    connect(&m_search, &SearchCommands::statusChanged, this,
            [this](const QString& text) { m_err << text << Qt::endl; });
}

std::optional<int> SearchJob::start() {
    return refusal(firstPage());
}

void SearchJob::searched(const SearchResult& result) {
    if (!result.pageRead) return endPage(1);
    // The page box counts from 1, and the first page is already here.
    if (!m_jumped && !m_options.page.isEmpty() && m_options.page.trimmed() != QLatin1String("1")) {
        m_jumped = true;
        if (const auto exit = refusal(m_search.jumpToPage(m_options.filters, m_options.page))) endPage(*exit);
        return;
    }
    m_written = true;
    if (m_options.format != row_format::Format::Tsv) {
        // The page as --all-pages writes a search of one page.
        writeBytes(row_format::head(m_options.format) + row_format::rows(m_options.format, m_rows));
        return endPage(0);
    }
    const SearchState& state = m_search.state();
    m_out << "pages\t" << state.pageCountText.value_or(QString()) << "\tcurrent\t" << state.query.page + 1
          << '\n';
    for (const ResultRow& row : m_rows)
        m_out << row.domain() << '\t' << row.length() << '\t' << row.suffix() << '\t' << row.deletionTime()
              << '\n';
    endPage(0);
}

void SearchJob::endPage(int exitStatus) {
    if (m_options.format == row_format::Format::Json)
        writeJsonSummary(m_written ? 1 : 0, m_written ? m_rows.size() : 0, exitStatus == 0);
    end(exitStatus);
}

} // namespace yuming::cli
