#include "controls/command.h"

#include <QTest>

#include <gtest/gtest.h>

namespace {

// Run with QT_SCALE_FACTOR=2: every source pixel of a frame becomes a sharp 2 x 2 block.
TEST(CommandHiDpi, FramesStaySharpWhenScaled) {
    QWidget host;
    auto* button = new Command(&host);
    if (button->devicePixelRatioF() != 2) GTEST_SKIP() << "needs QT_SCALE_FACTOR=2";
    QImage strip(40, 6, QImage::Format_RGB32);
    for (int y = 0; y < strip.height(); ++y)
        for (int x = 0; x < strip.width(); ++x)
            strip.setPixelColor(x, y, (x + y) % 2 ? QColor(Qt::white) : QColor(x / 10 * 60, 0, 0));
    button->setPicture(strip);
    host.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
    EXPECT_EQ(button->size(), QSize(10, 6));

    const QImage shown = button->grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shown.size(), QSize(20, 12));
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 10; ++x)
            for (const QPoint d : {QPoint(0, 0), QPoint(1, 0), QPoint(0, 1), QPoint(1, 1)})
                ASSERT_EQ(shown.pixel(2 * x + d.x(), 2 * y + d.y()), strip.pixel(x, y)) << x << "," << y;
}

} // namespace
