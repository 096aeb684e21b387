#include "controls/artwork.h"
#include "controls/box.h"
#include "controls/command.h"
#include "controls/ole_color.h"
#include "controls/property_bag.h"
#include "controls/stored_properties.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {

PropertyBag Parse(const QByteArray& text) {
    QString error;
    const auto bag = PropertyBag::FromText(text, &error);
    EXPECT_TRUE(bag.has_value()) << error.toStdString();
    return bag.value_or(PropertyBag());
}

PropertyBag RoundTrip(const PropertyBag& bag) {
    return Parse(bag.ToText());
}

TEST(PropertyBag, KeysIgnoreCase) {
    const PropertyBag bag = Parse("Caption = \"a\"\n");
    EXPECT_EQ(bag.ReadProperty(QStringLiteral("CAPTION")).toString(), QStringLiteral("a"));
    EXPECT_EQ(bag.Keys(), QStringList{QStringLiteral("caption")});
}

TEST(PropertyBag, TextSurvivesTheRoundTrip) {
    PropertyBag bag;
    const QString awkward = QStringLiteral("获取 \"全部\" \\ = #\n\t\r");
    bag.WriteProperty(QStringLiteral("Caption"), awkward);
    bag.WriteProperty(QStringLiteral("ForeColor"), qlonglong(0x80000012));
    bag.WriteProperty(QStringLiteral("Enabled"), false);
    QImage picture(5, 3, QImage::Format_RGB32);
    picture.fill(QColor(1, 2, 3));
    bag.WriteProperty(QStringLiteral("Picture"), picture);
    const PropertyBag back = RoundTrip(bag);
    EXPECT_EQ(back.ReadProperty(QStringLiteral("caption")).toString(), awkward);
    EXPECT_EQ(back.ReadProperty(QStringLiteral("forecolor")).toLongLong(), 0x80000012);
    EXPECT_EQ(back.ReadProperty(QStringLiteral("enabled")), QVariant(false));
    const QImage image = back.ReadProperty(QStringLiteral("picture")).value<QImage>();
    EXPECT_EQ(image.size(), QSize(5, 3));
    EXPECT_EQ(image.pixelColor(4, 2), QColor(1, 2, 3));
}

TEST(PropertyBag, AByteOrderMarkIsNoPartOfTheFirstKey) {
    EXPECT_EQ(Parse("\xEF\xBB\xBF"
                    "enabled = true\n")
                  .Keys(),
              QStringList{QStringLiteral("enabled")});
}

TEST(PropertyBag, RefusesBadTextNamingTheLine) {
    const char* bad[] = {
        "caption \"x\"",
        "caption = \"open",
        "caption = \"bad \\q escape\"",
        "forecolor = 0x100000000",
        "forecolor = -1",
        "enabled = yes",
        "picture = image \":/none.bmp\"",
        "picture = image-data \"AAAA\"",
        "a = 1\nA = 2",
        "= 1",
        "caption = \"\xff\"",
    };
    for (const char* text : bad) {
        QString error;
        EXPECT_FALSE(PropertyBag::FromText(QByteArray("# saved\n\n") + text, &error).has_value()) << text;
        EXPECT_TRUE(error.startsWith(QStringLiteral("line 3")) || error.startsWith(QStringLiteral("line 4")))
            << text << ": " << error.toStdString();
    }
}

TEST(CommandProperties, DefaultsAreNotWrittenButEnabledAlwaysIs) {
    Command button;
    PropertyBag bag;
    button.WriteProperties(bag);
    EXPECT_EQ(bag.Keys(), QStringList{QStringLiteral("enabled")});

    button.setCaption(QStringLiteral("开始查询"));
    button.setStatus(true);
    button.setCheck(true);
    button.setForeColorValue(0);
    button.setPicture(PropertyBag::LoadPicture(QString::fromLatin1(Artwork::SkinQuery)));
    PropertyBag full;
    button.WriteProperties(full);
    EXPECT_EQ(full.Keys(), QStringList({"picture", "caption", "forecolor", "enabled", "status", "check"}));
    EXPECT_TRUE(full.ToText().contains("picture = image \":/skins/query.bmp\""));
}

TEST(CommandProperties, RoundTrip) {
    Command button;
    button.setCaption(QStringLiteral("获取全部即将过期的域名"));
    button.setPicture(PropertyBag::LoadPicture(QString::fromLatin1(Artwork::SkinExpiring)));
    button.setForeColor(QColor(10, 20, 30));
    button.setStatus(true);
    button.setCheck(true);
    button.setEnabled(false);
    PropertyBag bag;
    button.WriteProperties(bag);

    Command copy;
    QString error;
    ASSERT_TRUE(copy.ReadProperties(RoundTrip(bag), &error)) << error.toStdString();
    EXPECT_EQ(copy.Caption(), button.Caption());
    EXPECT_EQ(copy.Picture().size(), QSize(564, 27));
    EXPECT_EQ(copy.ForeColor(), QColor(10, 20, 30));
    EXPECT_TRUE(copy.Status());
    EXPECT_TRUE(copy.Check());
    EXPECT_FALSE(copy.Enabled());
    EXPECT_EQ(copy.size(), QSize(94, 27));
}

