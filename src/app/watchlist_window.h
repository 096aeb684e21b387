#pragma once

#include "app/watch_table.h"
#include "search/service_address.h"
#include "watch/watch_client.h"

#include <QByteArray>
#include <QSortFilterProxyModel>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <functional>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTableView;

namespace yuming {

// 关注列表: the names the service watches, their deletion estimates counting down, and the
// history of the selected one. A window of its own, beside the main window and never modal; it
// talks to the service's watch API alone, never through the main window's request.
class WatchlistWindow : public QWidget {
    Q_OBJECT
public:
    // `token` is used for a service given by address; this user's own service's is read from its
    // record.
    WatchlistWindow(ServiceAddress service, QByteArray token, QWidget* parent = nullptr);

    // What its buttons do, without their dialogs.
    void refresh();
    void addNames(const QStringList& names);
    void removeSelected();
    void checkNow(); // the selected names, or all when none is selected
    bool writeCalendar(const QString& path);
    void askCalendarFile(); // 导出日历…

    QStringList selectedNames() const;
    WatchTable& table() { return m_table; }
    QTableView* view() const { return m_view; }
    QString statusText() const;
    QString historyText() const;

Q_SIGNALS:
    // The list the service answered is in the table (or why it is not, in the status line).
    void listed();
    // The selected name's history is shown.
    void historyShown();

private:
    void build();
    void wire();
    void addTyped();
    void showList(const watch::WatchAnswer& answer);
    void showHistory();
    void setStatus(const QString& text);
    QDateTime clock() const;
    watch::WatchReply* send(watch::WatchCall call, std::function<void(const watch::WatchAnswer&)> done);
    static QString failure(const watch::WatchAnswer& answer);

    watch::WatchClient m_client;
    WatchTable m_table;
    QSortFilterProxyModel m_sorted;
    QTableView* m_view = nullptr;
    QPlainTextEdit* m_input = nullptr;
    QPlainTextEdit* m_history = nullptr;
    QLabel* m_status = nullptr; // what the last action came to
    QLabel* m_count = nullptr;
    QPushButton* m_add = nullptr;
    QPushButton* m_remove = nullptr;
    QPushButton* m_check = nullptr;
    QPushButton* m_refresh = nullptr;
    QPushButton* m_export = nullptr;
    QTimer m_tick;
    qint64 m_clockOffsetMs = 0; // the service's clock less this one's
    QString m_historyName;      // whose history is asked for or shown
};

} // namespace yuming
