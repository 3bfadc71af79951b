#include "ui/NumericEdit.h"

#include <QApplication>
#include <QKeyEvent>
#include <utility>

#include "engine/AddressEntry.h"
#include "resources/ResourceIds.h"
#include "ui/DialogServices.h"

namespace vexil {

bool NumericEdit::CheckText(const QString& text) {
    if (address::IsOctetText(text.toStdString())) {
        return true;
    }
    Beep();
    return false;
}

void NumericEdit::MoveToNext(bool selectAll, bool afterFullField) {
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
    if (auto* edit = qobject_cast<QLineEdit*>(next_.data()); edit != nullptr && selectAll) {
        edit->selectAll();
    }
    if (auto* octet = qobject_cast<NumericEdit*>(next_.data()); octet != nullptr) {
        octet->separatorGiven_ = afterFullField;
    }
}

void NumericEdit::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    const bool octet = position >= 1 && position <= 4;
    const bool modifierOnly =
        key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt || key == Qt::Key_Meta;
    if (!modifierOnly && std::exchange(separatorGiven_, false) && event->text() == ".") {
        // Typing "192.0.2.1" in one go: the "." after "192" follows the move that the full
        // field made already. Taken as that separator, it must not move on once more and
        // shift every later octet into the wrong field.
        event->accept();
        return;
    }
    if (octet) {
        switch (key) {
            case Qt::Key_Space:
                if (position <= 3) {
                    MoveToNext(true);
                }
                break;
            case Qt::Key_Left:
            case Qt::Key_Up:
                AddressEdit::keyPressEvent(event);
                if (position >= 2 && !previous_.isNull()) {
                    // Back to the previous field, with its caret behind its last character.
                    QWidget* previous = previous_.data();
                    previous->setFocus(Qt::OtherFocusReason);
                    QApplication::postEvent(
                        previous, new QKeyEvent(QEvent::KeyPress, Qt::Key_End, Qt::NoModifier));
                }
                return;
            case Qt::Key_Right:
            case Qt::Key_Down: {
                const bool atEnd = text().isEmpty() || cursorPosition() >= text().size();
                if (atEnd && position <= 3) {
                    MoveToNext(false);
                }
                if (key == Qt::Key_Down) {
                    // Down moves as Right does, as in the Windows edit control: a line edit
                    // would leave a selection in place, and the digit typed next would replace
                    // octet 4 with another print server's.
                    QKeyEvent right(QEvent::KeyPress, Qt::Key_Right, event->modifiers());
                    AddressEdit::keyPressEvent(&right);
                    event->setAccepted(right.isAccepted());
                    return;
                }
                AddressEdit::keyPressEvent(event);
                return;
            }
            default:
                break;
        }
    }
    // Characters, the backspace among them, go through the standard processing and then the
    // length and "." tests.
    const QString typed = event->text();
    const bool character =
        key == Qt::Key_Backspace || (!typed.isEmpty() && typed.front().isPrint());
    AddressEdit::keyPressEvent(event);
    if (!character) {
        return;
    }
    if (octet && text().size() == maxLength()) {
        MoveToNext(true, typed != ".");
    }
    if (typed == ".") {
        MoveToNext(true);
    }
}

void NumericEdit::mousePressEvent(QMouseEvent* event) {
    separatorGiven_ = false;
    QLineEdit::mousePressEvent(event);
}

bool NumericEdit::HoldToRange(bool rewrite) {
    const QString current = text();
    if (current.isEmpty()) {
        Beep();
        return true;
    }
    const address::HeldOctet held =
        address::HoldOctet(static_cast<std::size_t>(position - 1), current.toStdString());
    if (held.message != 0) {
        Beep();
        if (Services() != nullptr) {
            Services()->ShowMessageBox(window(), held.message, Icon::Error);
        }
    } else if (!rewrite) {
        return true;
    }
    if (const QString replacement = QString::fromStdString(held.text); replacement != text()) {
        setText(replacement);
    }
    return held.message == 0;
}

void NumericEdit::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    separatorGiven_ = false;
    // A context menu or another window taking the keyboard (the message box of a refusal among
    // them) is not the user leaving the field: checking then would refuse the same value twice.
    // The check runs when the focus really moves on, and when a download starts.
    if (event->reason() == Qt::PopupFocusReason || event->reason() == Qt::ActiveWindowFocusReason) {
        return;
    }
    HoldToRange(true);
}

void NumericEdit::contextMenuEvent(QContextMenuEvent* event) {
    // The menu takes the keyboard for a moment: a value out of range is refused first, once,
    // and the menu opens when that message has been answered.
    if (hasFocus() && !text().isEmpty()) {
        HoldToRange(false);
    }
    QLineEdit::contextMenuEvent(event);
}

}  // namespace vexil
