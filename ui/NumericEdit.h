// An IPv4 octet field: the focus moved between the four octets the way an address entry does,
// to the widgets before and after it in the dialog's order.
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

  signals:
    // The next control in the dialog's order cannot take the focus (label 1011 after octet 4
    // is disabled while TCP/IP is in force); the dialog keeps the focus at its place.
    void FocusStoppedAt(QWidget* control);

  protected:
    void Move(octet::Move move) override;

  private:
    QPointer<QWidget> previous_;
    QPointer<QWidget> next_;
};

}  // namespace vexil
