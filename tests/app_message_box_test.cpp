#include "app/message_box.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

// The real boxes, shown offscreen and answered as soon as they are up: what they say, in Chinese,
// and the icon that tells a failure from news.
TEST(MessageBox, TheBoxesAnswerInChineseWithTheirIcons) {
    using Show = yuming::MessageBox::Button (*)(QWidget*, const QString&, const QString&);
    const struct {
        Show show;
        QMessageBox::Icon icon;
        yuming::MessageBox::Icon recorded;
    } cases[] = {
        {&yuming::MessageBox::information, QMessageBox::Information, yuming::MessageBox::Icon::Information},
        {&yuming::MessageBox::warning, QMessageBox::Warning, yuming::MessageBox::Icon::Warning},
    };
    for (const auto& c : cases) {
        QString button;
        QString title;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            answer.stop();
            title = box->windowTitle();
            icon = box->icon();
            button = box->button(QMessageBox::Ok)->text();
            box->button(QMessageBox::Ok)->click();
        });
        answer.start(10);
        const int before = yuming::MessageBox::shownCount();

        EXPECT_EQ(c.show(nullptr, QStringLiteral("提示"), QStringLiteral("请输入域名")),
                  yuming::MessageBox::Ok);
        EXPECT_EQ(button, QStringLiteral("确定"));
        EXPECT_EQ(title, QStringLiteral("提示"));
        EXPECT_EQ(icon, c.icon);
        EXPECT_EQ(yuming::MessageBox::shownCount(), before + 1);
        EXPECT_EQ(yuming::MessageBox::lastShown().text, QStringLiteral("请输入域名"));
        EXPECT_EQ(yuming::MessageBox::lastShown().icon, c.recorded);
    }
}
