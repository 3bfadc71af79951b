#include "frontend/AddressFieldLogic.h"

#include <utility>

namespace vexil {

octet::Answer AddressFieldLogic::Ask(const octet::Event& event) {
    const octet::Answer answer =
        octet::Decide({field_.position, view_.FieldText(), view_.Caret(), separatorGiven_}, event);
    separatorGiven_ = answer.separatorGiven;
    return answer;
}

void AddressFieldLogic::Show(const octet::Answer& answer) {
    if (answer.beep) {
        view_.Beep();
    }
    if (answer.message != 0) {
        view_.ShowError(answer.message);
    }
    if (answer.text) {
        const bool updating = std::exchange(updating_, true);
        view_.SetFieldText(*answer.text);
        lastAccepted_ = view_.FieldText();
        updating_ = updating;
    }
    if (answer.selection) {
        view_.Select(*answer.selection);
    }
}

void AddressFieldLogic::Move(octet::Move move) {
    const int id = move == octet::Move::None            ? 0
                   : move == octet::Move::PreviousAtEnd ? field_.previous
                                                        : field_.next;
    if (id == 0) {
        return;
    }
    AddressFieldLogic* to = view_.GiveFocusTo(id);
    if (to == nullptr) {
        return;
    }
    // Back: the caret behind the last character, as the End key puts it. On by an arrow: the
    // caret at the start, nothing selected. On from a full field, a "." or Space: the whole text
    // selected, so that what is typed next replaces it.
    const int end = static_cast<int>(to->view_.FieldText().size());
    switch (move) {
        case octet::Move::PreviousAtEnd:
            to->view_.Select({end, end});
            return;
        case octet::Move::Next:
            to->view_.Select({0, 0});
            break;
        default:
            to->view_.Select({0, end});
            break;
    }
    to->separatorGiven_ = move == octet::Move::NextAfterFull;
}

bool AddressFieldLogic::OnKey(const octet::Event& event,
                              const std::function<void(bool asRight)>& edit) {
    const octet::Answer answer = Ask(event);
    if (answer.edit == octet::Edit::None) {
        return false;
    }
    Move(answer.before);
    Edit([&] { edit(answer.edit == octet::Edit::Right); });
    if (const auto* typed = std::get_if<octet::Typed>(&event)) {
        Move(Ask(octet::Edited{typed->text}).after);
    }
    Move(answer.after);
    return true;
}

void AddressFieldLogic::Edit(const std::function<void()>& edit) {
    beforeKey_ = view_.Selected();
    edit();
    beforeKey_.reset();
}

void AddressFieldLogic::OnTextChanged() {
    if (updating_) {
        return;
    }
    updating_ = true;
    const octet::Answer answer = Ask(octet::TextChanged{lastAccepted_, beforeKey_});
    if (answer.accepted) {
        lastAccepted_ = view_.FieldText();
    }
    Show(answer);
    updating_ = false;
}

bool AddressFieldLogic::HoldToRange(bool rewrite) {
    const octet::Answer answer = Ask(octet::Leave{rewrite});
    Show(answer);
    return answer.accepted;
}

}  // namespace vexil
