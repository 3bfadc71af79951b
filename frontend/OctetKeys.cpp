#include "frontend/OctetKeys.h"

#include "frontend/AddressEntry.h"

namespace vexil::octet {

namespace {

// The octet rules read single-byte text; a character past ASCII stands as a byte that no octet
// takes, so the text is refused as it would be character by character.
std::string Narrow(const std::u32string& text) {
    std::string narrow;
    for (const char32_t c : text) {
        narrow += static_cast<char>(c < 0x80 ? c : 0x80);
    }
    return narrow;
}

bool IsOctet(const Field& field) {
    return field.position >= 1 && field.position <= static_cast<int>(address::kOctets);
}

Answer OnKey(const Field& field, Key key, Answer answer) {
    // A key that types a character is judged by that character; a modifier changes nothing; any
    // other key means the user has moved on from the automatic move.
    if (key == Key::Modifier || key == Key::Character) {
        return answer;
    }
    answer.separatorGiven = false;
    if (!IsOctet(field)) {
        return answer;
    }
    switch (key) {
        case Key::Left:
        case Key::Up:
            // Back from anywhere in the text, once the key has moved the caret.
            if (field.position >= 2) {
                answer.after = Move::PreviousAtEnd;
            }
            break;
        case Key::Right:
        case Key::Down: {
            // On only from behind the last character, and never from octet 4: there the caret
            // goes behind the text, so that a digit typed next is added, not typed over it.
            const bool atEnd = field.caret >= static_cast<int>(field.text.size());
            if (atEnd && field.position <= 3) {
                answer.before = Move::Next;
            }
            answer.edit = Edit::Right;
            break;
        }
        default:
            break;
    }
    return answer;
}

Answer OnTyped(const Field& field, const std::u32string& typed, Answer answer) {
    answer.separatorGiven = false;
    if (field.separatorGiven && typed == U".") {
        // Typing "192.0.2.1" in one go: the "." after "192" follows the move that the full field
        // made already. Taken as that separator, it must not move on once more and shift every
        // later octet into the wrong field.
        answer.edit = Edit::None;
    } else if (IsOctet(field) && typed == U" " && field.position <= 3) {
        answer.before = Move::NextSelected;
    }
    return answer;
}

// After the toolkit has taken a character: any character, backspace included, that leaves the
// field full moves on (a fourth digit too, which the field refused), and so does a ".", which
// stays in the text until the field is left.
Answer OnEdited(const Field& field, const std::u32string& typed, Answer answer) {
    const bool character = !typed.empty() && (typed.front() == U'\b' || typed.front() >= U' ');
    if (!IsOctet(field) || !character) {
        return answer;
    }
    if (field.text.size() == address::kOctetLength) {
        answer.after = typed == U"." ? Move::NextSelected : Move::NextAfterFull;
    } else if (typed == U".") {
        answer.after = Move::NextSelected;
    }
    return answer;
}

Answer OnTextChanged(const Field& field, const TextChanged& change, Answer answer) {
    answer.accepted = IsOctet(field) ? address::IsOctetText(Narrow(field.text))
                                     : address::IsHexFieldText(field.text);
    if (!answer.accepted) {
        answer.beep = true;
        answer.text = change.lastAccepted;
        answer.selection = change.beforeKey;
    }
    return answer;
}

// The check that leaving an octet field makes: a beep for an empty field; a beep, message 119 or
// 118 and the bound written back for a value out of range; otherwise the value written as a
// whole number (when `rewrite`). `accepted` is false when the value was out of range.
Answer HoldToRange(const Field& field, bool rewrite, Answer answer) {
    if (!IsOctet(field)) {
        return answer;
    }
    if (field.text.empty()) {
        answer.beep = true;
        return answer;
    }
    const std::string text = Narrow(field.text);
    const address::HeldOctet held =
        address::HoldOctet(static_cast<std::size_t>(field.position - 1), text);
    if (held.message != 0) {
        answer.beep = true;
        answer.message = held.message;
    } else if (!rewrite) {
        return answer;
    }
    if (held.text != text) {
        answer.text = std::u32string(held.text.begin(), held.text.end());
    }
    answer.accepted = held.message == 0;
    return answer;
}

}  // namespace

Answer Decide(const Field& field, const Event& event) {
    Answer answer;
    answer.separatorGiven = field.separatorGiven;
    if (const auto* key = std::get_if<KeyDown>(&event)) {
        return OnKey(field, key->key, answer);
    }
    if (const auto* typed = std::get_if<Typed>(&event)) {
        return OnTyped(field, typed->text, answer);
    }
    if (const auto* edited = std::get_if<Edited>(&event)) {
        return OnEdited(field, edited->text, answer);
    }
    if (const auto* change = std::get_if<TextChanged>(&event)) {
        return OnTextChanged(field, *change, answer);
    }
    if (std::holds_alternative<Clicked>(event)) {
        answer.separatorGiven = false;
        return answer;
    }
    if (const auto* lost = std::get_if<FocusLost>(&event)) {
        answer.separatorGiven = false;
        return lost->withinWindow ? HoldToRange(field, true, answer) : answer;
    }
    if (const auto* menu = std::get_if<ContextMenu>(&event)) {
        // The menu takes the keyboard for a moment: a value out of range is refused first, once,
        // and the menu opens when that message has been answered.
        return menu->hasFocus && !field.text.empty() ? HoldToRange(field, false, answer) : answer;
    }
    return HoldToRange(field, std::get<Leave>(event).rewrite, answer);
}

}  // namespace vexil::octet
