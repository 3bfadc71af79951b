// The application: owns the Qt application object and runs the main dialog modally; the
// process ends when that run ends.
#pragma once

#include <QApplication>

namespace vexil {

class UpdaterApp {
  public:
    UpdaterApp(int& argc, char** argv);
    // Runs the main dialog to its end. Returns false: there is no message loop after it.
    bool InitInstance();

  private:
    QApplication application_;
};

}  // namespace vexil
