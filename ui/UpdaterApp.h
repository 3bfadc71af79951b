// The application: owns the Qt application object and runs the main dialog modally; the
// process ends when that run ends.
#pragma once

#include <QApplication>
#include <QDialog>

namespace vexil {

// Shows `dialog` as the program's window and runs until it is done; returns its result.
int RunAsApplicationWindow(QDialog& dialog);

// Qt's own texts in the program's language (Qt's Japanese translations for Japanese), so that
// the platform's texts match the program's own.
void InstallPlatformTexts(QCoreApplication& application);

class UpdaterApp {
  public:
    UpdaterApp(int& argc, char** argv);
    // Runs the main dialog to its end. Returns false: there is no message loop after it.
    bool InitInstance();

  private:
    QApplication application_;
};

}  // namespace vexil
