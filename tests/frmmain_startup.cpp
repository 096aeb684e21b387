#include "frmmain_fixture.h"

#include "app/open_url.h"
#include "controls/box.h"
#include "controls/command.h"
#include "search/search_commands.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTreeWidget>

using namespace yuming;

namespace {

constexpr double kTwips = Frmmain::TwipsPerPixel;

struct Placement {
    const char* name;
    const char* container;
    int left, top, width, height; // twips; labels fit their text, so only their corner is kept
};

const Placement kPlacements[] = {
    {"Picture1", "Frmmain", 0, 0, 12735, 1695},   {"Web", "Picture1", -30, -30, 20000, 5000},
    {"Box1", "Frmmain", 120, 1800, 4080, 5535},   {"Box2", "Frmmain", 4320, 1800, 8175, 5535},
    {"Box3", "Frmmain", 4320, 1800, 8175, 5535},  {"Label23", "Frmmain", 120, 7560, 0, 0},
    {"Label21", "Frmmain", 10560, 7560, 0, 0},    {"Label22", "Frmmain", 10590, 7575, 0, 0},
    {"Picture2", "Box1", 0, 0, 4080, 405},        {"Label1", "Picture2", 120, 120, 0, 0},
    {"Text1", "Box1", 1080, 555, 2775, 270},      {"Picture3", "Box1", 1080, 960, 2775, 255},
    {"Option1_2", "Picture3", 1250, 0, 550, 255}, {"Text3", "Box1", 2280, 1275, 735, 270},
    {"Picture4", "Box1", 1080, 1643, 2655, 255},  {"Option2_1", "Picture4", 840, 0, 735, 255},
    {"Picture5", "Box1", 1080, 2040, 2775, 530},  {"Option3_4", "Picture5", 840, 270, 1575, 255},
    {"Check1_2", "Box1", 2760, 2603, 735, 255},   {"Label9", "Box1", 120, 2640, 0, 0},
    {"Command6", "Box1", 120, 3000, 2115, 405},   {"Command1", "Box1", 2400, 3000, 1500, 405},
    {"Picture6", "Box1", 0, 3600, 4080, 405},     {"Text4", "Box1", 720, 4155, 3135, 270},
    {"Check2_2", "Box1", 2880, 4560, 1095, 255},  {"Command2", "Box1", 2400, 4920, 1500, 405},
    {"Combo1", "Box1", 1080, 5880, 2775, 300},    {"Label10", "Box1", 120, 5940, 0, 0},
    {"Picture7", "Box2", 0, 0, 8205, 405},        {"ListView1", "Box2", 120, 480, 7935, 4575},
    {"Label16", "Box2", 720, 5175, 0, 0},         {"Label17", "Box2", 4080, 5175, 0, 0},
    {"Command3", "Box2", 6120, 5160, 495, 210},   {"Command4", "Box2", 6690, 5160, 495, 210},
    {"Text5", "Box2", 7250, 5130, 495, 270},      {"Command5", "Box2", 7800, 5130, 270, 270},
    {"Picture8", "Box3", 0, 0, 8205, 405},        {"Label20", "Picture8", 960, 120, 0, 0},
    {"Text6", "Box3", 120, 480, 7935, 3495},      {"Label19", "Box3", 120, 4080, 7935, 1335},
};

} // namespace

TEST_F(FrmmainTest, StartsWithItsTitleColumnsAndStoredState) {
    open();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("岚桥域名过期查询 v1.0"));
    EXPECT_EQ(window->size(), QSize(843, 524));
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);

    auto* list = child<QTreeWidget>("ListView1");
    const QStringList headers{QStringLiteral("域名"), QStringLiteral("长度"), QStringLiteral("后缀"),
                              QStringLiteral("删除时间")};
    const double widths[] = {2777.25, 1190.25, 1190.25, 1983.75};
    ASSERT_EQ(list->columnCount(), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(list->headerItem()->text(i), headers[i]);
        EXPECT_NEAR(list->columnWidth(i) * kTwips, widths[i], kTwips / 2 + 0.01) << i;
    }

    EXPECT_EQ(child<QLabel>("Label16")->text(), QStringLiteral("准备就绪..."));
    EXPECT_EQ(child<QLabel>("Label17")->text(), QStringLiteral("总共：0 页，当前 0 页"));
    EXPECT_EQ(child<QLineEdit>("Text2")->text(), QStringLiteral("0"));
    EXPECT_EQ(child<QLineEdit>("Text3")->text(), QStringLiteral("0"));
    EXPECT_TRUE(child<QRadioButton>("Option1_0")->isChecked());
    EXPECT_TRUE(child<QRadioButton>("Option2_0")->isChecked());
    EXPECT_TRUE(child<QRadioButton>("Option3_4")->isChecked());
    EXPECT_TRUE(child<QCheckBox>("Check1_0")->isChecked() && child<QCheckBox>("Check1_1")->isChecked());
    EXPECT_FALSE(child<QCheckBox>("Check1_2")->isChecked());
    EXPECT_TRUE(child<Box>("Box2")->isVisible());
    EXPECT_FALSE(child<Box>("Box3")->isVisible());
    EXPECT_EQ(child<Box>("Box1")->BackColor(), QColor(241, 242, 244));
    EXPECT_EQ(child<Box>("Box3")->LineColor(), QColor(212, 213, 217));
    EXPECT_EQ(child<QLabel>("Label19")->text().split(QStringLiteral("\n\n")).size(), 4);
}

