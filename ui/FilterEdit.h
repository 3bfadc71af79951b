// The IPX network and MAC address fields: hexadecimal text, typed letters in upper case, and
// a set of characters that are refused with a beep, the last accepted text put back.
#pragma once

#include <QLineEdit>
#include <QString>

namespace vexil {

class DialogServices;

class FilterEdit : public QLineEdit {
    Q_OBJECT
  public:
    explicit FilterEdit(QWidget* parent = nullptr);

    void SetServices(DialogServices* services) { services_ = services; }
    void SetExcludedChars(const QString& text) { excludedChars = text; }
    bool CheckText(const QString& text);

    QString excludedChars;
    QString lastValidText;

  private:
    void OnTextUpdate();

    DialogServices* services_ = nullptr;
    bool updating_ = false;
};

// The 52 characters the hexadecimal fields refuse: G to Z and the printable ASCII punctuation.
QString HexFieldExclusions();

}  // namespace vexil
