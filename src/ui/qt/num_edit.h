#pragma once

#include <QLineEdit>

namespace tolvane {

// A line edit that lets the user type a whole number only: digits, signs, backspace and
// return pass; any other character is dropped with the warning beep.
class NumEdit : public QLineEdit {
public:
    using QLineEdit::QLineEdit;

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace tolvane
