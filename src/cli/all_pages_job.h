#pragma once

#include "cli/cli_job.h"
#include "search/search_commands.h"

namespace yuming::cli {

// search and preset with --all-pages: every page of the search, one after another with a pause
// between them, the rows streamed out a page at a time; progress on stderr.
class AllPagesJob : public CliJob {
    Q_OBJECT
public:
    AllPagesJob(Options options, QIODevice& out, QIODevice& err, QObject* parent = nullptr);
    std::optional<int> start() override;

private:
    void searched(const SearchResult& result);
    void nextPage();
    void progress(qint64 done, qint64 total);
    void progressDone();
    void endAllPages(int exitStatus);

    SearchCommands m_search;
    QList<ResultRow> m_rows;
    QString m_lastStatus;
    qint64 m_pagesFetched = 0;
    qint64 m_rowCount = 0;
    bool m_barShown = false;
};

} // namespace yuming::cli
