// The platform pieces the window uses, behind one class that a test can answer in its own way:
// the message box, the open-file dialog, the browser, the beep and the clock.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "engine/DialogPort.h"

namespace vexil::win32 {

class Services {
  public:
    virtual ~Services() = default;
    // A modal box with string `stringId`, an OK button, the icon and the program's name as
    // caption.
    virtual void ShowMessage(HWND owner, int stringId, Icon icon);
    // The open-file dialog with the filter of string 57603; empty when the user cancels.
    virtual std::wstring OpenFileName(HWND owner);
    // The address in the user's browser; false when there is none.
    virtual bool OpenUrl(HWND owner, const char* address);
    // The warning sound of a refused key or value.
    virtual void Beep();
    virtual std::int64_t NowMilliseconds();
};

// The executable's base name: the caption of every message box.
std::wstring ProgramTitle();

// The filter of the open-file dialog from a text in the "description|pattern|...||" notation:
// the same pairs, each part ended by a NUL, the whole by a second NUL.
std::wstring OpenFileFilter(const std::wstring& text);

}  // namespace vexil::win32
