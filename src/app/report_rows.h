#pragma once

#include <QObject>
#include <QRect>

class QTreeView;

// A report list's selected rows go on past its last column, across the free part up to the
// scroll bar, as its header does. The view paints its columns only: this paints the rest of each
// selected row, under what the view paints, as the style paints a selected item, and has the
// view's frame around the current row reach the scroll bar too.
class ReportRowFill : public QObject {
public:
    // Lives as long as `view`, whose viewport it paints.
    explicit ReportRowFill(QTreeView* view);

    // The part of the viewport right of the last column; empty when the columns fill it.
    static QRect freePart(const QTreeView* view);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void paint(const QRect& area);
    void refresh();

    QTreeView* m_view;
};
