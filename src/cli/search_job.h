#pragma once

#include "cli/cli_job.h"
#include "search/search_commands.h"

namespace yuming::cli {

// search and preset: one page (the first, or --page N), printed as the page count and rows.
class SearchJob : public CliJob {
    Q_OBJECT
public:
    SearchJob(Options options, QIODevice& out, QIODevice& err, QObject* parent = nullptr);
    std::optional<int> start() override;

private:
    void searched(const SearchResult& result);

    SearchCommands m_search;
    QList<ResultRow> m_rows;
    bool m_jumped = false;
};

} // namespace yuming::cli
