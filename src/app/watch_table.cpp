#include "app/watch_table.h"

#include "watch/watch_texts.h"

#include <QRegularExpression>
#include <QSet>
#include <QUrl>

#include <array>
#include <limits>

namespace yuming {
namespace {

constexpr std::array<QStringView, WatchTable::ColumnCount> kHeaders{
    u"域名", u"状态", u"到期时间", u"删除时间", u"倒计时", u"上次查询",
};

} // namespace

QString countdownText(const QDateTime& deletion, const QDateTime& now) {
    if (!deletion.isValid() || !now.isValid()) return {};
    const qint64 left = now.secsTo(deletion);
    if (left <= 0) return QStringLiteral("已到");
    const qint64 days = left / 86400;
    const qint64 rest = left % 86400;
    return QStringLiteral("%1 天 %2:%3:%4")
        .arg(days)
        .arg(rest / 3600, 2, 10, QLatin1Char('0'))
        .arg(rest % 3600 / 60, 2, 10, QLatin1Char('0'))
        .arg(rest % 60, 2, 10, QLatin1Char('0'));
}

QString tableTime(const QDateTime& time) {
    if (!time.isValid()) return {};
    return time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

QStringList namesInText(const QString& text) {
    static const QRegularExpression separators(QStringLiteral("[\\s,;，；、]+"));
    QStringList names;
    QSet<QString> seen;
    for (const QString& part : text.split(separators, Qt::SkipEmptyParts)) {
        if (seen.contains(part)) continue;
        seen.insert(part);
        names.append(part);
    }
    return names;
}

void WatchTable::setNames(const QList<watch::WatchedName>& names) {
    beginResetModel();
    m_names = names;
    endResetModel();
}

void WatchTable::setNow(const QDateTime& now) {
    m_now = now;
    if (m_names.isEmpty()) return;
    Q_EMIT dataChanged(index(0, Countdown), index(rowCount() - 1, Countdown));
}

int WatchTable::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_names.size());
}

int WatchTable::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant WatchTable::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_names.size()) return {};
    const watch::WatchedName& name = m_names[index.row()];
    if (role == Qt::DisplayRole) return text(name, index.column());
    if (role == Qt::UserRole) return sortValue(name, index.column());
    if (role == Qt::ToolTipRole && index.column() == Name) return name.name;
    return {};
}

QVariant WatchTable::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= ColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    return kHeaders[section].toString();
}

QString WatchTable::text(const watch::WatchedName& name, int column) const {
    switch (column) {
    case Name:
        // Stored in its ASCII form; shown as its owner writes it.
        return QUrl::fromAce(name.name.toLatin1());
    case Status:
        return watch::statusText(name.status);
    case Expiry:
        return tableTime(name.expiry);
    case Deletion:
        if (!name.deletion.isValid()) return QStringLiteral("（无估计）");
        return QStringLiteral("%1（依据：%2）").arg(tableTime(name.deletion), watch::basisText(name.basis));
    case Countdown:
        return countdownText(name.deletion, m_now);
    case Checked:
        return name.checkedAt.isValid() ? tableTime(name.checkedAt) : QStringLiteral("尚未查询");
    default:
        return {};
    }
}

QVariant WatchTable::sortValue(const watch::WatchedName& name, int column) const {
    // Names without a time sort after those with one.
    const auto later = [](const QDateTime& time) {
        return time.isValid() ? time.toSecsSinceEpoch() : std::numeric_limits<qint64>::max();
    };
    switch (column) {
    case Name:
        return text(name, Name);
    case Status:
        return text(name, Status);
    case Expiry:
        return later(name.expiry);
    case Deletion:
    case Countdown:
        return later(name.deletion);
    case Checked:
        return later(name.checkedAt);
    default:
        return {};
    }
}

} // namespace yuming
