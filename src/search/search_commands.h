#pragma once

#include "search/command_result.h"
#include "search/fetch.h"
#include "protocol/search_page.h"
#include "search/search_query.h"
#include "search/service_address.h"

#include <QList>
#include <QObject>
#include <QString>

namespace yuming {

// Status line texts of a search.
namespace status {
inline constexpr QStringView kReady = u"准备就绪...";
inline constexpr QStringView kConnecting = u"正在连接服务器...";
inline constexpr QStringView kFetching = u"正在获取结果...";
inline constexpr QStringView kDone = u"完成...";
inline constexpr QStringView kConnectTimeout = u"连接服务器超时,请稍后再试...";
inline constexpr QStringView kFailed = u"获取结果出错,请稍后重试...";
} // namespace status

// The window's search commands (new search, previous, next, jump, preset) and GetResult,
// without the window: the window forwards clicks and Enter keys here and binds the signals
// to its controls.
class SearchCommands : public QObject {
    Q_OBJECT
public:
    SearchCommands(Fetch& fetch, ServiceAddress service, QObject* parent = nullptr);

    CommandResult newSearch(const SearchControls& controls);                       // Command1, Enter in Text1
    CommandResult previousPage(const SearchControls& controls);                    // Command3
    CommandResult nextPage(const SearchControls& controls);                        // Command4
    CommandResult jumpToPage(const SearchControls& controls, QStringView Text5);   // Command5
    CommandResult presetSearch();                                                  // Command6

    const SearchState& state() const { return m_state; }
    // How the last search ended: its request's outcome, and whether its page was read whole.
    const Outcome& lastOutcome() const { return m_outcome; }
    bool lastPageRead() const { return m_pageRead; }
    void setService(const ServiceAddress& service) { m_service = service; }

Q_SIGNALS:
    void showSearchPanel();                    // hide Box3, then show Box2
    void buttonsLocked(bool locked);           // Enabled = !locked on Command1..Command6, in order
    void statusChanged(const QString& text);   // Label16
    void pageLabelChanged(const QString& text);// Label17
    void rowsCleared();                        // ListView1 emptied
    void rowsAdded(const QList<yuming::ResultRow>& rows);
    void finished();                           // after the buttons are unlocked

private:
    CommandResult run();
    void GetResult();
    void onFinished(const Outcome& outcome);

    Fetch& m_fetch;
    ServiceAddress m_service;
    SearchState m_state;
    Outcome m_outcome;
    bool m_pageRead = false;
};

} // namespace yuming
