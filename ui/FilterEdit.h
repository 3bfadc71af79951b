// The IPX network and MAC address fields: hexadecimal text, typed letters in upper case, and
// the address entry's refused characters refused with a beep, the last accepted text put back.
#pragma once

#include "ui/AddressEdit.h"

namespace vexil {

class FilterEdit : public AddressEdit {
    Q_OBJECT
  public:
    explicit FilterEdit(QWidget* parent = nullptr) : AddressEdit(parent) {}

  protected:
    QString Adjusted(const QString& text) const override;
};

}  // namespace vexil