TEST(CommandProperties, ABagWithoutEnabledLoadsADisabledButton) {
    Command button;
    ASSERT_TRUE(button.ReadProperties(Parse("caption = \"x\"\n")));
    EXPECT_FALSE(button.Enabled());
    EXPECT_EQ(button.ForeColorValue(), OleColor::ButtonText);
}

TEST(CommandProperties, AWronglyTypedValueChangesNothing) {
    Command button;
    button.setCaption(QStringLiteral("keep"));
    QString error;
    EXPECT_FALSE(button.ReadProperties(Parse("enabled = true\ncaption = \"new\"\nstatus = 1\n"), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("status"), Qt::CaseInsensitive)) << error.toStdString();
    EXPECT_EQ(button.Caption(), QStringLiteral("keep"));
    EXPECT_TRUE(button.Enabled());
    EXPECT_FALSE(button.ReadProperties(Parse("enabled = true\nforecolor = 0x81000000\n"), &error));
}

TEST(BoxProperties, BackAndLineColourAlwaysWrittenEnabledOnlyWhenFalse) {
    Box box;
    PropertyBag bag;
    box.WriteProperties(bag);
    EXPECT_EQ(bag.Keys(), QStringList({"backcolor", "linecolor"}));
    box.setEnabled(false);
    box.setBackColor(QColor(241, 242, 244));
    box.setLineColor(QColor(212, 213, 217));
    PropertyBag saved;
    box.WriteProperties(saved);
    EXPECT_EQ(saved.Keys(), QStringList({"enabled", "backcolor", "linecolor"}));

    Box copy;
    ASSERT_TRUE(copy.ReadProperties(RoundTrip(saved)));
    EXPECT_FALSE(copy.Enabled());
    EXPECT_EQ(copy.BackColor(), QColor(241, 242, 244));
    for (QWidget* strip : copy.Strips())
        EXPECT_EQ(strip->palette().color(QPalette::Window), QColor(212, 213, 217));
}

TEST(BoxProperties, LoadDefaultsAreWhiteAndTheContainerColour) {
    QWidget container;
    QPalette palette = container.palette();
    palette.setColor(QPalette::Window, QColor(9, 8, 7));
    container.setPalette(palette);
    Box box(&container);
    ASSERT_TRUE(box.ReadProperties(PropertyBag()));
    EXPECT_TRUE(box.Enabled());
    EXPECT_EQ(box.BackColor(), QColor(Qt::white));
    EXPECT_EQ(box.LineColor(), QColor(9, 8, 7));
}

TEST(StoredControls, TheWindowsButtonsAndPanelsRestore) {
    struct Expected {
        const char* name;
        QString caption;
        QSize size;
    };
    const Expected buttons[] = {
        {"Command1", QStringLiteral("开始查询"), {100, 27}},
        {"Command2", QStringLiteral("开始查询"), {100, 27}},
        {"Command3", QString(), {33, 14}},
        {"Command4", QString(), {33, 14}},
        {"Command5", QString(), {18, 18}},
        {"Command6", QStringLiteral("获取全部即将过期的域名"), {141, 27}},
    };
    for (const Expected& e : buttons) {
        Command button;
        QString error;
        ASSERT_TRUE(RestoreControl(button, QString::fromLatin1(e.name), &error)) << error.toStdString();
        EXPECT_EQ(button.Caption(), e.caption) << e.name;
        EXPECT_EQ(button.size(), e.size) << e.name;
        EXPECT_TRUE(button.Enabled()) << e.name;
        EXPECT_EQ(button.ForeColor(), QColor(Qt::black)) << e.name;
    }
    for (const char* name : {"Box1", "Box2", "Box3"}) {
        Box box;
        ASSERT_TRUE(RestoreControl(box, QString::fromLatin1(name)));
        EXPECT_EQ(box.BackColor(), QColor(241, 242, 244)) << name;
        EXPECT_EQ(box.LineColor(), QColor(212, 213, 217)) << name;
    }
    Command unknown;
    QString error;
    EXPECT_FALSE(RestoreControl(unknown, QStringLiteral("Command9"), &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST(Artwork, HasItsFixedSizes) {
    const std::pair<const char*, QSize> sizes[] = {
        {Artwork::SkinQuery, {400, 27}},    {Artwork::SkinExpiring, {564, 27}},
        {Artwork::SkinPrevious, {132, 14}}, {Artwork::SkinNext, {132, 14}},
        {Artwork::SkinJump, {71, 18}},      {Artwork::TitleNarrow, {272, 27}},
        {Artwork::TitleWide, {547, 27}},    {Artwork::Hand, {32, 32}},
        {Artwork::Icon16, {16, 16}},        {Artwork::Icon32, {32, 32}},
        {Artwork::Icon48, {48, 48}},
    };
    for (const auto& [path, size] : sizes) {
        const QImage image = PropertyBag::LoadPicture(QString::fromLatin1(path));
        EXPECT_EQ(image.size(), size) << path;
        if (!QByteArray(path).endsWith(".bmp")) continue;
        QFile file(QString::fromLatin1(path));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << path;
        EXPECT_EQ(file.read(30).at(28), 24) << path; // bits per pixel
    }
}

} // namespace
