#include "controls/box.h"

#include "controls/input_bits.h"
#include "controls/ole_color.h"
#include "controls/property_bag.h"

#include <QChildEvent>
#include <QMouseEvent>

namespace {

constexpr std::uint32_t SystemButtonShadow = OleColor::SystemFlag | 16u;

QRect ToPixels(const QRectF& twips) {
    const auto px = [](double value) { return qRound(value / Box::TwipsPerPixel); };
    return QRect(px(twips.x()), px(twips.y()), px(twips.width()), px(twips.height()));
}

void Fill(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, color);
    widget->setPalette(palette);
}

} // namespace

std::array<QRectF, 4> BoxStripRects(QSizeF size, double thickness, double inset) {
    const double w = size.width();
    const double h = size.height();
    return {
        QRectF(0, 0, thickness, h),         // left
        QRectF(0, h - inset, w, thickness), // bottom
        QRectF(w - inset, 0, thickness, h), // right
        QRectF(0, 0, w, thickness),         // top
    };
}

Box::Box(QWidget* parent)
    : QWidget(parent), m_backColor(OleColor::White), m_lineColors{SystemButtonShadow, SystemButtonShadow,
                                                                  SystemButtonShadow, SystemButtonShadow} {
    setAutoFillBackground(true);
    for (QWidget*& strip : m_strips) {
        strip = new QWidget(this);
        strip->setAutoFillBackground(true);
    }
    ApplyColors();
    LayOutStrips();
}

bool Box::Enabled() const {
    return !testAttribute(Qt::WA_ForceDisabled);
}

QColor Box::BackColor() const {
    return OleColor::ToQColor(m_backColor);
}

QColor Box::LineColor() const {
    return OleColor::ToQColor(m_lineColors[0]);
}

void Box::setEnabled(bool New_Enabled) {
    QWidget::setEnabled(New_Enabled);
}

void Box::setBackColor(const QColor& NewValue) {
    setBackColorValue(OleColor::FromQColor(NewValue));
}

void Box::setLineColor(const QColor& NewValue) {
    setLineColorValue(OleColor::FromQColor(NewValue));
}

bool Box::setBackColorValue(std::uint32_t NewValue) {
    if (!OleColor::IsValid(NewValue)) return false;
    m_backColor = NewValue;
    ApplyColors();
    Q_EMIT PropertyChanged(QStringLiteral("BackColor"));
    Q_EMIT BackColorChanged();
    return true;
}

bool Box::setLineColorValue(std::uint32_t NewValue) {
    if (!OleColor::IsValid(NewValue)) return false;
    for (int strip = 0; strip < 4; ++strip)
        StoreLineColor(strip, NewValue);
    Q_EMIT PropertyChanged(QStringLiteral("LineColor"));
    Q_EMIT LineColorChanged();
    return true;
}

void Box::StoreLineColor(int strip, std::uint32_t value) {
    m_lineColors[strip] = value;
    Fill(m_strips[strip], OleColor::ToQColor(value));
}

void Box::ApplyColors() {
    Fill(this, BackColor());
    for (int strip = 0; strip < 4; ++strip)
        Fill(m_strips[strip], OleColor::ToQColor(m_lineColors[strip]));
}

void Box::LayOutStrips() {
    const auto rects =
        BoxStripRects(QSizeF(width() * TwipsPerPixel, height() * TwipsPerPixel), StripTwips, InsetTwips);
    for (int strip = 0; strip < 4; ++strip)
        m_strips[strip]->setGeometry(ToPixels(rects[strip]));
}

void Box::RaiseStrips() {
    for (QWidget* strip : m_strips)
        if (strip) strip->raise();
}

void Box::resizeEvent(QResizeEvent*) {
    LayOutStrips();
}

void Box::mousePressEvent(QMouseEvent* event) {
    // Presses on the strips or on controls inside reach here by propagation; they are not the
    // panel's own.
    if (childAt(event->position().toPoint())) {
        event->ignore();
        return;
    }
    const QPointF p = event->position();
    Q_EMIT MouseDown(ButtonBits(event->button()), ShiftBits(event->modifiers()), float(p.x()), float(p.y()));
}

void Box::childEvent(QChildEvent* event) {
    QWidget::childEvent(event);
    // Controls placed inside come after the strips in the stacking order; the frame stays on top.
    if (event->type() != QEvent::ChildAdded && event->type() != QEvent::ChildPolished) return;
    const auto* child = event->child();
    if (!child->isWidgetType() || std::find(m_strips.begin(), m_strips.end(), child) != m_strips.end())
        return;
    RaiseStrips();
}

void Box::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // System colours follow the application's palette.
    if (event->type() == QEvent::ApplicationPaletteChange) ApplyColors();
}

bool Box::ReadProperties(const PropertyBag& bag, QString* error) {
    const QWidget* container = parentWidget();
    const std::uint32_t ambient = OleColor::FromQColor(
        container ? container->palette().color(QPalette::Window) : QPalette().color(QPalette::Window));
    const auto enabled = bag.ReadBool(QStringLiteral("Enabled"), true, error);
    const auto backColor = bag.ReadColor(QStringLiteral("BackColor"), OleColor::White, error);
    const auto lineColor = bag.ReadColor(QStringLiteral("LineColor"), ambient, error);
    if (!enabled || !backColor || !lineColor) return false;

    setEnabled(*enabled);
    m_backColor = *backColor;
    ApplyColors();
    for (int strip = 0; strip < 4; ++strip)
        StoreLineColor(strip, *lineColor);
    return true;
}

void Box::WriteProperties(PropertyBag& bag) const {
    bag.WriteProperty(QStringLiteral("Enabled"), Enabled(), true);
    bag.WriteProperty(QStringLiteral("BackColor"), qlonglong(m_backColor));
    bag.WriteProperty(QStringLiteral("LineColor"), qlonglong(m_lineColors[0]));
}
