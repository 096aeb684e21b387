#pragma once

#include "app/app_settings.h"
#include "lookup/lookup_command.h"
#include "search/command_result.h"
#include "search/fetch.h"
#include "search/kept_list.h"
#include "search/page_export.h"
#include "search/search_commands.h"
#include "search/service_link.h"

#include <QList>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <array>
#include <memory>

class Command;
namespace yuming {
class WatchlistWindow;
}
class QCheckBox;
class QRadioButton;

namespace Ui {
class Frmmain;
}

// The tool's one window: search options and lookup input on the left, search results or the
// lookup result on the right, the maker's banner on top and the home-page link below. The
// layout is the form in frmmain.ui; this class prepares it, reads its controls for the search
// and lookup commands and writes what they report back into it.
class Frmmain : public QWidget {
    Q_OBJECT
public:
    explicit Frmmain(const yuming::AppSettings& settings = {}, QWidget* parent = nullptr);
    ~Frmmain() override;

    // Shows the window centred on its screen.
    void showCentred();

    const yuming::AppSettings& settings() const { return m_settings; }
    yuming::SearchCommands& searchCommands() { return m_search; }
    yuming::LookupCommand& lookupCommand() { return m_lookup; }
    yuming::Fetch& fetch() { return m_link.fetch(); }

    // What the list's context menu does, without its file dialogs.
    void lookUpSelectedRow();                                    // 查询此域名, double-click, Enter
    void copySelectedRows(bool wholeRows);                       // 复制域名 (Ctrl+C), 复制整行
    bool exportShownPage(const QString& path);                   // 导出本页…
    void exportAllPages(const QString& path, int pauseMs = 300); // 导出全部页…
    // What the lookup result's context menu adds: 返回查询结果, Esc.
    void goBackToList();
    bool canGoBackToList() const;
    // 加入关注 (the selected rows' names; the name looked up) and 关注列表…: the watchlist's window,
    // opened beside this one, adds them.
    void watchSelectedRows();
    void watchLookedUpName();
    const QString& lookedUpName() const { return m_lookedUp; }
    yuming::WatchlistWindow* showWatchlist();
    // Their file dialog, open until answered; the export runs once a file is chosen there.
    enum class ExportScope { ShownPage, AllPages };
    void askExportFile(ExportScope scope);

    // The window's title: the program's name and its version.
    static QString title();

    static constexpr double TwipsPerPixel = 15.0;

Q_SIGNALS:
    // The window's first frame is on the screen.
    void shown();
    // The banner page has loaded (or failed to).
    void bannerLoaded(bool ok);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void Form_Load();
    void useCrispText();
    void restoreStoredControls();
    void useArtwork();
    void showHomePage();
    void wire();
    void startUserService();

    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void Command5_Click();
    void Command6_Click();
    void Label23_Click();

    // The filter controls as a search: the one place where a button stands for a value.
    yuming::SearchQuery searchFilters() const;
    void answer(const yuming::CommandResult& result);
    void lockButtons(bool locked);
    void showSearchPanel();
    void showLookupPanel();
    void setStatus(const QString& text);
    void setPageLabel(const QString& text);
    void addRows(const QList<yuming::ResultRow>& rows);
    void setResultText(const QString& text);
    void wireList();
    void showListMenu(const QPoint& at);
    void wireResultPane();
    void showResultMenu(const QPoint& at);
    yuming::ListSnapshot shownList() const;
    void showList(const yuming::ListSnapshot& list);
    bool eventFilter(QObject* watched, QEvent* event) override;

    std::unique_ptr<Ui::Frmmain> ui;
    std::array<Command*, 6> m_commands{};
    std::array<QRadioButton*, 4> Option1{};
    std::array<QRadioButton*, 3> Option2{};
    std::array<QRadioButton*, 5> Option3{};
    std::array<QCheckBox*, 3> Check1{};
    yuming::AppSettings m_settings;
    yuming::ServiceLink m_link;
    yuming::SearchCommands m_search;
    yuming::LookupCommand m_lookup;
    QString m_homePageUrl; // where the home-page link opens; the caption keeps the stored text
    bool m_shown = false;
    QPointer<yuming::PageExport> m_export; // the export of every page, while it runs
    yuming::KeptList m_keptList;           // the list a lookup took the place of
    QPointer<QWidget> m_focusBeforeLock;   // given back when the buttons are unlocked
    QRect m_label17Place;                  // the page label's place at its stored text
    QString m_lookingUp;                   // the name the running lookup asks for
    QString m_lookedUp;                    // the name whose lookup result is shown
    QPointer<yuming::WatchlistWindow> m_watchlist;
};
