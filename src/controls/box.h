#pragma once

#include <QColor>
#include <QRect>
#include <QSize>
#include <QWidget>

#include <array>
#include <cstdint>

class PropertyBag;

// Where the four edge strips of a panel of size (width, height) go, in the panel's units:
// left, bottom, right, top. The strips are `thickness` thick; the bottom and right ones start
// `inset` in from the far edge (10 twips, less than their 15-twip thickness), so that they cover
// the panel's last pixel row and column.
std::array<QRectF, 4> BoxStripRects(QSizeF size, double thickness, double inset);

// The program's own panel: filled in BackColor, framed by four 1-pixel strips in LineColor that
// stay above any control placed inside.
class Box : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool Enabled READ Enabled WRITE setEnabled)
    Q_PROPERTY(QColor BackColor READ BackColor WRITE setBackColor NOTIFY BackColorChanged)
    Q_PROPERTY(QColor LineColor READ LineColor WRITE setLineColor NOTIFY LineColorChanged)

public:
    explicit Box(QWidget* parent = nullptr);

    bool Enabled() const;
    QColor BackColor() const;
    QColor LineColor() const;
    std::uint32_t BackColorValue() const { return m_backColor; }
    std::uint32_t LineColorValue() const { return m_lineColors[0]; }

    void setBackColor(const QColor& NewValue);
    void setLineColor(const QColor& NewValue);
    // 0x00BBGGRR or 0x800000nn (system colour nn); an invalid value is refused.
    bool setBackColorValue(std::uint32_t NewValue);
    bool setLineColorValue(std::uint32_t NewValue);

    // Fails, leaving the panel untouched, when a stored value has the wrong type.
    bool ReadProperties(const PropertyBag& bag, QString* error = nullptr);
    void WriteProperties(PropertyBag& bag) const;

    // The strips in the order left, bottom, right, top.
    std::array<QWidget*, 4> Strips() const { return m_strips; }

    static constexpr double TwipsPerPixel = 15.0;
    static constexpr double StripTwips = 15.0;
    static constexpr double InsetTwips = 10.0;

public Q_SLOTS:
    void setEnabled(bool New_Enabled);

Q_SIGNALS:
    void MouseDown(short Button, short Shift, float X, float Y);
    void PropertyChanged(const QString& name);
    void BackColorChanged();
    void LineColorChanged();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void childEvent(QChildEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void LayOutStrips();
    void RaiseStrips();
    void ApplyColors();
    void StoreLineColor(int strip, std::uint32_t value);

    std::uint32_t m_backColor;
    std::array<std::uint32_t, 4> m_lineColors;
    std::array<QWidget*, 4> m_strips{};
};
