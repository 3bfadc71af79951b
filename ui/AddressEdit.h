// The six address fields as line edits: their keys, characters, clicks, changes of text and
// losses of focus handed to the field's logic (frontend/AddressFieldLogic), which carries out
// the field's rules through this view; the octets' focus moves go to the widgets before and
// after them in the dialog's order. Only single-byte digits and letters are meant to reach the
// fields, so an input method that composes Japanese text is refused outright: the fields say
// they take none, and a composed text that arrives all the same is refused like any other
// refused character.
#pragma once

#include <QLineEdit>
#include <QPointer>

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
    // The widgets before and after this one in the dialog's order, labels included.
    void SetNeighbours(QWidget* previous, QWidget* next) {
        previous_ = previous;
        next_ = next;
    }
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;

  signals:
    // The next control in the dialog's order cannot take the focus (label 1011 after octet 4
    // is disabled while TCP/IP is in force); the dialog keeps the focus at its place.
    void FocusStoppedAt(QWidget* control);

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
    AddressFieldLogic* MoveFocus(octet::Move move) override;

    DialogServices& services_;
    const bool upperCase_;
    QPointer<QWidget> previous_;
    QPointer<QWidget> next_;
    AddressFieldLogic logic_;
};

}  // namespace vexil
