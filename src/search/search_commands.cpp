#include "search/search_commands.h"

#include "search/paging.h"
#include "search/request.h"
#include "search/service_link.h"

namespace yuming {

SearchCommands::SearchCommands(ServiceLink& link, ServiceAddress service, QObject* parent)
    : QObject(parent), m_link(link), m_service(std::move(service)) {}

CommandResult SearchCommands::newSearch(const SearchQuery& filters) {
    if (m_link.inFlight()) return CommandResult::busy();
    Q_EMIT showSearchPanel();
    return moveTo(filters, 0);
}

CommandResult SearchCommands::previousPage(const SearchQuery& filters) {
    if (m_link.inFlight()) return CommandResult::busy();
    const PageMove move = yuming::previousPage(m_state.query.page);
    if (!move.page) return CommandResult::refused(move.refusal);
    return moveTo(filters, *move.page);
}

CommandResult SearchCommands::nextPage(const SearchQuery& filters) {
    if (m_link.inFlight()) return CommandResult::busy();
    const PageMove move = yuming::nextPage(m_state.query.page, m_state.pageCount);
    if (!move.page) return CommandResult::refused(move.refusal);
    return moveTo(filters, *move.page);
}

CommandResult SearchCommands::jumpToPage(const SearchQuery& filters, QStringView pageBox) {
    if (m_link.inFlight()) return CommandResult::busy();
    const PageMove move = jumpPage(pageBox, m_state.pageCount);
    if (!move.page) return CommandResult::refused(move.refusal);
    return moveTo(filters, *move.page);
}

CommandResult SearchCommands::presetSearch() {
    if (m_link.inFlight()) return CommandResult::busy();
    Q_EMIT showSearchPanel();
    return moveTo(presetQuery(), 0);
}

bool SearchCommands::restoreState(const SearchState& state) {
    if (m_link.inFlight()) return false;
    m_state = state;
    return true;
}

CommandResult SearchCommands::moveTo(const SearchQuery& filters, std::int64_t page) {
    m_state.query = filters;
    m_state.query.page = page;
    Q_EMIT buttonsLocked(true);
    GetResult();
    return CommandResult::started();
}

void SearchCommands::GetResult() {
    Q_EMIT rowsCleared();
    Q_EMIT statusChanged(status::kConnecting.toString());
    const SearchQuery query = m_state.query;
    RunningRequest* running = m_link.run(m_service, [query](const ServiceAddress& address) {
        return Request::bytes(searchRequest(query, address));
    });
    // The guards above checked that nothing is in flight.
    Q_ASSERT(running);
    connect(running, &RunningRequest::connected, this,
            [this] { Q_EMIT statusChanged(status::kFetching.toString()); });
    connect(running, &RunningRequest::finished, this, &SearchCommands::onFinished);
}

void SearchCommands::onFinished(const Outcome& outcome) {
    SearchResult result{outcome, false};
    QStringView text = status::kFailed;
    if (outcome.unreached()) text = status::kConnectTimeout;
    if (outcome.answered()) {
        const ResultPage page = parseResultPage(outcome.text);
        if (page.pageCount) {
            m_state.pageCountText = *page.pageCount;
            m_state.pageCount = pageCountValue(*page.pageCount);
            Q_EMIT pageLabelChanged(pageCaption(*page.pageCount, m_state.query.page));
        }
        if (!page.rows.isEmpty()) Q_EMIT rowsAdded(page.rows);
        result.pageRead = page.ok();
        if (page.ok()) text = status::kDone;
    }
    Q_EMIT statusChanged(text.toString());
    Q_EMIT buttonsLocked(false);
    Q_EMIT finished(result);
}

} // namespace yuming
