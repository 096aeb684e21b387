#include "search/search_commands.h"

#include "search/paging.h"
#include "search/request.h"

namespace yuming {

SearchCommands::SearchCommands(Fetch& fetch, ServiceAddress service, QObject* parent)
    : QObject(parent), m_fetch(fetch), m_service(std::move(service)) {}

CommandResult SearchCommands::newSearch(const SearchControls& controls) {
    if (m_fetch.inFlight()) return CommandResult::busy();
    Q_EMIT showSearchPanel();
    m_state.PageNo = QStringLiteral("0");
    buildSearchQuery(controls, m_state);
    return run();
}

CommandResult SearchCommands::previousPage(const SearchControls& controls) {
    if (m_fetch.inFlight()) return CommandResult::busy();
    const PageMove move = previousPageNo(m_state.PageNo);
    if (!move.pageNo) return CommandResult::refused(move.refusal);
    m_state.PageNo = *move.pageNo;
    buildSearchQuery(controls, m_state);
    return run();
}

CommandResult SearchCommands::nextPage(const SearchControls& controls) {
    if (m_fetch.inFlight()) return CommandResult::busy();
    const PageMove move = nextPageNo(m_state.PageNo, m_state.PageCount);
    if (!move.pageNo) return CommandResult::refused(move.refusal);
    m_state.PageNo = *move.pageNo;
    buildSearchQuery(controls, m_state);
    return run();
}

CommandResult SearchCommands::jumpToPage(const SearchControls& controls, QStringView Text5) {
    if (m_fetch.inFlight()) return CommandResult::busy();
    const PageMove move = jumpPageNo(Text5, m_state.PageCount);
    if (!move.pageNo) return CommandResult::refused(move.refusal);
    m_state.PageNo = *move.pageNo;
    buildSearchQuery(controls, m_state);
    return run();
}

CommandResult SearchCommands::presetSearch() {
    if (m_fetch.inFlight()) return CommandResult::busy();
    Q_EMIT showSearchPanel();
    m_state.PageNo = QStringLiteral("0");
    presetFilters(m_state);
    composeQueryString(m_state);
    return run();
}

CommandResult SearchCommands::run() {
    Q_EMIT buttonsLocked(true);
    GetResult();
    return CommandResult::started();
}

void SearchCommands::GetResult() {
    Q_EMIT rowsCleared();
    Q_EMIT statusChanged(status::kConnecting.toString());
    const QString query = m_state.QueryString;
    RunningRequest* running =
        m_fetch.run(m_service, Request::builtOnConnect([query](const ServiceAddress& connectedTo) {
                        return searchRequest(query, connectedTo);
                    }));
    // The guards above checked that nothing is in flight.
    Q_ASSERT(running);
    connect(running, &RunningRequest::connected, this, [this] { Q_EMIT statusChanged(status::kFetching.toString()); });
    connect(running, &RunningRequest::finished, this, &SearchCommands::onFinished);
}

void SearchCommands::onFinished(const Outcome& outcome) {
    m_outcome = outcome;
    m_pageRead = false;
    QStringView text = status::kFailed;
    if (outcome.kind == Outcome::Kind::TimedOut) text = status::kConnectTimeout;
    if (outcome.answered()) {
        const ResultPage page = parseResultPage(outcome.text);
        if (page.pageCount) {
            m_state.PageCount = *page.pageCount;
            Q_EMIT pageLabelChanged(pageCaption(m_state.PageCount, m_state.PageNo));
        }
        if (!page.rows.isEmpty()) Q_EMIT rowsAdded(page.rows);
        m_pageRead = page.ok();
        if (page.ok()) text = status::kDone;
    }
    Q_EMIT statusChanged(text.toString());
    Q_EMIT buttonsLocked(false);
    Q_EMIT finished();
}

} // namespace yuming
