// The platform pieces the window uses, behind one class that a test can answer in its own way:
// the message box, the open-file dialog, the browser, the beep and the clock.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "engine/Ports.h"

namespace vexil::win32 {

class Services {
  public:
    virtual ~Services() = default;
    // A modal box with string `stringId`, an OK button, the icon and the program's name as
    // caption.
    virtual void ShowMessage(HWND owner, int stringId, Icon icon);
    // The open-file dialog with a filter of NUL-ended parts; empty when the user cancels.
    virtual std::wstring OpenFileName(HWND owner, const std::wstring& filter);
    // The address in the user's browser; false when there is none.
    virtual bool OpenUrl(HWND owner, const char* address);
    // The warning sound of a refused key or value.
    virtual void Beep();
    virtual std::int64_t NowMilliseconds();
};

// The executable's base name: the caption of every message box.
std::wstring ProgramTitle();

}  // namespace vexil::win32
