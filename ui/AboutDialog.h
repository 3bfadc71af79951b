// Template 100: the version box of the main window's menu.
#pragma once

#include <QDialog>

namespace vexil {

class AboutDialog : public QDialog {
    Q_OBJECT
  public:
    explicit AboutDialog(QWidget* parent);
};

}  // namespace vexil
