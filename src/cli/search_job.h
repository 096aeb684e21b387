#pragma once

#include "cli/searching_job.h"

namespace yuming::cli {

// search and preset: one page (the first, or --page N), printed as the page count and rows, or
// in the format asked for.
class SearchJob : public SearchingJob {
    Q_OBJECT
public:
    SearchJob(Options options, QIODevice& out, QIODevice& err, QObject* parent = nullptr);
    std::optional<int> start() override;

private:
    void searched(const SearchResult& result) override;
    void endPage(int exitStatus);

    bool m_jumped = false;
    bool m_written = false; // the page's rows are out
};

} // namespace yuming::cli
