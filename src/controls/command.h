#pragma once

#include "controls/command_model.h"

#include <QColor>
#include <QImage>
#include <QSize>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <cstdint>

class PropertyBag;

// The program's own push button: shows one frame cut from a skin strip (Picture), prints its
// Caption centred on it and tracks hover, press and focus itself. It is always exactly one frame
// large: a strip of W x H pixels gives a button of W/4 x H (W/6 x H when Check is set), rounded to
// whole pixels. Event positions are in the button's pixels.
//
// ForeColor is kept and saved as the host sets it. Captions are drawn black, or grey while
// disabled, whatever it is; a draw code without a look of its own prints in the colour of the
// last caption.
class Command : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QImage Picture READ Picture WRITE setPicture NOTIFY PictureChanged)
    Q_PROPERTY(QColor ForeColor READ ForeColor WRITE setForeColor NOTIFY ForeColorChanged)
    Q_PROPERTY(bool Enabled READ Enabled WRITE setEnabled NOTIFY EnabledChanged)
    Q_PROPERTY(QString Caption READ Caption WRITE setCaption NOTIFY CaptionChanged)
    Q_PROPERTY(bool Status READ Status WRITE setStatus)
    Q_PROPERTY(bool Check READ Check WRITE setCheck)

public:
    explicit Command(QWidget* parent = nullptr);

    QImage Picture() const { return m_picture; }
    QColor ForeColor() const;
    std::uint32_t ForeColorValue() const { return m_foreColor; }
    bool Enabled() const;
    QString Caption() const { return m_caption; }
    bool Status() const { return m_model.Status; }
    bool Check() const { return m_model.Check; }

    void setPicture(const QImage& New_Picture);
    void setForeColor(const QColor& New_ForeColor);
    // 0x00BBGGRR or 0x800000nn (system colour nn); an invalid value is refused.
    bool setForeColorValue(std::uint32_t New_ForeColor);
    void setCaption(const QString& New_Caption);
    void setStatus(bool NewStatus);
    void setCheck(bool NewCheck);

    // Redraws the current look.
    void Refresh();
    // Sizes the button to one frame and draws the look of draw code vv (any number; codes
    // other than 0 to 5 draw no frame).
    void PrintB(double vv);
    // Colours, places and prints the caption for draw code s onto the current image.
    void SetText(const QString& Caption, double s);
    // Sizes the button to one frame and redraws.
    void UserControl_Resize();
    // A default or cancel key press handed over by the host.
    void AccessKeyPress(int KeyAscii);

    // Fails, leaving the button untouched, when a stored value has the wrong type.
    bool ReadProperties(const PropertyBag& bag, QString* error = nullptr);
    void WriteProperties(PropertyBag& bag) const;

    const CommandModel& Model() const { return m_model; }
    // The composed image the button shows (device pixels, with the screen's pixel ratio).
    QImage Surface() const { return m_surface; }
    // One frame of the current strip, in logical pixels.
    QSize FrameSize() const;

    // The grey of a disabled caption and the background where no frame is drawn.
    static constexpr QRgb DisabledTextColor = 0xFF838283;
    static constexpr QRgb BackgroundColor = 0xFFD7D7D7;
    static constexpr int HoverInterval = 10;

public Q_SLOTS:
    void setEnabled(bool New_Enabled);

Q_SIGNALS:
    void Click();
    void MouseDown(short Button, short Shift, float X, float Y);
    void MouseMove(short Button, short Shift, float X, float Y);
    void MouseUp(short Button, short Shift, float X, float Y);
    void MouseIn(short Shift);
    void MouseOut(short Shift);
    void KeyDown(int KeyCode, short Shift);
    void KeyPress(int KeyAscii);
    void KeyUp(int KeyCode, short Shift);
    void PropertyChanged(const QString& name);
    void PictureChanged();
    void ForeColorChanged();
    void EnabledChanged();
    void CaptionChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void Run(const CommandSteps& steps);
    void Raise(const CommandStep& step);
    void OverTimerTick();
    void ReleaseCapture();
    bool PointerOverMe() const;
    void ClearSurface();
    void PaintFrame(std::int32_t code);
    void Present();
    int Frames() const { return m_model.Check ? 6 : 4; }

    CommandModel m_model;
    QImage m_picture;
    // Size of the strip; without a picture it keeps its last size (70 x 13 at creation).
    QSize m_holderSize{70, 13};
    std::uint32_t m_foreColor;
    // The colour the last caption was printed in; codes without a look print in it again.
    QColor m_textColor;
    QString m_caption;
    QImage m_surface;
    QTimer m_overTimer;
    bool m_captured = false;
    bool m_settingEnabled = false;
};
