#include "cli/all_pages_job.h"

#include "cli/interrupt.h"
#include "search/row_format.h"

#include <QTimer>

namespace yuming::cli {

AllPagesJob::AllPagesJob(Options options, QIODevice& out, QIODevice& err, QObject* parent)
    : SearchingJob(std::move(options), out, err, parent) {
    connect(&m_search, &SearchCommands::statusChanged, this,
            [this](const QString& text) { m_lastStatus = text; });
}

std::optional<int> AllPagesJob::start() {
    stopAfterTheCurrentRequest();
    return refusal(firstPage());
}

void AllPagesJob::searched(const SearchResult& result) {
    const SearchState& state = m_search.state();
    if (!result.pageRead) {
        m_err << m_lastStatus << Qt::endl;
        if (m_pagesFetched > 0) progressDone();
        return endAllPages(1);
    }
    const qint64 pages = qMax<qint64>(1, state.pageCount);
    if (m_pagesFetched == 0) {
        if (m_options.format == row_format::Format::Tsv)
            m_out << "pages\t" << state.pageCountText.value_or(QString()) << '\n';
        else
            writeBytes(row_format::head(m_options.format));
    }
    ++m_pagesFetched;
    m_rowCount += m_rows.size();
    writeBytes(row_format::rows(m_options.format, m_rows));
    progress(m_pagesFetched, pages);
    if (state.query.page + 1 >= pages) return progressDone(), endAllPages(0);
    if (interrupted()) return progressDone(), endAllPages(kInterruptedExit);
    QTimer::singleShot(m_options.delayMs, this, &AllPagesJob::nextPage);
}

void AllPagesJob::nextPage() {
    if (interrupted()) return progressDone(), endAllPages(kInterruptedExit);
    if (const auto exit = refusal(m_search.nextPage(m_options.filters))) endAllPages(*exit);
}

void AllPagesJob::endAllPages(int exitStatus) {
    if (m_options.format == row_format::Format::Json)
        writeJsonSummary(m_pagesFetched, m_rowCount, exitStatus == 0);
    end(exitStatus);
}

// A bar redrawn in place on a terminal, plain lines for a log, nothing when asked.
void AllPagesJob::progress(qint64 done, qint64 total) {
    if (m_options.quiet) return;
    if (!m_terminal) {
        m_err << "page " << done << '/' << total << Qt::endl;
        return;
    }
    constexpr int kWidth = 30;
    const int filled = int(done * kWidth / qMax<qint64>(1, total));
    m_err << '\r' << '[' << QString(filled, u'#') << QString(kWidth - filled, u' ') << "] page " << done
          << '/' << total << Qt::flush;
    m_barShown = true;
}

void AllPagesJob::progressDone() {
    if (m_barShown) m_err << Qt::endl;
    m_barShown = false;
}

} // namespace yuming::cli
