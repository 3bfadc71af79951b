// The platform pieces the dialogs use, behind one class that a test can answer in its own way:
// a message box, a modal dialog, the open-file dialog, the browser, the beep and the clock.
#pragma once

#include <QString>
#include <QUrl>
#include <cstdint>

#include "engine/Ports.h"

class QDialog;
class QWidget;

namespace vexil {

class DialogServices {
  public:
    virtual ~DialogServices() = default;
    // A modal box with string `stringId`, an OK button, the icon and the program's name as
    // caption.
    virtual void ShowMessageBox(QWidget* parent, int stringId, Icon icon);
    // Runs `dialog` modally and returns its result.
    virtual int RunModal(QDialog& dialog);
    // The open-file dialog with a filter in Qt's notation; an empty string when the user
    // cancels.
    virtual QString GetOpenFileName(QWidget* parent, const QString& filter);
    virtual bool OpenUrl(const QUrl& url);
    // The short warning sound of a refused key or value (1024 Hz for 100 ms on the original
    // platform; the desktop's own beep here).
    virtual void Beep();
    // Monotonic milliseconds for the download's waits.
    virtual std::int64_t NowMilliseconds();
};

// String `stringId` of the string table.
QString LoadText(int stringId);

// The executable's base name: the caption of every message box.
QString ProgramTitle();

}  // namespace vexil