TEST_F(FrmmainTest, EveryControlSitsWhereTheFormPutsIt) {
    open();
    for (const Placement& p : kPlacements) {
        const QWidget* control = child<QWidget>(p.name);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->parentWidget()->objectName(), QString::fromLatin1(p.container)) << p.name;
        const QRect r = control->geometry();
        EXPECT_NEAR(r.x() * kTwips, p.left, kTwips) << p.name;
        EXPECT_NEAR(r.y() * kTwips, p.top, kTwips) << p.name;
        if (p.width == 0) continue;
        EXPECT_NEAR(r.width() * kTwips, p.width, kTwips) << p.name;
        EXPECT_NEAR(r.height() * kTwips, p.height, kTwips) << p.name;
    }
    // The deletion-type choice lies below the bottom edge of its panel, out of sight.
    const QRect panel = child<Box>("Box1")->rect();
    EXPECT_FALSE(panel.intersects(child<QComboBox>("Combo1")->geometry()));
    EXPECT_FALSE(panel.intersects(child<QLabel>("Label10")->geometry()));
}

TEST_F(FrmmainTest, TabOrderRunsThroughTheControlsAsStored) {
    open();
    const QStringList order{"Text1",     "Option1_0", "Option1_1", "Option1_2", "Option1_3", "Text2",
                            "Text3",     "Option2_0", "Option2_1", "Option2_2", "Option3_0", "Option3_1",
                            "Option3_2", "Option3_3", "Option3_4", "Check1_0",  "Check1_1",  "Check1_2",
                            "Command1",  "Text4",     "Check2_0",  "Check2_1",  "Check2_2",  "Command2",
                            "ListView1", "Command3",  "Command4",  "Text5",     "Command5",  "Text6",
                            "Command6"};
    QWidget* at = child<QWidget>("Web");
    for (const QString& name : order) {
        at = at->nextInFocusChain();
        while (!(at->focusPolicy() & Qt::TabFocus) || at->objectName().startsWith(u"qt_") ||
               at->objectName().isEmpty())
            at = at->nextInFocusChain();
        EXPECT_EQ(at->objectName(), name);
    }
    // The hidden deletion-type choice keeps its place in the form but takes no key.
    EXPECT_EQ(child<QComboBox>("Combo1")->focusPolicy(), Qt::NoFocus);
}

// The 12-pixel text is drawn without antialiasing: the darkest pixel of each label's glyphs is
// exactly the label's colour, in plain and in bold headlines alike.
TEST_F(FrmmainTest, LabelsAreDrawnInTheirExactColours) {
    open();
    const struct {
        const char* name;
        QRgb colour;
    } labels[] = {{"Label16", qRgb(47, 107, 167)}, {"Label2", qRgb(0, 0, 0)}, {"Label1", qRgb(47, 91, 138)}};
    for (const auto& l : labels) {
        const QImage image = child<QLabel>(l.name)->grab().toImage();
        int darkest = 3 * 256;
        QRgb found = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QRgb p = image.pixel(x, y);
                if (qRed(p) + qGreen(p) + qBlue(p) < darkest)
                    darkest = qRed(p) + qGreen(p) + qBlue(p), found = p;
            }
        EXPECT_EQ(found & 0xFFFFFF, l.colour & 0xFFFFFF) << l.name << " " << std::hex << found;
    }
}

TEST_F(FrmmainTest, HomePageLinkOpensTheAddressOnEveryClick) {
    open();
    QStringList opened;
    const UrlOpener previous = setUrlOpener([&](QWidget* owner, const QString& address) {
        EXPECT_EQ(owner, window.get());
        opened << address;
    });
    auto* link = child<QLabel>("Label23");
    EXPECT_EQ(link->text(), QStringLiteral("官方网站：") + window->settings().homePage);
    EXPECT_EQ(child<QLabel>("Label21")->text(), window->settings().homePage);
    EXPECT_EQ(child<QLabel>("Label22")->text(), window->settings().homePage);
    QTest::mouseClick(link, Qt::LeftButton);
    QTest::mouseClick(link, Qt::LeftButton);
    setUrlOpener(previous);
    EXPECT_EQ(opened, QStringList(2, window->settings().homePage));
}
