#include "controls/box.h"

#include <QLabel>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace {

TEST(BoxStrips, LieAlongTheEdgesOfA4800By3600TwipPanel) {
    const auto twips = BoxStripRects(QSizeF(4800, 3600), Box::StripTwips, Box::InsetTwips);
    EXPECT_EQ(twips[0], QRectF(0, 0, 15, 3600));    // left
    EXPECT_EQ(twips[1], QRectF(0, 3590, 4800, 15)); // bottom
    EXPECT_EQ(twips[2], QRectF(4790, 0, 15, 3600)); // right
    EXPECT_EQ(twips[3], QRectF(0, 0, 4800, 15));    // top

    Box box;
    box.resize(4800 / 15, 3600 / 15);
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    const auto strips = box.Strips();
    EXPECT_EQ(strips[0]->geometry(), QRect(0, 0, 1, 240));
    EXPECT_EQ(strips[1]->geometry(), QRect(0, 239, 320, 1));
    EXPECT_EQ(strips[2]->geometry(), QRect(319, 0, 1, 240));
    EXPECT_EQ(strips[3]->geometry(), QRect(0, 0, 320, 1));
}

TEST(BoxStrips, FollowEveryResize) {
    Box box;
    box.resize(100, 50);
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    box.resize(545, 369);
    EXPECT_EQ(box.Strips()[1]->geometry(), QRect(0, 368, 545, 1));
    EXPECT_EQ(box.Strips()[2]->geometry(), QRect(544, 0, 1, 369));
}

TEST(BoxColours, LineColourPaintsAllFourStripsAndShows) {
    Box box;
    box.resize(60, 40);
    QSignalSpy changed(&box, &Box::PropertyChanged);
    box.setBackColor(QColor(241, 242, 244));
    box.setLineColor(QColor(212, 213, 217));
    EXPECT_EQ(box.LineColor(), QColor(212, 213, 217));
    ASSERT_EQ(changed.count(), 2);
    EXPECT_EQ(changed.at(1).at(0).toString(), QStringLiteral("LineColor"));
    const QImage shown = box.grab().toImage();
    for (const QPoint p : {QPoint(0, 20), QPoint(30, 39), QPoint(59, 20), QPoint(30, 0)})
        EXPECT_EQ(shown.pixelColor(p), QColor(212, 213, 217)) << p.x() << "," << p.y();
    EXPECT_EQ(shown.pixelColor(30, 20), QColor(241, 242, 244));
}

TEST(BoxColours, DisablingSignalsNothing) {
    Box box;
    QSignalSpy changed(&box, &Box::PropertyChanged);
    box.setEnabled(false);
    EXPECT_FALSE(box.Enabled());
    EXPECT_EQ(changed.count(), 0);
}

class BoxOnScreen : public testing::Test {
protected:
    void SetUp() override {
        box.resize(120, 80);
        box.setLineColor(Qt::red);
        box.setBackColor(Qt::white);
        label = new QLabel(QStringLiteral("在框内"), &box);
        label->setGeometry(0, 0, 120, 30); // covers the top strip if it were below
        label->setAutoFillBackground(true);
        QPalette palette = label->palette();
        palette.setColor(QPalette::Window, Qt::blue);
        label->setPalette(palette);
        box.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    }
    Box box;
    QLabel* label = nullptr;
};

TEST_F(BoxOnScreen, StripsStayAboveControlsPlacedInside) {
    const QImage shown = box.grab().toImage();
    EXPECT_EQ(shown.pixelColor(60, 0), QColor(Qt::red));
    EXPECT_EQ(shown.pixelColor(0, 10), QColor(Qt::red));
    EXPECT_EQ(shown.pixelColor(60, 1), QColor(Qt::blue));
}

TEST_F(BoxOnScreen, MouseDownOnlyOnItsOwnSurface) {
    QSignalSpy down(&box, &Box::MouseDown);
    QTest::mousePress(&box, Qt::LeftButton, Qt::ShiftModifier, QPoint(60, 60));
    ASSERT_EQ(down.count(), 1);
    EXPECT_EQ(down.at(0).at(0).toInt(), 1);
    EXPECT_EQ(down.at(0).at(1).toInt(), 1);
    EXPECT_EQ(down.at(0).at(2).toFloat(), 60.f);
    QTest::mousePress(label, Qt::LeftButton, {}, QPoint(60, 10));
    QTest::mousePress(box.Strips()[2], Qt::LeftButton, {}, QPoint(0, 60));
    EXPECT_EQ(down.count(), 1);
}

} // namespace
