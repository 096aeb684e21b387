#include "app/report_rows.h"

#include <QEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPaintEvent>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOptionFocusRect>
#include <QStyleOptionViewItem>
#include <QTreeView>

namespace {

// The view's own style, except that the frame it draws around the current row, which ends with
// the columns, goes on to the scroll bar like the row's highlight.
class RowFrameStyle : public QProxyStyle {
public:
    explicit RowFrameStyle(QTreeView* view)
        : QProxyStyle(QStyleFactory::create(view->style()->name())), m_view(view) {}

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override {
        const auto* frame = qstyleoption_cast<const QStyleOptionFocusRect*>(option);
        const QRect free = m_view ? ReportRowFill::freePart(m_view) : QRect();
        if (element != PE_FrameFocusRect || !frame || free.isEmpty() ||
            frame->rect.right() + 1 != free.left())
            return QProxyStyle::drawPrimitive(element, option, painter, widget);
        QStyleOptionFocusRect wide = *frame;
        wide.rect.setRight(free.right());
        QProxyStyle::drawPrimitive(element, &wide, painter, widget);
    }

private:
    QPointer<QTreeView> m_view;
};

} // namespace

ReportRowFill::ReportRowFill(QTreeView* view) : QObject(view), m_view(view) {
    auto* style = new RowFrameStyle(view);
    style->setParent(view);
    view->setStyle(style);
    view->installEventFilter(this);
    view->viewport()->installEventFilter(this);
    // The view repaints the columns of rows whose selection or focus changed, never the free part.
    const QItemSelectionModel* selection = view->selectionModel();
    connect(selection, &QItemSelectionModel::selectionChanged, this, &ReportRowFill::refresh);
    connect(selection, &QItemSelectionModel::currentChanged, this, &ReportRowFill::refresh);
}

QRect ReportRowFill::freePart(const QTreeView* view) {
    const QHeaderView* header = view->header();
    const QRect viewport = view->viewport()->rect();
    const int end = header->length() - header->offset();
    if (end <= 0 || end >= viewport.width()) return {};
    return QRect(end, 0, viewport.width() - end, viewport.height());
}

void ReportRowFill::refresh() {
    if (const QRect area = freePart(m_view); !area.isEmpty()) m_view->viewport()->update(area);
}

bool ReportRowFill::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_view->viewport() && event->type() == QEvent::Paint)
        paint(static_cast<QPaintEvent*>(event)->rect());
    // Selected rows change colour with the list's focus.
    if (watched == m_view && (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut))
        refresh();
    return false;
}

void ReportRowFill::paint(const QRect& area) {
    const QRect free = freePart(m_view) & area;
    if (free.isEmpty()) return;
    // Rows are found by their last column, which ends where the free part begins.
    QModelIndex row = m_view->indexAt(QPoint(free.left() - 1, free.top()));
    if (!row.isValid()) return;
    QStyleOptionViewItem option;
    option.initFrom(m_view);
    // As the view draws its items: in the active colours only while it has the focus; the frame
    // around the current row is the view's own.
    if (!m_view->hasFocus()) option.state &= ~QStyle::State_Active;
    option.state &= ~QStyle::State_HasFocus;
    option.state |= QStyle::State_Selected;
    option.showDecorationSelected = true;
    QPainter painter(m_view->viewport());
    const QItemSelectionModel* selection = m_view->selectionModel();
    for (; row.isValid(); row = m_view->indexBelow(row)) {
        const QRect cell = m_view->visualRect(row);
        if (cell.top() > free.bottom()) break;
        if (!selection->isSelected(row)) continue;
        option.rect = QRect(free.left(), cell.top(), free.width(), cell.height());
        m_view->style()->drawPrimitive(QStyle::PE_PanelItemViewItem, &option, &painter, m_view);
    }
}
