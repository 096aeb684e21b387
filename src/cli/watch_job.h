#pragma once

#include "cli/cli_job.h"
#include "watch/watch_answers.h"
#include "watch/watch_client.h"

#include <QStringList>

#include <optional>

namespace yuming::cli {

// watch add|remove|list|check|history|ics: one call of the service's watch API and its answer
// written out.
class WatchJob : public CliJob {
    Q_OBJECT
public:
    // `in` is read for "-"; a file name opens that file.
    WatchJob(Options options, QIODevice& out, QIODevice& err, QIODevice* in = nullptr,
             QObject* parent = nullptr);
    std::optional<int> start() override;

    // The names one add may hold, as the service takes them.
    static constexpr qsizetype kMostNames = 10'000;

private:
    // The list of watch add --file into m_names; an exit status when it cannot be sent.
    std::optional<int> readNames();
    watch::WatchCall call() const;
    void answered(const watch::WatchAnswer& answer);
    int refused(const watch::WatchAnswer& answer);
    int written(const watch::WatchAnswer& answer);
    int writeChecks(const QList<watch::CheckedName>& checked);
    int writeCalendar(const watch::WatchList& list);
    int unreadable();

    watch::WatchClient m_client;
    QIODevice* m_in;
    QStringList m_names;
};

} // namespace yuming::cli
