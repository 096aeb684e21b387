#include "controls/command.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>

void PrintTo(const QColor& color, std::ostream* os) {
    *os << color.name().toStdString();
}

namespace {

const QColor FrameColors[] = {Qt::red, Qt::green, Qt::blue, Qt::yellow, Qt::magenta, Qt::cyan};
const QColor Background = QColor::fromRgb(Command::BackgroundColor);

// A strip of `frames` solid frames, cut where the button cuts them.
QImage SolidStrip(int width, int height, int frames) {
    QImage strip(width, height, QImage::Format_RGB32);
    QPainter p(&strip);
    for (int k = 0; k < frames; ++k) {
        const int x = qRound(double(k) * width / frames);
        p.fillRect(QRect(x, 0, width - x, height), FrameColors[k]);
    }
    return strip;
}

// The pixels of the shown image that differ from the colour of its top-left corner: the caption.
QRect CaptionBox(const QImage& image) {
    const QRgb plain = image.pixel(0, 0);
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != plain) box |= QRect(x, y, 1, 1);
    return box;
}

bool HasPixel(const QImage& image, QColor color) {
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y) == color) return true;
    return false;
}

class CommandWidget : public testing::Test {
protected:
    void SetUp() override {
        host = std::make_unique<QWidget>();
        host->resize(300, 100);
        host->move(40, 40);
        button = new Command(host.get());
        button->move(10, 10);
        button->setPicture(SolidStrip(400, 27, 4));
        host->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(host.get()));
        QCursor::setPos(host->mapToGlobal(QPoint(250, 90)));
    }

    QImage Shown() const { return button->grab().toImage().convertToFormat(QImage::Format_RGB32); }
    QColor ShownFrame() const { return Shown().pixelColor(1, 1); }
    QPoint Center() const { return button->rect().center(); }

    std::unique_ptr<QWidget> host;
    Command* button = nullptr;
};

TEST_F(CommandWidget, IsOneFrameLarge) {
    EXPECT_EQ(button->size(), QSize(100, 27));
    button->setCheck(true);
    EXPECT_EQ(button->size(), QSize(67, 27)); // 400 / 6 = 66.67, rounded
    button->setCheck(false);
    button->setPicture(SolidStrip(71, 18, 4));
    EXPECT_EQ(button->size(), QSize(18, 18)); // 71 / 4 = 17.75, rounded
    button->resize(200, 50);
    EXPECT_EQ(button->size(), QSize(18, 18));
    EXPECT_EQ(Shown().size(), QSize(18, 18));
}

struct LookCase {
    const char* name;
    bool check;
    std::function<void(Command&)> arrange;
    QColor expected;
};

class CommandLooks : public CommandWidget, public testing::WithParamInterface<LookCase> {};

TEST_P(CommandLooks, ShowTheirFrame) {
    const LookCase& c = GetParam();
    button->setCheck(c.check);
    if (c.check) button->setPicture(SolidStrip(400, 27, 6));
    c.arrange(*button);
    EXPECT_EQ(ShownFrame(), c.expected);
}

void Hover(Command& b) {
    QTest::mouseMove(&b, b.rect().center());
}
void Press(Command& b) {
    QTest::mousePress(&b, Qt::LeftButton, {}, b.rect().center());
}

const LookCase Looks[] = {
    {"Normal", false, [](Command&) {}, Qt::red},
    {"Hover", false, Hover, Qt::green},
    {"Pressed", false, Press, Qt::blue},
    {"Disabled", false, [](Command& b) { b.setEnabled(false); }, Qt::yellow},
    {"DisabledWinsOverPressed", false,
     [](Command& b) {
         Press(b);
         b.setEnabled(false);
     },
     Qt::yellow},
    {"OnIdle", false, [](Command& b) { b.setStatus(true); }, Qt::yellow},
    {"OnHoverFourFrames", false,
     [](Command& b) {
         b.setStatus(true);
         Hover(b);
     },
     Qt::green},
    {"OnPressedFourFramesHasNoFrame", false,
     [](Command& b) {
         b.setStatus(true);
         Press(b);
     },
     Background},
    {"OnHoverSixFrames", true,
     [](Command& b) {
         b.setStatus(true);
         Hover(b);
     },
     Qt::magenta},
    {"OnPressedSixFrames", true,
     [](Command& b) {
         b.setStatus(true);
         Press(b);
     },
     Qt::cyan},
    {"RightButtonKeepsNormal", false,
     [](Command& b) { QTest::mousePress(&b, Qt::RightButton, {}, b.rect().center()); }, Qt::red},
    {"UnknownDrawCodeHasNoFrame", false, [](Command& b) { b.PrintB(7); }, Background},
    {"FractionalDrawCodeRoundsForTheFrame", false, [](Command& b) { b.PrintB(1.6); }, Qt::green},
};

