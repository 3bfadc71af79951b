// The platform pieces the dialogs use that a test must be able to answer without a real modal
// window: message boxes, the confirmation, the open-file dialog, the browser, the beep, the
// socket start-up and the clock.
#pragma once

#include <QString>
#include <QUrl>
#include <cstdint>

#include "engine/DialogPort.h"

class QWidget;

namespace vexil {

class MainDialog;

class DialogServices {
  public:
    virtual ~DialogServices() = default;
    // A modal box with string `stringId`, an OK button, the icon and the program's name as
    // caption.
    virtual void ShowMessageBox(QWidget* parent, int stringId, Icon icon);
    // Runs the target confirmation for `dialog`; 1 to go on, 2 to stop.
    virtual int RunConfirmation(MainDialog& dialog);
    // The open-file dialog; an empty string when the user cancels.
    virtual QString GetOpenFileName(QWidget* parent, const QString& filter);
    virtual bool OpenUrl(const QUrl& url);
    // The short warning sound of a refused key or value (1024 Hz for 100 ms on the original
    // platform; the desktop's own beep here).
    virtual void Beep();
    // Checks that sockets can be used at all; false shows message 109.
    virtual bool StartSockets();
    // Monotonic milliseconds for the download's waits.
    virtual std::int64_t NowMilliseconds();
    // Registers the transport library's wait hook, so the window stays alive while it waits.
    virtual void RegisterWaitHook(void (*hook)(void* window));
};

// String `stringId` of the string table.
QString LoadText(int stringId);

// The executable's base name: the caption of every message box.
QString ProgramTitle();

// A string-table text with its line breaks as a Qt label shows them.
QString MessageBoxText(const QString& text);

// The Qt filter for a filter text in the "description|pattern|...||" notation.
QString QtFileFilter(const QString& filter);

}  // namespace vexil
