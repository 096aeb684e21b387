#pragma once

#include "watch/watch_answers.h"

#include <QAbstractTableModel>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

namespace yuming {

// The watchlist as the window's table shows it: one row a name, its countdown to the deletion
// estimate counted at the clock it was last given. Qt::UserRole holds each cell's value to sort by.
class WatchTable : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Name, Status, Expiry, Deletion, Countdown, Checked, ColumnCount };

    using QAbstractTableModel::QAbstractTableModel;

    void setNames(const QList<watch::WatchedName>& names);
    const QList<watch::WatchedName>& names() const { return m_names; }
    // The countdown column moves to `now` (UTC).
    void setNow(const QDateTime& now);
    const QDateTime& now() const { return m_now; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    QString text(const watch::WatchedName& name, int column) const;
    QVariant sortValue(const watch::WatchedName& name, int column) const;

    QList<watch::WatchedName> m_names;
    QDateTime m_now;
};

// "5 天 03:00:00" from `now` to `deletion`; "已到" once it has passed; empty without an estimate.
QString countdownText(const QDateTime& deletion, const QDateTime& now);

// A time as the table shows it: local, to the minute; empty when unknown.
QString tableTime(const QDateTime& time);

// The names in pasted text: one a line, or separated by spaces, commas or semicolons; each once,
// in the order given.
QStringList namesInText(const QString& text);

} // namespace yuming
