// What the six address fields have in common: their keys, characters, clicks, changes of text
// and losses of focus handed to the address fields' rules (frontend/OctetKeys) and the answers
// carried out, and no input method. Only single-byte digits and letters are meant to reach them,
// so an input method that composes Japanese text is refused outright: the fields say they take
// none, and a composed text that arrives all the same is refused like any other refused
// character.
#pragma once

#include <QLineEdit>
#include <QString>
#include <optional>

#include "frontend/OctetKeys.h"

namespace vexil {

class DialogServices;

class AddressEdit : public QLineEdit {
    Q_OBJECT
  public:
    explicit AddressEdit(QWidget* parent = nullptr);

    void SetServices(DialogServices* services) { services_ = services; }
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
    // The check that leaving an octet field makes (`rewrite`: the value written as a whole
    // number). Returns false when the value was out of range.
    bool HoldToRange(bool rewrite);

    QString lastValidText;
    int position = 0;  // 1 to 4 for the octets, 0 for the hexadecimal fields

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    // The text as the field keeps it; the hexadecimal fields put letters in upper case.
    virtual QString Adjusted(const QString& text) const { return text; }
    // The focus moved between the octets; the hexadecimal fields move nothing.
    virtual void Move(octet::Move) {}

    bool separatorGiven_ = false;

  private:
    octet::Answer Ask(const octet::Event& event);
    // The beep, the message box, the text and the selection that an answer asks for.
    void Show(const octet::Answer& answer);
    void OnTextUpdate();

    DialogServices* services_ = nullptr;
    bool updating_ = false;
    // The caret and selection before the key being handled: a refused key puts them back with
    // the text, so that the keys typed after it go where the user meant them to.
    std::optional<octet::Selection> beforeKey_;
};

}  // namespace vexil
