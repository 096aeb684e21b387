#include "controls/command.h"

#include "controls/artwork.h"
#include "controls/input_bits.h"
#include "controls/ole_color.h"
#include "controls/property_bag.h"

#include <QApplication>
#include <QCursor>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>

#include <cmath>
#include <limits>

namespace {

// The pressed caption sits 20 twips right and 10 twips down; at 15 twips a pixel that rounds to
// one pixel each way.
constexpr double TwipsPerPixel = 15.0;
const int PressedDx = qRound(20 / TwipsPerPixel);
const int PressedDy = qRound(10 / TwipsPerPixel);

// Key codes as the button's key events carry them (virtual-key numbering).
int KeyCodeOf(int key) {
    if (key >= Qt::Key_A && key <= Qt::Key_Z) return key;
    if (key >= Qt::Key_0 && key <= Qt::Key_9) return key;
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return 112 + (key - Qt::Key_F1);
    switch (key) {
    case Qt::Key_Backspace:
        return 8;
    case Qt::Key_Tab:
        return 9;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return CommandInput::KeyEnter;
    case Qt::Key_Shift:
        return 16;
    case Qt::Key_Control:
        return 17;
    case Qt::Key_Alt:
        return 18;
    case Qt::Key_Pause:
        return 19;
    case Qt::Key_CapsLock:
        return 20;
    case Qt::Key_Escape:
        return CommandInput::KeyEscape;
    case Qt::Key_Space:
        return CommandInput::KeySpace;
    case Qt::Key_PageUp:
        return 33;
    case Qt::Key_PageDown:
        return 34;
    case Qt::Key_End:
        return 35;
    case Qt::Key_Home:
        return 36;
    case Qt::Key_Left:
        return 37;
    case Qt::Key_Up:
        return 38;
    case Qt::Key_Right:
        return 39;
    case Qt::Key_Down:
        return 40;
    case Qt::Key_Insert:
        return 45;
    case Qt::Key_Delete:
        return 46;
    default:
        return 0;
    }
}

// Draw codes arrive as any number; one that is no 32-bit integer draws no frame.
std::int32_t ToCode(double vv) {
    if (!std::isfinite(vv)) return -1;
    const double rounded = std::nearbyint(vv);
    if (rounded < std::numeric_limits<std::int32_t>::min() ||
        rounded > std::numeric_limits<std::int32_t>::max())
        return -1;
    return static_cast<std::int32_t>(rounded);
}

} // namespace

Command::Command(QWidget* parent)
    : QWidget(parent), m_foreColor(OleColor::ButtonText),
      m_textColor(OleColor::ToQColor(m_foreColor, palette())) {
    InitControlResources();
    setFocusPolicy(Qt::StrongFocus);
    // Hover is tracked from plain moves, with no button held.
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(Artwork::HandCursor());
    m_overTimer.setInterval(HoverInterval);
    connect(&m_overTimer, &QTimer::timeout, this, &Command::OverTimerTick);
    resize(FrameSize());
    Refresh();
}

QColor Command::ForeColor() const {
    return OleColor::ToQColor(m_foreColor, palette());
}

bool Command::Enabled() const {
    return !testAttribute(Qt::WA_ForceDisabled);
}

QSize Command::FrameSize() const {
    return QSize(qRound(double(m_holderSize.width()) / Frames()), m_holderSize.height());
}

void Command::setPicture(const QImage& New_Picture) {
    m_picture = New_Picture;
    if (!m_picture.isNull()) m_holderSize = m_picture.size();
    Refresh();
    Q_EMIT PropertyChanged(QStringLiteral("Picture"));
    Q_EMIT PictureChanged();
}

void Command::setForeColor(const QColor& New_ForeColor) {
    setForeColorValue(OleColor::FromQColor(New_ForeColor));
}

