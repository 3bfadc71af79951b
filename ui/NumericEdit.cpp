#include "ui/NumericEdit.h"

#include <QApplication>
#include <QKeyEvent>

namespace vexil {

void NumericEdit::Move(octet::Move move) {
    if (move == octet::Move::None) {
        return;
    }
    if (move == octet::Move::PreviousAtEnd) {
        if (!previous_.isNull()) {
            // The caret behind the last character, as the End key puts it.
            previous_->setFocus(Qt::OtherFocusReason);
            QApplication::postEvent(previous_.data(),
                                    new QKeyEvent(QEvent::KeyPress, Qt::Key_End, Qt::NoModifier));
        }
        return;
    }
    if (next_.isNull()) {
        return;
    }
    if (!next_->isEnabled()) {
        // A disabled control cannot hold the focus here; the field gives it up all the same,
        // and the dialog keeps the place for the next Tab.
        emit FocusStoppedAt(next_.data());
        if (hasFocus()) {
            clearFocus();
        }
        return;
    }
    next_->setFocus(Qt::OtherFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(next_.data());
        edit != nullptr && move != octet::Move::Next) {
        edit->selectAll();
    }
    if (auto* field = qobject_cast<NumericEdit*>(next_.data()); field != nullptr) {
        field->separatorGiven_ = move == octet::Move::NextAfterFull;
    }
}

}  // namespace vexil
