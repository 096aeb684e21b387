#pragma once

#include "cli/cli_job.h"
#include "search/search_commands.h"

#include <QList>

namespace yuming::cli {

// search and preset, one page or all: the search the options ask for, and the rows of the page
// read last.
class SearchingJob : public CliJob {
    Q_OBJECT
public:
    SearchingJob(Options options, QIODevice& out, QIODevice& err, QObject* parent = nullptr);

protected:
    // The first page: of the search as given, or of the preset.
    CommandResult firstPage();
    // Each request's end, after its rows are in m_rows.
    virtual void searched(const SearchResult& result) = 0;
    // The last line of JSON output: the page count, the pages and rows written, and whether the
    // command did all it was asked.
    void writeJsonSummary(qint64 pagesWritten, qint64 rowsWritten, bool complete);

    SearchCommands m_search;
    QList<ResultRow> m_rows;
};

} // namespace yuming::cli
