#include "app/watchlist_window.h"

#include "app/export_dialog.h"
#include "watch/watch_calendar.h"
#include "watch/watch_texts.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>

namespace yuming {

using watch::WatchAnswer;
using watch::WatchCall;

WatchlistWindow::WatchlistWindow(ServiceAddress service, QByteArray token, QWidget* parent)
    : QWidget(parent, Qt::Window), m_client(std::move(service), std::move(token), this) {
    setWindowTitle(QStringLiteral("关注列表"));
    build();
    wire();
    m_tick.setInterval(1000);
    m_tick.start();
    resize(900, 560);
    refresh();
}

void WatchlistWindow::build() {
    m_input = new QPlainTextEdit;
    m_input->setObjectName(QStringLiteral("watchInput"));
    m_input->setPlaceholderText(QStringLiteral("每行一个域名，可直接粘贴列表"));
    m_input->setFixedHeight(64);
    m_add = new QPushButton(QStringLiteral("加入关注"));
    auto* adding = new QHBoxLayout;
    adding->addWidget(m_input, 1);
    adding->addWidget(m_add, 0, Qt::AlignTop);

    m_remove = new QPushButton(QStringLiteral("移除"));
    m_check = new QPushButton(QStringLiteral("立即查询"));
    m_refresh = new QPushButton(QStringLiteral("刷新"));
    m_export = new QPushButton(QStringLiteral("导出日历…"));
    auto* buttons = new QHBoxLayout;
    for (QPushButton* button : {m_remove, m_check, m_refresh, m_export})
        buttons->addWidget(button);
    buttons->addStretch(1);

    m_sorted.setSourceModel(&m_table);
    m_sorted.setSortRole(Qt::UserRole);
    m_view = new QTableView;
    m_view->setObjectName(QStringLiteral("watchTable"));
    m_view->setModel(&m_sorted);
    m_view->setSortingEnabled(true);
    m_view->sortByColumn(WatchTable::Name, Qt::AscendingOrder);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->verticalHeader()->hide();
    m_view->horizontalHeader()->setStretchLastSection(true);

    m_history = new QPlainTextEdit;
    m_history->setObjectName(QStringLiteral("watchHistory"));
    m_history->setReadOnly(true);
    m_history->setPlaceholderText(QStringLiteral("选中一个域名，这里显示它的状态变化"));
    auto* lower = new QWidget;
    auto* lowerLayout = new QVBoxLayout(lower);
    lowerLayout->setContentsMargins(0, 0, 0, 0);
    lowerLayout->addWidget(new QLabel(QStringLiteral("状态变化记录：")));
    lowerLayout->addWidget(m_history);
    auto* split = new QSplitter(Qt::Vertical);
    split->addWidget(m_view);
    split->addWidget(lower);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);

    m_status = new QLabel;
    m_status->setObjectName(QStringLiteral("watchStatus"));
    m_count = new QLabel;
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_status, 1);
    bottom->addWidget(m_count);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(adding);
    layout->addLayout(buttons);
    layout->addWidget(split, 1);
    layout->addLayout(bottom);
}

void WatchlistWindow::wire() {
    connect(m_add, &QPushButton::clicked, this, &WatchlistWindow::addTyped);
    connect(m_remove, &QPushButton::clicked, this, &WatchlistWindow::removeSelected);
    connect(m_check, &QPushButton::clicked, this, &WatchlistWindow::checkNow);
    connect(m_refresh, &QPushButton::clicked, this, &WatchlistWindow::refresh);
    connect(m_export, &QPushButton::clicked, this, &WatchlistWindow::askCalendarFile);
    connect(&m_tick, &QTimer::timeout, this, [this] { m_table.setNow(clock()); });
    connect(m_view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &WatchlistWindow::showHistory);
}

QDateTime WatchlistWindow::clock() const {
    return QDateTime::currentDateTimeUtc().addMSecs(m_clockOffsetMs);
}

