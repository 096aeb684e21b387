#include "app/message_box.h"

#include <QMessageBox>
#include <QPushButton>

namespace yuming {

MessageBox::Button MessageBox::s_nextAnswer = MessageBox::NoButton;
MessageBox::Shown MessageBox::s_last;
int MessageBox::s_count = 0;

MessageBox::Button MessageBox::information(QWidget* parent, const QString& title, const QString& text) {
    return show(parent, {title, text, Icon::Information});
}

MessageBox::Button MessageBox::warning(QWidget* parent, const QString& title, const QString& text) {
    return show(parent, {title, text, Icon::Warning});
}

MessageBox::Button MessageBox::show(QWidget* parent, const Shown& shown) {
    s_last = shown;
    ++s_count;
    if (s_nextAnswer != NoButton) {
        const Button answer = s_nextAnswer;
        s_nextAnswer = NoButton;
        return answer;
    }
    const auto icon = shown.icon == Icon::Warning ? QMessageBox::Warning : QMessageBox::Information;
    QMessageBox box(icon, shown.title, shown.text, QMessageBox::Ok, parent);
    // The window speaks Chinese whether or not Qt's own translations are installed.
    box.button(QMessageBox::Ok)->setText(QStringLiteral("确定"));
    box.exec();
    return Ok;
}

void MessageBox::setNextAnswer(Button button) {
    s_nextAnswer = button;
}

const MessageBox::Shown& MessageBox::lastShown() {
    return s_last;
}

int MessageBox::shownCount() {
    return s_count;
}

} // namespace yuming