INSTANTIATE_TEST_SUITE_P(Frames, CommandLooks, testing::ValuesIn(Looks),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CommandWidget, CutsSixFramesAtSixthsOfTheStrip) {
    button->setPicture(SolidStrip(400, 27, 6));
    button->setCheck(true);
    button->setEnabled(false);
    // Frame 3 of six starts at 200: its first column is frame 3's colour, not frame 2's.
    const QImage shown = Shown();
    EXPECT_EQ(shown.pixelColor(0, 5), Qt::yellow);
    EXPECT_EQ(shown.pixelColor(shown.width() - 1, 5), Qt::yellow);
}

TEST_F(CommandWidget, CaptionIsBlackOrGrey) {
    QImage white(400, 27, QImage::Format_RGB32);
    white.fill(Qt::white);
    button->setPicture(white);
    button->setCaption(QStringLiteral("MMWW"));
    EXPECT_TRUE(HasPixel(Shown(), Qt::black));
    button->setEnabled(false);
    const QImage disabled = Shown();
    EXPECT_TRUE(HasPixel(disabled, QColor::fromRgb(Command::DisabledTextColor)));
    EXPECT_FALSE(HasPixel(disabled, Qt::black));
}

TEST_F(CommandWidget, PressedCaptionMovesOnePixelRightAndDown) {
    QImage white(400, 27, QImage::Format_RGB32);
    white.fill(Qt::white);
    button->setPicture(white);
    button->setCaption(QStringLiteral("开始查询"));
    const QRect normal = CaptionBox(Shown());
    ASSERT_FALSE(normal.isEmpty());
    // Centred: equal margins left and right, give or take the rounding of one pixel.
    EXPECT_LE(qAbs(normal.left() - (button->width() - 1 - normal.right())), 2);
    Press(*button);
    EXPECT_EQ(CaptionBox(Shown()), normal.translated(1, 1));
    QTest::mouseRelease(button, Qt::LeftButton, {}, Center());
    EXPECT_EQ(CaptionBox(Shown()), normal);
}

TEST_F(CommandWidget, EmptyCaptionShowsTheFrameAlone) {
    EXPECT_TRUE(CaptionBox(Shown()).isEmpty());
}

TEST_F(CommandWidget, UnknownDrawCodePrintsTheCaptionTopLeft) {
    button->setCaption(QStringLiteral("MM"));
    button->PrintB(7);
    const QRect caption = CaptionBox(Shown());
    ASSERT_FALSE(caption.isEmpty());
    EXPECT_LE(caption.left(), 2);
    EXPECT_LE(caption.top(), 4);
    EXPECT_LT(caption.right(), button->width() / 2);
}

TEST_F(CommandWidget, EnabledSignalsBeforeTheRedrawOthersAfter) {
    // Without the focus: a focused button that is disabled loses the focus and redraws for that.
    button->clearFocus();
    QStringList seen;
    QObject::connect(button, &Command::PropertyChanged, button, [&](const QString& name) {
        const QColor frame = button->Surface().pixelColor(1, 1);
        const bool captioned = !CaptionBox(button->Surface()).isEmpty();
        seen << QStringLiteral("%1:%2:%3").arg(name, frame.name()).arg(captioned);
    });
    button->setEnabled(false);
    button->setCaption(QStringLiteral("MM"));
    button->setForeColor(Qt::red);
    EXPECT_EQ(seen, QStringList({QStringLiteral("Enabled:#ff0000:0"), QStringLiteral("Caption:#ffff00:1"),
                                 QStringLiteral("ForeColor:#ffff00:1")}));
    EXPECT_EQ(button->ForeColor(), QColor(Qt::red));
    button->setEnabled(false); // no change: nothing to tell
    EXPECT_EQ(seen.size(), 3);
}

TEST_F(CommandWidget, ClickComesFromReleasesInsideOnly) {
    QSignalSpy clicks(button, &Command::Click);
    QSignalSpy ups(button, &Command::MouseUp);
    QTest::mouseClick(button, Qt::LeftButton, {}, Center());
    QTest::mouseClick(button, Qt::RightButton, {}, Center());
    QTest::mousePress(button, Qt::LeftButton, {}, Center());
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(button->width(), 5));
    EXPECT_EQ(clicks.count(), 1);
    EXPECT_EQ(ups.count(), 3);
}

