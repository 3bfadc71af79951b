// The main window as its logic sees it: the controls of template 102 by id, and the platform
// pieces the logic uses. The Qt window and the Win32 window implement it as glue over their
// toolkits; the tests implement it with a fake that keeps each control's state.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "engine/Ports.h"
#include "frontend/AddressFieldLogic.h"

namespace vexil {

// One entry of the open-file dialog's filter: what it shows and its patterns (";" between them).
struct FileFilter {
    std::string description;
    std::string patterns;
    bool operator==(const FileFilter&) const = default;
};
// The entries of a filter text in the "description|patterns|...||" notation of string 57603.
std::vector<FileFilter> FileFilters(std::string_view notation);

class WindowView {
  public:
    // What Focused() gives when the window itself holds the keyboard, or nothing does.
    static constexpr int kWindowFocus = 0;
    // What Focused() gives when a widget that is no control of the window holds it.
    static constexpr int kOtherFocus = -1;

    virtual ~WindowView() = default;

    // A control's text (UTF-8), check state, enabled state and visibility, by control id.
    virtual std::string Text(int id) const = 0;
    virtual void SetText(int id, const std::string& text) = 0;
    virtual bool Checked(int id) const = 0;
    virtual void SetChecked(int id, bool checked) = 0;
    virtual bool Enabled(int id) const = 0;
    virtual void Enable(int id, bool enabled) = 0;
    virtual void Show(int id, bool visible) = 0;
    // A list: an entry added at its end, the selected index (-1: none) and the selected text.
    virtual void AddItem(int id, const std::string& text) = 0;
    virtual void Select(int id, int index) = 0;
    virtual int Selection(int id) const = 0;
    virtual std::string SelectedText(int id) const = 0;
    // The progress bar's range and position.
    virtual void SetProgress(int low, int high, int position) = 0;
    // The button that Enter presses when the focus is on no push button.
    virtual void SetDefaultButton(int id) = 0;

    // The keyboard focus: the control that holds it, or kWindowFocus or kOtherFocus.
    virtual int Focused() const = 0;
    virtual void Focus(int id) = 0;
    // Keeps the keyboard at control `id`'s place while that control is disabled: the window
    // itself holds it, so that Enter reaches only the default button.
    virtual void ParkFocus(int id) = 0;

    // An address field's logic (kAddressFields), by control id.
    virtual AddressFieldLogic& Field(int id) = 0;

    // A modal box with string `stringId`, an OK button and the icon.
    virtual void ShowMessage(int stringId, Icon icon) = 0;
    // The confirmation dialog (template 131) with its three lines; the button that closed it.
    virtual int RunConfirmation(const std::array<std::string, 3>& shown) = 0;
    virtual void ShowAbout() = 0;
    // The open-file dialog with these filters; an empty path when the user cancels.
    virtual std::filesystem::path ChooseFile(const std::vector<FileFilter>& filters) = 0;
    // The address in the user's browser; false when there is none.
    virtual bool OpenWebPage(const char* address) = 0;
    // Ends the window with the cancel button's result.
    virtual void Close() = 0;

    // The event pump's platform part: the events that are waiting dispatched, and a wait of at
    // most `maxWaitMs` for the next one; the monotonic clock; the transport's window argument.
    virtual void TakeEvents() = 0;
    virtual void WaitForEvents(int maxWaitMs) = 0;
    virtual std::int64_t NowMilliseconds() = 0;
    virtual void* WindowHandle() = 0;
};

}  // namespace vexil
