#include "ui/FilterEdit.h"

namespace vexil {

QString HexFieldExclusions() {
    QString set;
    for (char c = 'G'; c <= 'Z'; ++c) {
        set += QChar(c);
    }
    for (int c = 0x21; c <= 0x7E; ++c) {
        const bool punctuation =
            (c <= 0x2F) || (c >= 0x3A && c <= 0x40) || (c >= 0x5B && c <= 0x60) || (c >= 0x7B);
        if (punctuation) {
            set += QChar(c);
        }
    }
    return set;
}

bool FilterEdit::CheckText(const QString& text) {
    if (text.isEmpty() || excludedChars.isEmpty()) {
        return true;
    }
    for (const QChar c : text) {
        if (excludedChars.contains(c)) {
            Beep();
            return false;
        }
    }
    return true;
}

QString FilterEdit::Adjusted(const QString& text) const {
    // The field takes letters in upper case, typed or pasted: a typed a arrives as A.
    QString upper = text;
    for (QChar& c : upper) {
        if (c >= 'a' && c <= 'z') {
            c = c.toUpper();
        }
    }
    return upper;
}

}  // namespace vexil
