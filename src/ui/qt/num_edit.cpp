#include "ui/qt/num_edit.h"

#include <QApplication>
#include <QKeyEvent>

#include "ui/model/int_edit.h"

namespace tolvane {

void NumEdit::keyPressEvent(QKeyEvent* event) {
    const QString typed = event->text();
    // Keys that type nothing (arrows, Home, Delete) are the base control's.
    if (typed.isEmpty() || (typed.size() == 1 && typed[0].unicode() < 128 &&
                            intEditAccepts(static_cast<char>(typed[0].unicode())))) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    QApplication::beep();
    event->accept();
}

}  // namespace tolvane