bool Command::setForeColorValue(std::uint32_t New_ForeColor) {
    if (!OleColor::IsValid(New_ForeColor)) return false;
    if (New_ForeColor == m_foreColor) return true;
    m_foreColor = New_ForeColor;
    m_textColor = ForeColor();
    Refresh();
    Q_EMIT PropertyChanged(QStringLiteral("ForeColor"));
    Q_EMIT ForeColorChanged();
    return true;
}

void Command::setEnabled(bool New_Enabled) {
    if (New_Enabled == Enabled()) return;
    // The host hears of the change before the button shows it.
    m_settingEnabled = true;
    QWidget::setEnabled(New_Enabled);
    m_settingEnabled = false;
    const QPointer<Command> self(this);
    Q_EMIT PropertyChanged(QStringLiteral("Enabled"));
    if (!self) return;
    Q_EMIT EnabledChanged();
    if (!self) return;
    Refresh();
}

void Command::setCaption(const QString& New_Caption) {
    if (New_Caption == m_caption) return;
    m_caption = New_Caption;
    Refresh();
    Q_EMIT PropertyChanged(QStringLiteral("Caption"));
    Q_EMIT CaptionChanged();
}

void Command::setStatus(bool NewStatus) {
    if (NewStatus == m_model.Status) return;
    m_model.Status = NewStatus;
    Refresh();
}

void Command::setCheck(bool NewCheck) {
    if (NewCheck == m_model.Check) return;
    m_model.Check = NewCheck;
    UserControl_Resize();
}

void Command::Refresh() {
    PrintB(m_model.DrawCode());
}

void Command::PrintB(double vv) {
    // A visible button gets its resize event right here and redraws its current look at the new
    // size; clearing after that keeps that look from showing through a draw without a frame.
    resize(FrameSize());
    ClearSurface();
    const double code = Enabled() ? vv : 0;
    PaintFrame(ToCode(code));
    SetText(m_caption, code);
    Present();
}

void Command::ClearSurface() {
    const qreal ratio = devicePixelRatioF();
    const QSize size = FrameSize();
    m_surface =
        QImage(QSize(qCeil(size.width() * ratio), qCeil(size.height() * ratio)), QImage::Format_RGB32);
    m_surface.setDevicePixelRatio(ratio);
    // The caption's point size must come out as on the screen, not at the image's own 96 dpi.
    m_surface.setDotsPerMeterX(qRound(logicalDpiX() / 0.0254));
    m_surface.setDotsPerMeterY(qRound(logicalDpiY() / 0.0254));
    m_surface.fill(QColor::fromRgb(BackgroundColor));
}

void Command::PaintFrame(std::int32_t code) {
    const int frame = FrameForCode(code, Frames());
    if (frame < 0 || m_picture.isNull()) return;
    ClearSurface();
    // Frames are cut on whole source pixels and copied one source pixel to one logical pixel,
    // so a scaled screen gets sharp blocks rather than a blurred frame.
    const QSize size = FrameSize();
    const int sourceX = qRound(double(frame) * m_picture.width() / Frames());
    const QRect source = QRect(sourceX, 0, size.width(), size.height()).intersected(m_picture.rect());
    QPainter painter(&m_surface);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(QRect(QPoint(0, 0), source.size()), m_picture, source);
}

void Command::SetText(const QString& Caption, double s) {
    if (m_surface.isNull()) return;
    const QFontMetricsF metrics(font(), &m_surface);
    QPointF position(0, 0);
    const bool hasLook = s == 1 || s == 2 || s == 3 || s == 4 || s == 5 || s == 0;
    if (hasLook) {
        m_textColor = Enabled() ? QColor(Qt::black) : QColor::fromRgb(DisabledTextColor);
        const QSizeF surface = m_surface.deviceIndependentSize();
        position = QPointF(qRound((surface.width() - metrics.horizontalAdvance(Caption)) / 2),
                           qRound((surface.height() - metrics.height()) / 2));
        if (s == 3) position += QPointF(PressedDx, PressedDy);
    }
    if (Caption.isEmpty()) return;
    QPainter painter(&m_surface);
    painter.setFont(font());
    painter.setPen(m_textColor);
    painter.drawText(position + QPointF(0, metrics.ascent()), Caption);
}

