// The IPX network and MAC address fields: hexadecimal text, typed letters in upper case, and
// a set of characters that are refused with a beep, the last accepted text put back.
#pragma once

#include "ui/AddressEdit.h"

namespace vexil {

class FilterEdit : public AddressEdit {
    Q_OBJECT
  public:
    explicit FilterEdit(QWidget* parent = nullptr) : AddressEdit(parent) {}

    void SetExcludedChars(const QString& text) { excludedChars = text; }
    bool CheckText(const QString& text) override;

    QString excludedChars;

  protected:
    QString Adjusted(const QString& text) const override;
};

// The 52 characters the hexadecimal fields refuse: G to Z and the printable ASCII punctuation.
QString HexFieldExclusions();

}  // namespace vexil
