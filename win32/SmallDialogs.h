// The two dialogs the main window opens: the target confirmation (template 131) and the about
// box (template 100), each modal to its owner.
#pragma once

#include <windows.h>

#include <array>
#include <string>

namespace vexil::win32 {

// Shows the three values (target, current version, file version) and returns the button that
// closed it: control::kOk to download, control::kCancel to leave the print server alone.
int RunConfirmation(HWND owner, const std::array<std::string, 3>& shown);

void RunAbout(HWND owner);

}  // namespace vexil::win32