void Command::Present() {
    update();
}

void Command::UserControl_Resize() {
    resize(FrameSize());
    Refresh();
}

void Command::AccessKeyPress(int KeyAscii) {
    Run(m_model.AccessKey(KeyAscii, Enabled()));
}

void Command::Run(const CommandSteps& steps) {
    if (m_model.OverTimer != m_overTimer.isActive()) {
        if (m_model.OverTimer)
            m_overTimer.start();
        else
            m_overTimer.stop();
    }
    // A handler may delete the button; nothing runs on a dead one.
    const QPointer<Command> self(this);
    for (const CommandStep& step : steps) {
        if (!self) return;
        switch (step.kind) {
        case CommandStep::Kind::Redraw:
            PrintB(step.code);
            break;
        case CommandStep::Kind::Raise:
            Raise(step);
            break;
        case CommandStep::Kind::Capture:
            grabMouse();
            m_captured = true;
            break;
        }
    }
}

void Command::Raise(const CommandStep& step) {
    switch (step.event) {
    case CommandEvent::Click:
        Q_EMIT Click();
        break;
    case CommandEvent::MouseDown:
        Q_EMIT MouseDown(step.Button, step.Shift, step.X, step.Y);
        break;
    case CommandEvent::MouseMove:
        Q_EMIT MouseMove(step.Button, step.Shift, step.X, step.Y);
        break;
    case CommandEvent::MouseUp:
        Q_EMIT MouseUp(step.Button, step.Shift, step.X, step.Y);
        break;
    case CommandEvent::MouseIn:
        Q_EMIT MouseIn(step.Shift);
        break;
    case CommandEvent::MouseOut:
        Q_EMIT MouseOut(step.Shift);
        break;
    case CommandEvent::KeyDown:
        Q_EMIT KeyDown(step.Key, step.Shift);
        break;
    case CommandEvent::KeyPress:
        Q_EMIT KeyPress(step.Key);
        break;
    case CommandEvent::KeyUp:
        Q_EMIT KeyUp(step.Key, step.Shift);
        break;
    }
}

bool Command::PointerOverMe() const {
    // A disabled window is never the one under the pointer.
    return QApplication::widgetAt(QCursor::pos()) == this && isEnabled();
}

void Command::OverTimerTick() {
    Run(m_model.Tick(PointerOverMe()));
}

void Command::paintEvent(QPaintEvent*) {
    // Moved to a screen of another pixel ratio: compose the image again at the new resolution.
    if (!qFuzzyCompare(m_surface.devicePixelRatio(), devicePixelRatioF())) PrintB(m_model.DrawCode());
    QPainter painter(this);
    painter.fillRect(rect(), QColor::fromRgb(BackgroundColor));
    painter.drawImage(QPoint(0, 0), m_surface);
}

void Command::resizeEvent(QResizeEvent*) {
    if (size() == FrameSize()) {
        Refresh();
        return;
    }
    UserControl_Resize();
}

void Command::mousePressEvent(QMouseEvent* event) {
    // The second press of a double click is the double-click event that follows it: that one
    // repeats the first press, so this press is not a press of its own.
    if (event->flags() & Qt::MouseEventCreatedDoubleClick) return;
    const QPointF p = event->position();
    Run(m_model.Press(ButtonBits(event->button()), ShiftBits(event->modifiers()), float(p.x()),
                      float(p.y())));
}

void Command::mouseMoveEvent(QMouseEvent* event) {
    const QPointF p = event->position();
    Run(m_model.Move(ButtonBits(event->buttons()), ShiftBits(event->modifiers()), float(p.x()), float(p.y()),
                     float(width()), float(height())));
}

