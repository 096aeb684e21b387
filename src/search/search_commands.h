#pragma once

#include "protocol/search_page.h"
#include "protocol/search_query.h"
#include "search/command_result.h"
#include "search/fetch.h"
#include "search/search_state.h"
#include "search/service_address.h"

#include <QList>
#include <QObject>
#include <QString>

namespace yuming {

class ServiceLink;

// Status line texts of a search.
namespace status {
inline constexpr QStringView kReady = u"准备就绪...";
inline constexpr QStringView kConnecting = u"正在连接服务器...";
inline constexpr QStringView kFetching = u"正在获取结果...";
inline constexpr QStringView kDone = u"完成...";
inline constexpr QStringView kConnectTimeout = u"连接服务器超时,请稍后再试...";
inline constexpr QStringView kFailed = u"获取结果出错,请稍后重试...";
} // namespace status

// How a search request ended: its outcome, and whether its page was read whole.
struct SearchResult {
    Outcome outcome;
    bool pageRead = false;
};

// The search commands (new search, previous, next, jump to a page, the preset search) without
// the window. Each takes the filters as the window holds them at the click (their page is not
// read: the command decides it); the paging commands take the filters anew, as a new search does.
class SearchCommands : public QObject {
    Q_OBJECT
public:
    SearchCommands(ServiceLink& link, ServiceAddress service, QObject* parent = nullptr);

    CommandResult newSearch(const SearchQuery& filters);
    CommandResult previousPage(const SearchQuery& filters);
    CommandResult nextPage(const SearchQuery& filters);
    // `pageBox` is the page as typed, counted from 1.
    CommandResult jumpToPage(const SearchQuery& filters, QStringView pageBox);
    CommandResult presetSearch();

    const SearchState& state() const { return m_state; }
    // The paging of a list shown again as it was kept aside; not while a request runs.
    bool restoreState(const SearchState& state);
    void setService(const ServiceAddress& service) { m_service = service; }

Q_SIGNALS:
    // The result list takes the place of the lookup's result.
    void showSearchPanel();
    // While a request runs every command is locked, the lookup's too.
    void buttonsLocked(bool locked);
    void statusChanged(const QString& text);
    // The page caption: the page count and the current page.
    void pageLabelChanged(const QString& text);
    void rowsCleared();
    void rowsAdded(const QList<yuming::ResultRow>& rows);
    // After the commands are unlocked again.
    void finished(const yuming::SearchResult& result);

private:
    CommandResult moveTo(const SearchQuery& filters, std::int64_t page);
    void GetResult();
    void onFinished(const Outcome& outcome);

    ServiceLink& m_link;
    ServiceAddress m_service;
    SearchState m_state;
};

} // namespace yuming
