// An IPv4 octet field: the address entry's characters and length, the value held to its range
// when the field is left (messages 119 and 118), and the focus moved between the four octets
// the way an address entry does.
#pragma once

#include <QPointer>

#include "ui/AddressEdit.h"

namespace vexil {

class NumericEdit : public AddressEdit {
    Q_OBJECT
  public:
    explicit NumericEdit(QWidget* parent = nullptr) : AddressEdit(parent) {}

    // The widgets before and after this one in the dialog's order, labels included.
    void SetNeighbours(QWidget* previous, QWidget* next) {
        previous_ = previous;
        next_ = next;
    }
    // Whether the field may hold `text`: the octet's characters and length; a refusal beeps.
    bool CheckText(const QString& text) override;
    // The check that leaving the field makes: beep on an empty field; beep, message 119 or 118
    // and the bound written back when the value is out of range; the value rewritten as a whole
    // number otherwise (when `rewrite`). Returns false when the value was out of range.
    bool HoldToRange(bool rewrite);

    int position = 0;  // 1 to 4

  signals:
    // The next control in the dialog's order cannot take the focus (label 1011 after octet 4
    // is disabled while TCP/IP is in force); the dialog keeps the focus at its place.
    void FocusStoppedAt(QWidget* control);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    // `afterFullField`: the move follows a field that filled up, not a typed "." or a space.
    void MoveToNext(bool selectAll, bool afterFullField = false);

    QPointer<QWidget> previous_;
    QPointer<QWidget> next_;
    // Set when the focus has just arrived by the automatic move from a full field: the "." the
    // user types next is the separator already given, not a character for this field.
    bool separatorGiven_ = false;
};

}  // namespace vexil