TEST_F(CommandWidget, DoubleClickGivesTwoPressesAndTwoClicks) {
    QSignalSpy downs(button, &Command::MouseDown);
    QSignalSpy clicks(button, &Command::Click);
    // Through the platform, as a real double click arrives: press, release, press, release.
    QWindow* window = host->windowHandle();
    const QPoint at = button->mapTo(host.get(), QPoint(20, 7));
    QTest::mouseDClick(window, Qt::LeftButton, {}, at);
    EXPECT_EQ(downs.count(), 2);
    EXPECT_EQ(clicks.count(), 2);
    ASSERT_EQ(downs.count(), 2);
    EXPECT_EQ(downs.at(1).at(2).toFloat(), 20.f);
    EXPECT_EQ(downs.at(1).at(3).toFloat(), 7.f);
    // The capture the double click took ends with its release.
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
    EXPECT_EQ(ShownFrame(), Qt::green);
}

TEST_F(CommandWidget, HeldSpaceClicksOnceAndLooksPressedUntilReleased) {
    QSignalSpy clicks(button, &Command::Click);
    button->setFocus();
    QTest::keyPress(button, Qt::Key_Space);
    for (int i = 0; i < 3; ++i) {
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "), true);
        QApplication::sendEvent(button, &release);
        QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "), true);
        QApplication::sendEvent(button, &repeat);
    }
    EXPECT_EQ(clicks.count(), 1);
    EXPECT_EQ(ShownFrame(), Qt::blue);
    QTest::keyRelease(button, Qt::Key_Space);
    EXPECT_EQ(ShownFrame(), Qt::red);
}

TEST_F(CommandWidget, EnterClicksWithoutPressedLook) {
    QSignalSpy clicks(button, &Command::Click);
    QSignalSpy presses(button, &Command::KeyPress);
    QImage before;
    QObject::connect(button, &Command::Click, button, [&] { before = button->Surface(); });
    QTest::keyPress(button, Qt::Key_Return);
    QTest::keyRelease(button, Qt::Key_Return);
    EXPECT_EQ(clicks.count(), 1);
    EXPECT_EQ(before.pixelColor(1, 1), Qt::red);
    ASSERT_EQ(presses.count(), 1);
    EXPECT_EQ(presses.at(0).at(0).toInt(), 13);
}

TEST_F(CommandWidget, HoverEndsWhenThePointerLeaves) {
    QSignalSpy in(button, &Command::MouseIn);
    QSignalSpy out(button, &Command::MouseOut);
    QTest::mouseMove(button, Center());
    QTest::mouseMove(button, Center() + QPoint(3, 0));
    EXPECT_EQ(in.count(), 1);
    EXPECT_EQ(ShownFrame(), Qt::green);
    QCursor::setPos(host->mapToGlobal(QPoint(250, 90)));
    ASSERT_TRUE(out.wait(1000));
    EXPECT_FALSE(button->Model().IsOver);
    EXPECT_EQ(ShownFrame(), Qt::red);
    EXPECT_FALSE(button->Model().OverTimer);
    EXPECT_EQ(out.count(), 1);
}

TEST_F(CommandWidget, DisablingUnderARestingPointerEndsTheHover) {
    QSignalSpy out(button, &Command::MouseOut);
    QTest::mouseMove(button, Center());
    ASSERT_TRUE(button->Model().IsOver);
    QObject::connect(button, &Command::Click, button, [&] { button->setEnabled(false); });
    QTest::mouseClick(button, Qt::LeftButton, {}, Center());
    ASSERT_TRUE(out.wait(1000));
    EXPECT_FALSE(button->Model().IsOver);
    EXPECT_EQ(ShownFrame(), Qt::yellow);
}

TEST_F(CommandWidget, PressLeaveAndReleaseOutsideDoesNotClick) {
    QSignalSpy clicks(button, &Command::Click);
    QSignalSpy out(button, &Command::MouseOut);
    QTest::mouseMove(button, Center());
    QTest::mousePress(button, Qt::LeftButton, {}, Center());
    QCursor::setPos(host->mapToGlobal(QPoint(250, 90)));
    ASSERT_TRUE(out.wait(1000));
    EXPECT_EQ(ShownFrame(), Qt::red); // idle while away, still held
    EXPECT_TRUE(button->Model().IsDown);
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(200, 60));
    EXPECT_EQ(clicks.count(), 0);
    EXPECT_EQ(out.count(), 1);
}

} // namespace
