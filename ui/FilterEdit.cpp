#include "ui/FilterEdit.h"

namespace vexil {

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