void Command::mouseReleaseEvent(QMouseEvent* event) {
    const QPointF p = event->position();
    // The capture a double click took ends with the release that follows it.
    ReleaseCapture();
    Run(m_model.Release(ButtonBits(event->button()), ShiftBits(event->modifiers()), float(p.x()),
                        float(p.y()), float(width()), float(height())));
}

void Command::mouseDoubleClickEvent(QMouseEvent*) {
    Run(m_model.DoubleClick());
}

void Command::keyPressEvent(QKeyEvent* event) {
    const QPointer<Command> self(this);
    Run(m_model.KeyDown(KeyCodeOf(event->key()), ShiftBits(event->modifiers())));
    const QString text = event->text();
    if (!self || text.isEmpty()) return;
    Run(m_model.KeyPress(text.at(0).unicode()));
}

void Command::keyReleaseEvent(QKeyEvent* event) {
    // A held key repeats as release/press pairs; only the real release counts.
    if (event->isAutoRepeat()) return;
    Run(m_model.KeyUp(KeyCodeOf(event->key()), ShiftBits(event->modifiers())));
}

void Command::focusInEvent(QFocusEvent*) {
    Run(m_model.FocusEnter());
}

void Command::focusOutEvent(QFocusEvent*) {
    Run(m_model.FocusExit());
}

void Command::ReleaseCapture() {
    if (!m_captured) return;
    m_captured = false;
    releaseMouse();
}

void Command::hideEvent(QHideEvent*) {
    // A hidden or disabled button never sees the release that would end its capture, and a
    // capture left behind would take the whole window's mouse input.
    ReleaseCapture();
}

void Command::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    switch (event->type()) {
    case QEvent::EnabledChange:
        if (!isEnabled()) ReleaseCapture();
        if (!m_settingEnabled) Refresh();
        break;
    case QEvent::FontChange:
    case QEvent::PaletteChange:
        Run(m_model.AmbientChanged());
        break;
    default:
        break;
    }
}

bool Command::ReadProperties(const PropertyBag& bag, QString* error) {
    // Everything is checked before anything changes, so a bad bag leaves the button as it was.
    // A bag without "Enabled" gives a disabled button: the key is always written.
    const auto enabled = bag.ReadBool(QStringLiteral("Enabled"), false, error);
    const auto caption = bag.ReadString(QStringLiteral("Caption"), QString(), error);
    const auto picture = bag.ReadPicture(QStringLiteral("Picture"), error);
    const auto foreColor = bag.ReadColor(QStringLiteral("ForeColor"), OleColor::ButtonText, error);
    const auto status = bag.ReadBool(QStringLiteral("Status"), false, error);
    const auto check = bag.ReadBool(QStringLiteral("Check"), false, error);
    if (!enabled || !caption || !picture || !foreColor || !status || !check) return false;

    m_settingEnabled = true;
    QWidget::setEnabled(*enabled);
    m_settingEnabled = false;
    m_caption = *caption;
    setPicture(*picture);
    m_foreColor = *foreColor;
    m_textColor = ForeColor();
    m_model.Status = *status;
    m_model.Check = *check;
    UserControl_Resize();
    return true;
}

void Command::WriteProperties(PropertyBag& bag) const {
    if (!m_picture.isNull()) bag.WriteProperty(QStringLiteral("Picture"), m_picture);
    bag.WriteProperty(QStringLiteral("Caption"), m_caption, QString());
    bag.WriteProperty(QStringLiteral("ForeColor"), qlonglong(m_foreColor), qlonglong(OleColor::ButtonText));
    bag.WriteProperty(QStringLiteral("Enabled"), Enabled());
    bag.WriteProperty(QStringLiteral("Status"), m_model.Status, false);
    bag.WriteProperty(QStringLiteral("Check"), m_model.Check, false);
}
