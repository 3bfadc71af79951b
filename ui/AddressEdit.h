// The six address fields as line edits: their keys, characters, clicks, changes of text and
// losses of focus handed to the field's logic (frontend/AddressFieldLogic), which carries out
// the field's rules through this view and says which field a focus move reaches. Only single-byte
// digits and letters are meant to reach the fields, so an input method that composes Japanese text
// is refused outright: the fields say they take none, and a composed text that arrives all the same
// is refused like any other refused character.
#pragma once

#include <QLineEdit>

#include "frontend/AddressFieldLogic.h"

namespace vexil {

class DialogServices;

class AddressEdit : public QLineEdit, private AddressFieldView {
    Q_OBJECT
  public:
    // `upperCase`: typed or pasted letters are kept in upper case (the hexadecimal fields).
    AddressEdit(const AddressFieldSpec& field, bool upperCase, DialogServices& services,
                QWidget* parent);

    AddressFieldLogic& Logic() { return logic_; }
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    void OnTextUpdate();

    // The view.
    std::u32string FieldText() const override { return text().toStdU32String(); }
    void SetFieldText(const std::u32string& text) override {
        setText(QString::fromStdU32String(text));
    }
    int Caret() const override { return cursorPosition(); }
    octet::Selection Selected() const override;
    void Select(const octet::Selection& selection) override;
    void Beep() override;
    void ShowError(int stringId) override;
    AddressFieldLogic* GiveFocusTo(int id) override;

    DialogServices& services_;
    const int id_;
    const bool upperCase_;
    AddressFieldLogic logic_;
};

}  // namespace vexil
