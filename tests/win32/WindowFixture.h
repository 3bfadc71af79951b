// The Windows window with real messages: keys posted to the control that has the focus and
// taken through the dialog's own keyboard handling, the real message boxes and dialogs answered
// by finding them and pressing keys in them, the beep and the browser answered by the test.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/TargetRecord.h"
#include "resources/ControlIds.h"
#include "resources/ResourceIds.h"
#include "tests/support/Deadline.h"
#include "tests/support/EngineFakes.h"
#include "win32/MainWindow.h"
#include "win32/Services.h"
#include "win32/Text.h"

namespace vexil::test {

using namespace vexil::control;

class RecordingServices : public win32::Services {
  public:
    void ShowMessage(HWND owner, int stringId, Icon icon) override {
        messages.push_back({stringId, icon});
        win32::Services::ShowMessage(owner, stringId, icon);
    }
    std::wstring OpenFileName(HWND owner, const std::wstring& filter) override {
        ++fileDialogs;
        return chosenFile.empty() ? win32::Services::OpenFileName(owner, filter) : chosenFile;
    }
    bool OpenUrl(HWND, const char* address) override {
        openedUrl = address;
        return browserWorks;
    }
    void Beep() override { ++beeps; }
    std::int64_t NowMilliseconds() override { return clock += 250; }  // waits run fast

    std::vector<RecordedMessage> messages;
    int beeps = 0;
    int fileDialogs = 0;
    std::wstring chosenFile;
    std::string openedUrl;
    bool browserWorks = true;
    std::int64_t clock = 0;
};

// A window the answerer has seen: its class, caption and, for a message box, its text.
struct SeenWindow {
    std::wstring kind;
    std::wstring title;
    std::wstring text;
};

// Answers each modal window that opens on this thread over the main window, as a person would:
// it is recorded, looked at, and sent the keys queued for it (Enter when nothing is queued) at
// the control that has the focus in it. It runs from a timer, so inside every modal loop.
class ModalAnswerer {
  public:
    // `window`: the main window, which is never answered; it may be made after the answerer.
    explicit ModalAnswerer(const std::unique_ptr<win32::MainWindow>& window);
    ~ModalAnswerer();
    void Queue(std::vector<UINT> keys) { answers_.push_back(std::move(keys)); }

    std::vector<SeenWindow> seen;
    std::function<void(HWND)> inspect;

  private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD);
    void Poll();

    const std::unique_ptr<win32::MainWindow>& window_;
    UINT_PTR timer_;
    std::deque<std::vector<UINT>> answers_;
    std::vector<HWND> answered_;
};

class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        answerer_ = std::make_unique<ModalAnswerer>(window_);
        Open();
    }
    void TearDown() override {
        window_.reset();
        answerer_.reset();
    }

    // A modal window that nobody answers would otherwise hold the run until CTest's time-out.
    Watchdog watchdog_{60, "the test to end (a window left unanswered?)"};
    void Open();

    static DownloadOutcome Ended(int result) {
        DownloadOutcome outcome;
        outcome.result = static_cast<DownloadResult>(result);
        return outcome;
    }
    static std::array<std::uint8_t, 4> AddressOf(const DownloadRequest& request) {
        TargetRecordPtr record = CreateTargetRecord();
        FillTargetRecord(request, *record);
        return InetAddress(*record);
    }

    HWND W(int id) const { return window_->Control(id); }
    HWND Focused() const { return GetFocus(); }
    std::wstring TextOf(HWND control) const;
    std::wstring TextOf(int id) const { return TextOf(W(id)); }
    // A key pressed and released on the control that has the focus, with Shift held when asked;
    // then every message it brings is handled, modal windows included.
    void Key(UINT key, bool shift = false);
    // Characters typed one by one, each on the control that has the focus when it is typed.
    void Type(const std::wstring& text);
    void Pump() { win32::MainWindow::PumpWaiting(window_->Handle()); }
    std::vector<int> MessageIds() const;
    // The model picked from the list by the keyboard, with the focus on it as at start-up.
    void PickModel() { Key(VK_DOWN); }

    ScriptedTransport transport_;
    RecordingServices services_;
    std::unique_ptr<win32::MainWindow> window_;
    std::unique_ptr<ModalAnswerer> answerer_;  // made first: a box may open with the window
};

}  // namespace vexil::test
