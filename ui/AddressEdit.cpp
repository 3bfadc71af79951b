#include "ui/AddressEdit.h"

#include <QInputMethodEvent>
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

AddressEdit::AddressEdit(QWidget* parent) : QLineEdit(parent) {
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

octet::Answer AddressEdit::Ask(const octet::Event& event) {
    const octet::Answer answer = octet::Decide(
        {position, text().toStdU32String(), cursorPosition(), separatorGiven_}, event);
    separatorGiven_ = answer.separatorGiven;
    return answer;
}

void AddressEdit::Show(const octet::Answer& answer) {
    if (answer.beep && services_ != nullptr) {
        services_->Beep();
    }
    if (answer.message != 0 && services_ != nullptr) {
        services_->ShowMessageBox(window(), answer.message, Icon::Error);
    }
    if (answer.text) {
        const bool updating = std::exchange(updating_, true);
        setText(QString::fromStdU32String(*answer.text));
        lastValidText = text();
        updating_ = updating;
    }
    if (answer.selection && answer.selection->end > answer.selection->start) {
        setSelection(answer.selection->start, answer.selection->end - answer.selection->start);
    } else if (answer.selection) {
        setCursorPosition(answer.selection->start);
    }
}

void AddressEdit::keyPressEvent(QKeyEvent* event) {
    const std::optional<std::u32string> typed = TypedBy(*event);
    const octet::Answer answer =
        Ask(typed ? octet::Event{octet::Typed{*typed}} : octet::KeyDown{KeyOf(event->key())});
    if (answer.edit == octet::Edit::None) {
        event->accept();
        return;
    }
    Move(answer.before);
    const int selected = static_cast<int>(selectedText().size());
    beforeKey_ = selected > 0 ? octet::Selection{selectionStart(), selectionStart() + selected}
                              : octet::Selection{cursorPosition(), cursorPosition()};
    if (answer.edit == octet::Edit::Right && event->key() != Qt::Key_Right) {
        // Down moves as Right does, as in the Windows edit control: a line edit would leave a
        // selection in place, and the digit typed next would replace octet 4 with another
        // print server's.
        QKeyEvent right(QEvent::KeyPress, Qt::Key_Right, event->modifiers());
        QLineEdit::keyPressEvent(&right);
        event->setAccepted(right.isAccepted());
    } else {
        QLineEdit::keyPressEvent(event);
    }
    beforeKey_.reset();
    if (typed) {
        Move(Ask(octet::Edited{*typed}).after);
    }
    Move(answer.after);
}

void AddressEdit::inputMethodEvent(QInputMethodEvent* event) {
    // Nothing an input method composes or commits reaches the text.
    if (!event->commitString().isEmpty() && services_ != nullptr) {
        services_->Beep();
    }
    event->accept();
}

void AddressEdit::mousePressEvent(QMouseEvent* event) {
    Ask(octet::Clicked{});
    QLineEdit::mousePressEvent(event);
}

void AddressEdit::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    // A context menu or another window taking the keyboard (the message box of a refusal among
    // them) is not the user leaving the field. The check runs when the focus really moves on,
    // and when a download starts.
    const Qt::FocusReason reason = event->reason();
    Show(Ask(
        octet::FocusLost{reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason}));
}

void AddressEdit::contextMenuEvent(QContextMenuEvent* event) {
    Show(Ask(octet::ContextMenu{hasFocus()}));
    QLineEdit::contextMenuEvent(event);
}

bool AddressEdit::HoldToRange(bool rewrite) {
    const octet::Answer answer = Ask(octet::Leave{rewrite});
    Show(answer);
    return answer.accepted;
}

void AddressEdit::OnTextUpdate() {
    if (updating_) {
        return;
    }
    updating_ = true;
    const QString text = this->text();
    if (const QString adjusted = Adjusted(text); adjusted != text) {
        const int cursor = cursorPosition();
        setText(adjusted);
        setCursorPosition(cursor);
    }
    const octet::Answer answer =
        Ask(octet::TextChanged{lastValidText.toStdU32String(), beforeKey_});
    if (answer.accepted) {
        lastValidText = this->text();
    }
    Show(answer);
    updating_ = false;
}

}  // namespace vexil
