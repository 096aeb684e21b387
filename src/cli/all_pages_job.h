#pragma once

#include "cli/searching_job.h"

namespace yuming::cli {

// search and preset with --all-pages: every page of the search, one after another with a pause
// between them, the rows streamed out a page at a time; progress on stderr.
class AllPagesJob : public SearchingJob {
    Q_OBJECT
public:
    AllPagesJob(Options options, QIODevice& out, QIODevice& err, QObject* parent = nullptr);
    std::optional<int> start() override;

private:
    void searched(const SearchResult& result) override;
    void nextPage();
    void progress(qint64 done, qint64 total);
    void progressDone();
    void endAllPages(int exitStatus);

    QString m_lastStatus;
    qint64 m_pagesFetched = 0;
    qint64 m_rowCount = 0;
    bool m_barShown = false;
};

} // namespace yuming::cli