watch::WatchReply* WatchlistWindow::send(WatchCall call, std::function<void(const WatchAnswer&)> done) {
    watch::WatchReply* reply = m_client.send(std::move(call));
    connect(reply, &watch::WatchReply::finished, this, std::move(done));
    return reply;
}

QString WatchlistWindow::failure(const WatchAnswer& answer) {
    if (answer.kind == WatchAnswer::Kind::Refused)
        return QStringLiteral("服务拒绝了请求（%1）：%2").arg(answer.status).arg(answer.error);
    return QStringLiteral("无法连接域名服务：%1").arg(answer.error);
}

void WatchlistWindow::setStatus(const QString& text) {
    m_status->setText(text);
}

QString WatchlistWindow::statusText() const {
    return m_status->text();
}

QString WatchlistWindow::historyText() const {
    return m_history->toPlainText();
}

void WatchlistWindow::refresh() {
    send(WatchCall::list(), [this](const WatchAnswer& answer) { showList(answer); });
}

void WatchlistWindow::showList(const WatchAnswer& answer) {
    const std::optional<watch::WatchList> list =
        answer.kind == WatchAnswer::Kind::Answered ? watch::readWatchList(answer.json) : std::nullopt;
    if (answer.kind != WatchAnswer::Kind::Answered) {
        setStatus(failure(answer));
    } else if (!list) {
        setStatus(QStringLiteral("服务的回答无法读取"));
    } else {
        // The countdown runs on the service's clock, whatever this machine's says.
        m_clockOffsetMs = list->now.isValid() ? QDateTime::currentDateTimeUtc().msecsTo(list->now) : 0;
        const QStringList selected = selectedNames();
        m_table.setNames(list->names);
        m_table.setNow(clock());
        for (int row = 0; row < m_sorted.rowCount(); ++row) {
            const QModelIndex at = m_sorted.index(row, 0);
            if (selected.contains(m_table.names()[m_sorted.mapToSource(at).row()].name))
                m_view->selectionModel()->select(at, QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
        m_view->resizeColumnsToContents();
        m_count->setText(QStringLiteral("共关注 %1 个域名").arg(list->names.size()));
    }
    Q_EMIT listed();
}

void WatchlistWindow::addTyped() {
    const QStringList names = namesInText(m_input->toPlainText());
    if (names.isEmpty()) {
        setStatus(QStringLiteral("请先输入要关注的域名，每行一个"));
        return;
    }
    addNames(names);
}

void WatchlistWindow::addNames(const QStringList& names) {
    if (names.isEmpty()) return;
    send(WatchCall::add(names), [this](const WatchAnswer& answer) {
        const std::optional<watch::AddCount> count =
            answer.kind == WatchAnswer::Kind::Answered ? watch::readAdded(answer.json) : std::nullopt;
        if (count) {
            m_input->clear();
            setStatus(
                QStringLiteral("已加入关注 %1 个，原已关注 %2 个").arg(count->added).arg(count->already));
        } else if (const QStringList bad = watch::readBadNames(answer.json); !bad.isEmpty()) {
            setStatus(
                QStringLiteral("没有加入：这些域名无效或不受支持：%1").arg(bad.join(QStringLiteral("，"))));
        } else {
            setStatus(failure(answer));
        }
        refresh();
    });
}

QStringList WatchlistWindow::selectedNames() const {
    QStringList names;
    for (const QModelIndex& at : m_view->selectionModel()->selectedRows())
        names.append(m_table.names()[m_sorted.mapToSource(at).row()].name);
    return names;
}

void WatchlistWindow::removeSelected() {
    const QStringList names = selectedNames();
    if (names.isEmpty()) {
        setStatus(QStringLiteral("请先选中要移除的域名"));
        return;
    }
    send(WatchCall::remove(names), [this](const WatchAnswer& answer) {
        const std::optional<qint64> removed =
            answer.kind == WatchAnswer::Kind::Answered ? watch::readRemoved(answer.json) : std::nullopt;
        setStatus(removed ? QStringLiteral("已移除 %1 个").arg(*removed) : failure(answer));
        refresh();
    });
}

void WatchlistWindow::checkNow() {
    const QStringList names = selectedNames();
    m_check->setEnabled(false);
    setStatus(names.isEmpty() ? QStringLiteral("正在查询全部关注的域名…")
                              : QStringLiteral("正在查询 %1 个域名…").arg(names.size()));
    WatchCall call = WatchCall::check(names);
    // The service answers when every check is done, within its own bound of a minute.
    call.timeoutMs = 90'000;
    send(std::move(call), [this](const WatchAnswer& answer) {
        m_check->setEnabled(true);
        const std::optional<QList<watch::CheckedName>> checks =
            answer.kind == WatchAnswer::Kind::Answered ? watch::readChecks(answer.json) : std::nullopt;
        if (!checks) {
            setStatus(failure(answer));
            return;
        }
        qsizetype changed = 0, failed = 0;
        for (const watch::CheckedName& check : *checks) {
            changed += check.changed;
            failed += !check.error.isEmpty();
        }
        setStatus(QStringLiteral("已查询 %1 个，状态变化 %2 个，查询失败 %3 个")
                      .arg(checks->size())
                      .arg(changed)
                      .arg(failed));
        // The list's answer selects the same names again, which asks for their history anew.
        refresh();
    });
}

void WatchlistWindow::showHistory() {
    const QStringList names = selectedNames();
    if (names.size() != 1) {
        m_historyName.clear();
        m_history->clear();
        return;
    }
    m_historyName = names[0];
    send(WatchCall::history(m_historyName), [this, name = m_historyName](const WatchAnswer& answer) {
        if (name != m_historyName) return; // another name was selected since
        const std::optional<QList<watch::StatusChange>> changes =
            answer.kind == WatchAnswer::Kind::Answered ? watch::readHistory(answer.json) : std::nullopt;
        if (!changes) {
            m_history->setPlainText(failure(answer));
        } else if (changes->isEmpty()) {
            m_history->setPlainText(QStringLiteral("（还没有状态变化）"));
        } else {
            QStringList lines;
            for (const watch::StatusChange& change : *changes)
                lines.append(QStringLiteral("%1  %2 → %3")
                                 .arg(tableTime(change.at), watch::statusText(change.from),
                                      watch::statusText(change.to)));
            m_history->setPlainText(lines.join(u'\n'));
        }
        Q_EMIT historyShown();
    });
}

bool WatchlistWindow::writeCalendar(const QString& path) {
    QSaveFile file(path);
    const QByteArray calendar = watch::deletionCalendar(m_table.names(), clock());
    if (!file.open(QIODevice::WriteOnly) || file.write(calendar) != calendar.size() || !file.commit()) {
        setStatus(QStringLiteral("无法写入 %1：%2").arg(path, file.errorString()));
        return false;
    }
    setStatus(QStringLiteral("日历已导出到 %1").arg(path));
    return true;
}

void WatchlistWindow::askCalendarFile() {
    auto* dialog = new ExportDialog(this, ExportDialog::startFolder({}));
    dialog->setObjectName(QStringLiteral("CalendarDialog"));
    dialog->setWindowTitle(QStringLiteral("导出日历"));
    dialog->setNameFilter(QStringLiteral("iCalendar (*.ics)"));
    dialog->setDefaultSuffix(QStringLiteral("ics"));
    dialog->selectFile(QStringLiteral("watchlist.ics"));
    connect(dialog, &QDialog::finished, dialog, &QObject::deleteLater);
    connect(dialog, &QFileDialog::fileSelected, this, &WatchlistWindow::writeCalendar, Qt::QueuedConnection);
    dialog->open();
}

} // namespace yuming
