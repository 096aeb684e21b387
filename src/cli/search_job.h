#pragma once

#include "cli/searching_job.h"

namespace yuming::cli {

// search and preset: one page (the first, or --page N), printed as the page count and rows.
class SearchJob : public SearchingJob {
    Q_OBJECT
public:
    SearchJob(Options options, QIODevice& out, QIODevice& err, QObject* parent = nullptr);
    std::optional<int> start() override;

private:
    void searched(const SearchResult& result) override;

    bool m_jumped = false;
};

} // namespace yuming::cli
