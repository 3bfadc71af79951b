#include "ui/AddressEdit.h"

#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QSignalBlocker>
#include <utility>

#include "ui/DialogServices.h"

namespace vexil {

namespace {

// The character a key types for the fields' rules: printable ones, the space and the backspace.
std::optional<std::u32string> TypedBy(const QKeyEvent& event) {
    if (event.key() == Qt::Key_Backspace) {
        return U"\b";
    }
    if (event.key() == Qt::Key_Space) {
        return U" ";
    }
    if (const QString text = event.text(); !text.isEmpty() && text.front().isPrint()) {
        return text.toStdU32String();
    }
    return std::nullopt;
}

// The keys that the address fields' rules tell apart; a modifier changes nothing.
constexpr std::pair<int, octet::Key> kKeys[] = {
    {Qt::Key_Shift, octet::Key::Modifier}, {Qt::Key_Control, octet::Key::Modifier},
    {Qt::Key_Alt, octet::Key::Modifier},   {Qt::Key_Meta, octet::Key::Modifier},
    {Qt::Key_Left, octet::Key::Left},      {Qt::Key_Up, octet::Key::Up},
    {Qt::Key_Right, octet::Key::Right},    {Qt::Key_Down, octet::Key::Down}};

octet::Key KeyOf(int key) {
    for (const auto& [qtKey, meaning] : kKeys) {
        if (qtKey == key) {
            return meaning;
        }
    }
    return octet::Key::Other;
}

}  // namespace

AddressEdit::AddressEdit(const AddressFieldSpec& field, bool upperCase, DialogServices& services,
                         QWidget* parent)
    : QLineEdit(parent),
      services_(services),
      id_(field.id),
      upperCase_(upperCase),
      logic_(*this, field) {
    setMaxLength(static_cast<int>(field.length));
    // Not enough on its own: Qt 6 still asks the widget whether it takes input-method text.
    setAttribute(Qt::WA_InputMethodEnabled, false);
    connect(this, &QLineEdit::textChanged, this, &AddressEdit::OnTextUpdate);
}

QVariant AddressEdit::inputMethodQuery(Qt::InputMethodQuery query) const {
    if (query == Qt::ImEnabled) {
        return false;
    }
    return QLineEdit::inputMethodQuery(query);
}

octet::Selection AddressEdit::Selected() const {
    const int selected = static_cast<int>(selectedText().size());
    return selected > 0 ? octet::Selection{selectionStart(), selectionStart() + selected}
                        : octet::Selection{cursorPosition(), cursorPosition()};
}

void AddressEdit::Select(const octet::Selection& selection) {
    if (selection.end > selection.start) {
        setSelection(selection.start, selection.end - selection.start);
    } else {
        setCursorPosition(selection.start);
    }
}

void AddressEdit::Beep() {
    services_.Beep();
}

void AddressEdit::ShowError(int stringId) {
    services_.ShowMessageBox(window(), stringId, Icon::Error);
}

AddressFieldLogic* AddressEdit::GiveFocusTo(int id) {
    for (AddressEdit* field : window()->findChildren<AddressEdit*>()) {
        if (field->id_ == id && field->isEnabled()) {
            field->setFocus(Qt::OtherFocusReason);
            return &field->logic_;
        }
    }
    return nullptr;
}

void AddressEdit::keyPressEvent(QKeyEvent* event) {
    const std::optional<std::u32string> typed = TypedBy(*event);
    const bool taken = logic_.OnKey(
        typed ? octet::Event{octet::Typed{*typed}} : octet::KeyDown{KeyOf(event->key())},
        [&](bool asRight) {
            if (asRight && event->key() != Qt::Key_Right) {
                // Down moves as Right does, as in the Windows edit control: a line edit would
                // leave a selection in place, and the digit typed next would replace octet 4
                // with another print server's.
                QKeyEvent right(QEvent::KeyPress, Qt::Key_Right, event->modifiers());
                QLineEdit::keyPressEvent(&right);
                event->setAccepted(right.isAccepted());
            } else {
                QLineEdit::keyPressEvent(event);
            }
        });
    if (!taken) {
        event->accept();
    }
}

void AddressEdit::inputMethodEvent(QInputMethodEvent* event) {
    // Nothing an input method composes or commits reaches the text.
    if (!event->commitString().isEmpty()) {
        services_.Beep();
    }
    event->accept();
}

void AddressEdit::mousePressEvent(QMouseEvent* event) {
    logic_.OnClicked();
    QLineEdit::mousePressEvent(event);
}

void AddressEdit::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    // A context menu or another window taking the keyboard (the message box of a refusal among
    // them) is not the user leaving the field. The check runs when the focus really moves on,
    // and when a download starts.
    const Qt::FocusReason reason = event->reason();
    logic_.OnFocusLost(reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason);
}

void AddressEdit::contextMenuEvent(QContextMenuEvent* event) {
    logic_.OnContextMenu(hasFocus());
    QLineEdit::contextMenuEvent(event);
}

void AddressEdit::OnTextUpdate() {
    // The hexadecimal fields take letters in upper case, typed or pasted: a typed a arrives as A.
    if (upperCase_) {
        QString upper = text();
        for (QChar& c : upper) {
            if (c >= 'a' && c <= 'z') {
                c = c.toUpper();
            }
        }
        if (upper != text()) {
            const QSignalBlocker quiet(this);
            const int cursor = cursorPosition();
            setText(upper);
            setCursorPosition(cursor);
        }
    }
    logic_.OnTextChanged();
}

}  // namespace vexil
