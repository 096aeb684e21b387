#pragma once

#include "search/fetch.h"
#include "search/search_state.h"
#include "search/service_address.h"
#include "search/service_link.h"

#include <QObject>
#include <QPointer>
#include <QSaveFile>
#include <QString>
#include <QTimer>

#include <memory>

namespace yuming {

// Every page of the search shown, fetched one after another on the tool's connection (a new
// connection per page, the request the paging commands send for that page) with a pause between
// pages, and written to a CSV file. The file is written aside and put in place at the end, also
// when the export is cancelled or a page fails: it then holds every page fetched before, whole.
class PageExport : public QObject {
    Q_OBJECT
public:
    struct End {
        enum class Kind { Complete, Cancelled, PageFailed, WriteFailed, Busy };
        Kind kind = Kind::Complete;
        qint64 pagesWritten = 0;
        qint64 rowsWritten = 0;
        qint64 stoppedAtPage = -1; // counted from 1, for a cancelled or failed export
        QString reason;
    };

    // `shown` is the search as it stands after its last page: its filters and page count.
    PageExport(ServiceLink& link, ServiceAddress service, const SearchState& shown, QString path,
               int pauseMs = 300, QObject* parent = nullptr);

    qint64 pageCount() const { return m_pages; }
    // Opens the file and asks for the first page; finished() reports the end, also a failure to start.
    void start();
    // Stops after the page in flight.
    void cancel();

Q_SIGNALS:
    void progress(qint64 pagesDone, qint64 pages, qint64 rows);
    void finished(const yuming::PageExport::End& end);

private:
    void fetchPage();
    void pageAnswered(const Outcome& outcome);
    void end(End::Kind kind, QString reason = {});

    ServiceLink& m_link;
    ServiceAddress m_service;
    SearchQuery m_query;
    QString m_path;
    int m_pauseMs;
    qint64 m_pages = 0;
    qint64 m_next = 0;
    qint64 m_rows = 0;
    bool m_cancelled = false;
    bool m_ended = false;
    QTimer m_pause;
    std::unique_ptr<QSaveFile> m_file;
};

} // namespace yuming
