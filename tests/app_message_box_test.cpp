#include "app/message_box.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

// The real box, shown offscreen and answered as soon as it is up.
TEST(MessageBox, TheInformationBoxAnswersInChinese) {
    QString button;
    QString title;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        answer.stop();
        title = box->windowTitle();
        button = box->button(QMessageBox::Ok)->text();
        box->button(QMessageBox::Ok)->click();
    });
    answer.start(10);
    const int before = yuming::MessageBox::shownCount();

    EXPECT_EQ(yuming::MessageBox::information(nullptr, QStringLiteral("提示"), QStringLiteral("请输入域名")),
              yuming::MessageBox::Ok);
    EXPECT_EQ(button, QStringLiteral("确定"));
    EXPECT_EQ(title, QStringLiteral("提示"));
    EXPECT_EQ(yuming::MessageBox::shownCount(), before + 1);
    EXPECT_EQ(yuming::MessageBox::lastShown().text, QStringLiteral("请输入域名"));
}
