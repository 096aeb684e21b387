#include "search/page_export.h"

#include "protocol/search_page.h"
#include "search/request.h"
#include "search/row_format.h"

namespace yuming {

PageExport::PageExport(ServiceLink& link, ServiceAddress service, const SearchState& shown, QString path,
                       int pauseMs, QObject* parent)
    : QObject(parent), m_link(link), m_service(std::move(service)), m_query(shown.query),
      m_path(std::move(path)), m_pauseMs(pauseMs), m_pages(shown.pageCount), m_pause(this) {
    m_pause.setSingleShot(true);
    connect(&m_pause, &QTimer::timeout, this, &PageExport::fetchPage);
}

void PageExport::start() {
    m_file = std::make_unique<QSaveFile>(m_path);
    // Put in place whatever happens, so that a stopped export keeps its pages.
    m_file->setDirectWriteFallback(false);
    if (!m_file->open(QIODevice::WriteOnly)) return end(End::Kind::WriteFailed, m_file->errorString());
    m_file->write(row_format::head(row_format::Format::Csv));
    if (m_pages == 0) return end(End::Kind::Complete);
    fetchPage();
}

void PageExport::cancel() {
    m_cancelled = true;
    if (m_pause.isActive()) {
        m_pause.stop();
        end(End::Kind::Cancelled);
    }
}

void PageExport::fetchPage() {
    if (m_cancelled) return end(End::Kind::Cancelled);
    SearchQuery query = m_query;
    query.page = m_next;
    RunningRequest* running = m_link.run(m_service, [query](const ServiceAddress& address) {
        return Request::bytes(searchRequest(query, address));
    });
    if (!running) return end(End::Kind::Busy, QStringLiteral("another request is in flight"));
    connect(running, &RunningRequest::finished, this, &PageExport::pageAnswered);
}

void PageExport::pageAnswered(const Outcome& outcome) {
    if (m_ended) return;
    if (!outcome.answered()) return end(End::Kind::PageFailed, outcome.reason);
    const ResultPage page = parseResultPage(outcome.text);
    if (!page.ok()) return end(End::Kind::PageFailed, QStringLiteral("the page could not be read"));
    const QByteArray bytes = row_format::rows(row_format::Format::Csv, page.rows);
    if (m_file->write(bytes) != bytes.size()) return end(End::Kind::WriteFailed, m_file->errorString());
    ++m_next;
    m_rows += page.rows.size();
    Q_EMIT progress(m_next, m_pages, m_rows);
    if (m_next >= m_pages) return end(End::Kind::Complete);
    if (m_cancelled) return end(End::Kind::Cancelled);
    m_pause.start(m_pauseMs);
}

void PageExport::end(End::Kind kind, QString reason) {
    if (m_ended) return;
    m_ended = true;
    End result{kind, m_next, m_rows, kind == End::Kind::Complete ? -1 : m_next + 1, std::move(reason)};
    if (kind == End::Kind::WriteFailed) {
        // A short write leaves no file rather than a torn one.
        if (m_file) m_file->cancelWriting();
    } else if (m_file && m_file->isOpen() && !m_file->commit()) {
        result.kind = End::Kind::WriteFailed;
        result.reason = m_file->errorString();
    }
    Q_EMIT finished(result);
}

} // namespace yuming
