#pragma once

#include <QString>

class QWidget;

namespace yuming {

// The window's modal message boxes, behind one seam: a test answers the next box in advance
// and reads what it would have shown, so no test ever waits in a dialog.
class MessageBox {
public:
    enum Button { NoButton, Ok };
    enum class Icon { Information, Warning };

    struct Shown {
        QString title;
        QString text;
        Icon icon = Icon::Information;
    };

    // A box with one OK button, modal to `parent`: information says how something went, a
    // warning that it failed.
    static Button information(QWidget* parent, const QString& title, const QString& text);
    static Button warning(QWidget* parent, const QString& title, const QString& text);

    // The next box is not shown; it returns `button` at once.
    static void setNextAnswer(Button button);
    // The last box asked for, shown or answered in advance, and how many there were.
    static const Shown& lastShown();
    static int shownCount();

private:
    static Button show(QWidget* parent, const Shown& box);

    static Button s_nextAnswer;
    static Shown s_last;
    static int s_count;
};

} // namespace yuming
