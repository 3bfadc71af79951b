// What the six address fields have in common: a check of every new text, the last accepted
// text put back (with a beep) when a change is refused, and no input method. Only single-byte
// digits and letters are meant to reach them, so an input method that composes Japanese text is
// refused outright: the fields say they take none, and a composed text that arrives all the same
// is refused like any other refused character.
#pragma once

#include <QLineEdit>
#include <QString>
#include <optional>

namespace vexil {

class DialogServices;

class AddressEdit : public QLineEdit {
    Q_OBJECT
  public:
    explicit AddressEdit(QWidget* parent = nullptr);

    void SetServices(DialogServices* services) { services_ = services; }
    // Whether `text` may stand in the field; a refusal beeps.
    virtual bool CheckText(const QString& text) = 0;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;

    QString lastValidText;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    // The text as the field keeps it; the hexadecimal fields put letters in upper case.
    virtual QString Adjusted(const QString& text) const { return text; }
    void Beep();
    DialogServices* Services() const { return services_; }

  private:
    void OnTextUpdate();

    DialogServices* services_ = nullptr;
    bool updating_ = false;
    // The caret and selection before the key being handled: a refused key puts them back with
    // the text, so that the keys typed after it go where the user meant them to.
    struct Caret {
        int position;
        int selectionStart;
        int selectionLength;
    };
    std::optional<Caret> beforeKey_;
};

}  // namespace vexil
