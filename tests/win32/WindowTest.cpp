// The Windows window as a person operates it, by window messages under Wine's display-less
// driver: keys on the control that has the focus, Tab and Enter through the dialog's own
// keyboard handling, and the real message boxes and dialogs, answered from the keyboard.
#include <windows.h>

#include <imm.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "resources/DialogTemplates.h"
#include "resources/StringTable.h"
#include "resources/Text.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WindowRows.h"
#include "tests/win32/WindowFixture.h"
#include "win32/DialogTemplate.h"
#include "win32/SmallDialogs.h"

namespace vexil::test {
namespace {

using win32::Wide;

// The shared rows' keys as the system names them.
std::vector<UINT> VirtualKeys(const std::vector<rows::Key>& keys) {
    std::vector<UINT> virtualKeys;
    for (const rows::Key key : keys) {
        virtualKeys.push_back(key == rows::Key::Enter ? VK_RETURN
                              : key == rows::Key::Tab ? VK_TAB
                                                      : VK_ESCAPE);
    }
    return virtualKeys;
}

class KeyboardTest : public WindowTest {
  protected:
    // A fresh window, the model picked with the keyboard, an address typed into octet 1 in one
    // go, and a download that only notes the address it was given.
    void Prepare(const std::wstring& address) {
        Open();
        PickModel();
        ASSERT_EQ(window_->Logic().ModelIndex(), 6);
        engineRun = window_->Logic().runDownload;
        window_->Logic().runDownload = [this](const DownloadRequest& request) {
            ++runs;
            ranWith = AddressOf(request);
            Key(VK_RETURN);  // pressed during the download: never the cancel button
            return Ended(window_->Logic().Engine().CancelRequested() ? -5 : 0);
        };
        SendMessageW(window_->Handle(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(W(kOctet1)), TRUE);
        Type(address);
    }
    std::vector<std::wstring> Octets() const {
        return {TextOf(kOctet1), TextOf(kOctet2), TextOf(kOctet3), TextOf(kOctet4)};
    }
    std::vector<std::wstring> SeenKinds() const {
        std::vector<std::wstring> kinds;
        for (const auto& seen : answerer_->seen) {
            kinds.push_back(seen.kind);
        }
        return kinds;
    }

    // The window's own download: the engine's run.
    std::function<DownloadOutcome(const DownloadRequest&)> engineRun;
    int runs = 0;
    std::array<std::uint8_t, 4> ranWith{};
};

TEST_F(KeyboardTest, AnAddressTypedInOneGoLandsInItsFields) {
    for (const rows::TypedAddress& row : rows::kTypedAddresses) {
        SCOPED_TRACE(row.typed);
        Prepare(Wide(row.typed));
        const std::vector<std::wstring> octets = {Wide(row.octets[0]), Wide(row.octets[1]),
                                                  Wide(row.octets[2]), Wide(row.octets[3])};
        EXPECT_EQ(Octets(), octets);
        EXPECT_EQ(services_.beeps, 0);
        // Tab goes on after octet 4 to the download button, and Shift+Tab comes back.
        Key(VK_TAB);
        EXPECT_EQ(Focused(), W(kDownload));
        Key(VK_TAB, true);
        EXPECT_EQ(Focused(), W(kOctet4));
        Key(VK_TAB);
        Key(VK_RETURN);
        ASSERT_EQ(runs, 1);
        std::array<std::uint8_t, 4> expected{};
        for (std::size_t i = 0; i < 4; ++i) {
            expected[i] = static_cast<std::uint8_t>(std::atoi(row.octets[i]));
        }
        EXPECT_EQ(ranWith, expected);
        runs = 0;
    }
}

TEST_F(KeyboardTest, EnterPressesTheFocusedButton) {
    for (const rows::EnterAfterTabs& row : rows::kEnterAfterTabs) {
        SCOPED_TRACE(row.tabs);
        // A message box and the open-file dialog are both dialogs of the system's class.
        const std::vector<std::wstring> seen = row.opens == rows::Opens::Nothing
                                                   ? std::vector<std::wstring>{}
                                                   : std::vector<std::wstring>{L"#32770"};
        runs = 0;
        Prepare(L"192.0.2.1");
        for (int i = 0; i < row.tabs; ++i) {
            Key(VK_TAB);
        }
        if (row.opens == rows::Opens::FileDialog) {
            answerer_->Queue({VK_ESCAPE});
        }
        Key(VK_RETURN);
        EXPECT_EQ(runs, row.runs);
        EXPECT_EQ(!window_->Done(), row.windowOpen);
        EXPECT_EQ(SeenKinds(), seen);
        if (row.runs == 1) {
            EXPECT_EQ(MessageIds(), std::vector<int>{msg::kDownloadFinished});
            // The focus is back on the download button: another Enter downloads again.
            EXPECT_EQ(Focused(), W(kDownload));
            Key(VK_RETURN);
            EXPECT_EQ(runs, 2);
            EXPECT_FALSE(window_->Done());
        }
        if (row.opens == rows::Opens::FileDialog) {
            EXPECT_EQ(services_.fileDialogs, 1);
            EXPECT_TRUE(MessageIds().empty()) << "a cancelled file dialog chooses nothing";
        }
    }
}

TEST_F(KeyboardTest, TheConfirmationAnswersAsItsFocusedButton) {
    ScratchDir dir;
    WorkingDir cwd(dir.path());
    dir.File("RS.BIN", Join({DataRecord(0x008800, {0xAA, 0x01, 0x01, 0x10, 0, 0, 0, 0}),
                             DataRecord(0x20000, 32), EndRecord()}));
    for (const rows::Confirmation& row : rows::kConfirmations) {
        SCOPED_TRACE(row.address);
        const std::wstring address = Wide(row.address);
        const bool ipx = address.size() == 12;
        Prepare(ipx ? L"" : address);
        window_->Logic().runDownload = engineRun;
        if (ipx) {
            SendMessageW(window_->Handle(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(W(kIpxCheck)),
                         TRUE);
            Key(VK_SPACE);
            ASSERT_TRUE(IsWindowEnabled(W(kMacAddress)));
            SendMessageW(window_->Handle(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(W(kMacAddress)),
                         TRUE);
            Type(address);
        }
        services_.messages.clear();
        answerer_->Queue(VirtualKeys(row.keys));
        // While the flash is erased the window is locked, and an Enter pressed then must not
        // reach the cancel button.
        transport_.script.clear();
        std::vector<int> lockedButEnabled;
        transport_.Queue(
            Op::Erase, Reply(0, {}, [&] {
                // Written out here, not taken from the table under test.
                for (int id : {kModelList, kModelLabel, kBrowse, kWebPage, kTcpCheck, kIpxCheck,
                               kOctet1, kOctet2, kOctet3, kOctet4, kIpLabel, kNetworkAddress,
                               kMacAddress, kNetworkLabel, kMacLabel}) {
                    if (IsWindowEnabled(W(id))) {
                        lockedButEnabled.push_back(id);
                    }
                }
                Key(VK_RETURN);
            }));
        std::vector<std::wstring> lines;
        answerer_->inspect = [&lines](HWND dialog) {
            for (int id : {kConfirmTarget, kConfirmCurrentVersion, kConfirmFileVersion}) {
                HWND list = GetDlgItem(dialog, id);
                if (list == nullptr) {
                    return;
                }
                wchar_t line[64] = L"";
                SendMessageW(list, LB_GETTEXT, 0, reinterpret_cast<LPARAM>(line));
                lines.push_back(line);
                // The whole value is shown within the template's width.
                HDC dc = GetDC(list);
                HGDIOBJ old = SelectObject(
                    dc, reinterpret_cast<HGDIOBJ>(SendMessageW(list, WM_GETFONT, 0, 0)));
                SIZE extent{};
                GetTextExtentPoint32W(dc, line, static_cast<int>(wcslen(line)), &extent);
                SelectObject(dc, old);
                ReleaseDC(list, dc);
                RECT client;
                GetClientRect(list, &client);
                EXPECT_LE(extent.cx, client.right - 2) << win32::Utf8(line) << " is cut off";
            }
        };
        Key(VK_RETURN);  // in the field the address was typed into
        ASSERT_FALSE(lines.empty()) << "no confirmation";
        EXPECT_EQ(lines[0], address);
        EXPECT_EQ(lines[2], L"1.10");
        EXPECT_EQ(MessageIds(), row.messages);
        EXPECT_TRUE(lockedButEnabled.empty());
        EXPECT_FALSE(window_->Done());
        answerer_->inspect = nullptr;
    }
}

TEST_F(KeyboardTest, OneRefusalGivesOneBeepAndOneMessage) {
    for (const rows::Refusal& row : rows::kRefusals) {
        SCOPED_TRACE(std::string(row.typed) + " in field " + std::to_string(row.field + 1));
        // A box for each message, then the menu.
        std::vector<std::wstring> seen(row.messages.size(), L"#32770");
        if (row.then == rows::Then::ContextMenu) {
            seen.push_back(L"#32768");
        }
        Prepare(L"10.1.2.3");
        services_.messages.clear();
        services_.beeps = 0;
        HWND field = window_->Octet(static_cast<std::size_t>(row.field)).Handle();
        SendMessageW(window_->Handle(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(field), TRUE);
        Type(Wide(row.typed));
        switch (row.then) {
            case rows::Then::Enter:
                Key(VK_RETURN);
                break;
            case rows::Then::Tab:
                Key(VK_TAB);
                break;
            case rows::Then::ContextMenu:
                SendMessageW(field, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(field),
                             MAKELPARAM(-1, -1));
                break;
        }
        EXPECT_EQ(MessageIds(), row.messages);
        EXPECT_EQ(services_.beeps, static_cast<int>(row.messages.size()));
        EXPECT_EQ(TextOf(field), Wide(row.after));
        EXPECT_EQ(SeenKinds(), seen);
        for (const auto& message : services_.messages) {
            EXPECT_EQ(message.icon, Icon::Error) << "an error's box shows the error icon";
        }
        EXPECT_EQ(runs, 0);
    }
}

TEST_F(KeyboardTest, WhatTheFieldsShowIsWhatIsUsed) {
    Prepare(L"");
    for (const rows::KeptSelection& row : rows::kKeptSelections) {
        SCOPED_TRACE(row.id);
        HWND field = W(row.id);
        EnableWindow(field, TRUE);
        SetWindowTextW(field, Wide(row.before).c_str());
        SendMessageW(window_->Handle(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(field), TRUE);
        const int beeps = services_.beeps;
        Type(Wide(row.typed));
        EXPECT_EQ(TextOf(field), Wide(row.after));
        EXPECT_EQ(services_.beeps, beeps + 1);
    }
    // "1.2" pasted into an octet field and Enter pressed there: the field is written as leaving
    // it would write it, so the confirmation shows the address that is used.
    Prepare(L"10.0.0.1");
    ASSERT_TRUE(OpenClipboard(window_->Handle()));
    EmptyClipboard();
    HGLOBAL text = GlobalAlloc(GMEM_MOVEABLE, 4 * sizeof(wchar_t));
    std::wcscpy(static_cast<wchar_t*>(GlobalLock(text)), L"1.2");
    GlobalUnlock(text);
    SetClipboardData(CF_UNICODETEXT, text);
    CloseClipboard();
    SendMessageW(window_->Handle(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(W(kOctet1)), TRUE);
    Type(L"\x16");  // Ctrl+V
    ASSERT_EQ(TextOf(kOctet1), L"1.2");
    Key(VK_RETURN);
    EXPECT_EQ(TextOf(kOctet1), L"1");
    EXPECT_EQ(ranWith, (std::array<std::uint8_t, 4>{1, 0, 0, 1}));
}

TEST_F(KeyboardTest, AnInputMethodCannotWriteIntoTheAddressFields) {
    Prepare(L"");
    for (int id : {kOctet1, kOctet2, kOctet3, kOctet4, kNetworkAddress, kMacAddress}) {
        SCOPED_TRACE(id);
        HWND field = W(id);
        EXPECT_EQ(ImmGetContext(field), nullptr) << "the field has an input context";
        const std::wstring before = TextOf(field);
        const int beeps = services_.beeps;
        SendMessageW(field, WM_IME_CHAR, L'あ', 1);
        SendMessageW(field, WM_IME_COMPOSITION, 0, GCS_RESULTSTR);
        EXPECT_EQ(TextOf(field), before);
        EXPECT_EQ(services_.beeps, beeps + 2);
    }
}

TEST_F(WindowTest, MessageBoxesShowTheTableTextUnderTheProgramName) {
    for (int id : {57631, 57625, 110}) {
        SCOPED_TRACE(id);
        window_->Logic().ShowMessage(id, Icon::Error);
        ASSERT_EQ(answerer_->seen.size(), 1u);
        const SeenWindow box = answerer_->seen.back();
        answerer_->seen.clear();
        EXPECT_EQ(box.kind, L"#32770");
        EXPECT_EQ(box.title, L"win32_tests");
        // Each line as the table breaks it, nothing else.
        std::wstring shown;
        for (const wchar_t c : box.text) {
            if (c != L'\r') {
                shown += c;
            }
        }
        EXPECT_EQ(win32::Utf8(shown), LoadLines(id));
    }
}

TEST_F(WindowTest, TheWindowIsItsTemplate) {
    const DialogTemplate& main = MainDialogTemplate();
    EXPECT_EQ(TextOf(window_->Handle()), Wide(Tr(main.caption)));
    RECT client;
    GetClientRect(window_->Handle(), &client);
    RECT units{0, 0, main.width, main.height};
    MapDialogRect(window_->Handle(), &units);
    EXPECT_EQ(client.right, units.right);
    EXPECT_EQ(client.bottom, units.bottom);
    HWND previous = nullptr;
    for (const ControlSpec& control : main.controls) {
        SCOPED_TRACE(control.id);
        HWND made = GetDlgItem(window_->Handle(), control.id);
        ASSERT_NE(made, nullptr);
        // In template order, which is also the order of Tab.
        EXPECT_EQ(GetWindow(made, GW_HWNDPREV), previous);
        previous = made;
        RECT at{control.x, control.y, control.x + control.width, control.y + control.height};
        MapDialogRect(window_->Handle(), &at);
        RECT is;
        GetWindowRect(made, &is);
        MapWindowPoints(nullptr, window_->Handle(), reinterpret_cast<POINT*>(&is), 2);
        EXPECT_EQ(is.left, at.left);
        EXPECT_EQ(is.top, at.top);
        const LONG style = GetWindowLongW(made, GWL_STYLE);
        EXPECT_EQ((style & WS_TABSTOP) != 0, (control.styles & style::kTabStop) != 0);
        EXPECT_EQ((style & WS_VISIBLE) != 0, (control.styles & style::kHidden) == 0);
        if (control.kind == ControlKind::Edit) {
            EXPECT_EQ((style & ES_UPPERCASE) != 0, (control.styles & style::kUpperCase) != 0);
        } else if (control.kind != ControlKind::ComboBox &&
                   control.kind != ControlKind::ProgressBar) {
            EXPECT_EQ(TextOf(made), Wide(Tr(control.text)));
        }
    }
    // At start: the focus on the model list, nothing to download until a model is picked, and
    // the MAC address field holding the maker's prefix.
    EXPECT_EQ(Focused(), W(kModelList));
    EXPECT_FALSE(IsWindowEnabled(W(kDownload)));
    EXPECT_FALSE(IsWindowEnabled(W(kOctet1)));
    EXPECT_EQ(TextOf(kMacAddress), L"00D1F0");
    PickModel();
    EXPECT_TRUE(IsWindowEnabled(W(kDownload)));
    EXPECT_TRUE(IsWindowEnabled(W(kOctet1)));
    EXPECT_FALSE(IsWindowEnabled(W(kMacAddress)));
    EXPECT_EQ(IsDlgButtonChecked(window_->Handle(), kTcpCheck), BST_CHECKED);
}

TEST_F(WindowTest, TheSystemMenuOpensTheAboutBox) {
    HMENU menu = GetSystemMenu(window_->Handle(), FALSE);
    wchar_t item[128] = L"";
    GetMenuStringW(menu, kAboutCommand, item, 128, MF_BYCOMMAND);
    EXPECT_EQ(win32::Utf8(item), LoadLines(msg::kAboutMenuItem));
    SendMessageW(window_->Handle(), WM_SYSCOMMAND, kAboutCommand, 0);
    ASSERT_EQ(answerer_->seen.size(), 1u);
    EXPECT_EQ(answerer_->seen[0].title, Wide(Tr(AboutDialogTemplate().caption)));
    EXPECT_FALSE(window_->Done());
}

TEST_F(WindowTest, ClosingDuringADownloadCancelsItAndClosesAfterItsMessage) {
    ScratchDir dir;
    WorkingDir cwd(dir.path());
    dir.File("RS.BIN", Join({DataRecord(0x008800, {0xAA, 0x01, 0x01, 0x10, 0, 0, 0, 0}),
                             DataRecord(0x20000, 32), EndRecord()}));
    PickModel();
    SendMessageW(window_->Handle(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(W(kOctet1)), TRUE);
    Type(L"192.0.2.1");
    transport_.Queue(Op::Erase, Reply(0, {}, [this] {
                         PostMessageW(window_->Handle(), WM_CLOSE, 0, 0);
                         Pump();
                         EXPECT_FALSE(window_->Done()) << "closed before the download ended";
                     }));
    Key(VK_RETURN);
    EXPECT_TRUE(window_->Done());
    ASSERT_FALSE(MessageIds().empty());
    EXPECT_EQ(MessageIds().back(), msg::kDownloadCancelled);
}

TEST_F(WindowTest, EscapeDuringADownloadCancelsItAsTheCancelButtonDoes) {
    ScratchDir dir;
    WorkingDir cwd(dir.path());
    dir.File("RS.BIN", Join({DataRecord(0x008800, {0xAA, 0x01, 0x01, 0x10, 0, 0, 0, 0}),
                             DataRecord(0x20000, 32), EndRecord()}));
    PickModel();
    SendMessageW(window_->Handle(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(W(kOctet1)), TRUE);
    Type(L"192.0.2.1");
    bool cancelled = false;
    transport_.Queue(Op::Erase, Reply(0, {}, [this, &cancelled] {
                         // The locked window holds the keyboard itself, or nothing does.
                         Key(VK_ESCAPE);
                         cancelled = window_->Logic().Engine().CancelRequested();
                     }));
    Key(VK_RETURN);
    EXPECT_TRUE(cancelled) << "Escape did not reach the window during the download";
    ASSERT_FALSE(MessageIds().empty());
    EXPECT_EQ(MessageIds().back(), msg::kDownloadCancelled);
    EXPECT_TRUE(window_->Done()) << "the window closes once the result has been read";
}

// Each text of a dialog's template against its control, measured in the dialog's font in the
// dialog's DC: a label's within its client area, a check box's beside its box, a button's within
// its edges. Gives the number of texts measured.
int ExpectEveryTextFits(HWND dialog, const DialogTemplate& dialogTemplate) {
    HDC dc = GetDC(dialog);
    const HGDIOBJ before =
        SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(dialog, WM_GETFONT, 0, 0)));
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    wchar_t face[LF_FACESIZE] = L"";
    GetTextFaceW(dc, LF_FACESIZE, face);
    SCOPED_TRACE("in the font " + win32::Utf8(face));
    int measured = 0;
    HWND made = GetWindow(dialog, GW_CHILD);
    for (const ControlSpec& control : dialogTemplate.controls) {
        HWND at = made;
        made = GetWindow(made, GW_HWNDNEXT);
        const bool hasText = control.kind == ControlKind::Static ||
                             control.kind == ControlKind::CheckBox ||
                             control.kind == ControlKind::PushButton;
        if ((control.styles & style::kHidden) != 0 || !hasText || *control.text == '\0') {
            continue;
        }
        const std::wstring text = win32::WindowText(at);
        SCOPED_TRACE(std::string(control.text) + " \"" + win32::Utf8(text) + "\"");
        EXPECT_FALSE(text.empty());
        SIZE extent{};
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
        RECT client;
        GetClientRect(at, &client);
        int room = client.right;
        if (control.kind == ControlKind::CheckBox) {
            room -= GetSystemMetrics(SM_CXMENUCHECK) + metrics.tmAveCharWidth / 2;
        } else if (control.kind == ControlKind::PushButton) {
            room -= 2 * (GetSystemMetrics(SM_CXEDGE) + 1);
        }
        EXPECT_LE(extent.cx, room);
        EXPECT_LE(extent.cy, client.bottom);
        ++measured;
    }
    SelectObject(dc, before);
    ReleaseDC(dialog, dc);
    return measured;
}

TEST_F(WindowTest, EveryTextFitsItsControlInBothLanguages) {
    for (const Language language : {Language::kJapanese, Language::kEnglish}) {
        SCOPED_TRACE(language == Language::kEnglish ? "English" : "Japanese");
        SetLanguage(language);
        Open();
        int measured = ExpectEveryTextFits(window_->Handle(), MainDialogTemplate());
        answerer_->inspect = [&measured](HWND dialog) {
            wchar_t title[128] = L"";
            GetWindowTextW(dialog, title, 128);
            measured += ExpectEveryTextFits(dialog, Wide(Tr(AboutDialogTemplate().caption)) == title
                                                        ? AboutDialogTemplate()
                                                        : ConfirmDialogTemplate());
        };
        SendMessageW(window_->Handle(), WM_SYSCOMMAND, kAboutCommand, 0);
        EXPECT_EQ(win32::RunConfirmation(window_->Handle(), {"00D1F0123456", "1.02", "1.10"}), kOk);
        answerer_->inspect = nullptr;
        // The main window: 9 texts; the about box: 2; the confirmation: 8.
        EXPECT_EQ(measured, 9 + 2 + 8);
    }
    SetLanguage(Language::kJapanese);
}

// The window under English, driven by keys, with the real boxes.
class EnglishWindowTest : public KeyboardTest {
  protected:
    void SetUp() override {
        SetLanguage(Language::kEnglish);
        KeyboardTest::SetUp();
    }
    void TearDown() override {
        KeyboardTest::TearDown();
        SetLanguage(Language::kJapanese);
    }
};

TEST_F(EnglishWindowTest, AWholeDownloadReadsInEnglish) {
    std::vector<std::wstring> texts;
    for (int id : {kIpxCheck, kTcpCheck, kModelLabel, kIpLabel, kNetworkLabel, kMacLabel, kDownload,
                   kCancel, kBrowse}) {
        texts.push_back(TextOf(id));
    }
    EXPECT_EQ(texts, (std::vector<std::wstring>{L"IPX download", L"TCP download", L"Model",
                                                L"IP address", L"Network address", L"MAC address",
                                                L"Download", L"Cancel", L"Browse..."}));
    HMENU menu = GetSystemMenu(window_->Handle(), FALSE);
    wchar_t item[128] = L"";
    GetMenuStringW(menu, kAboutCommand, item, 128, MF_BYCOMMAND);
    EXPECT_EQ(std::wstring(item), L"&About Vexilware...");

    ScratchDir dir;
    WorkingDir cwd(dir.path());
    dir.File("RS.BIN", Join({DataRecord(0x008800, {0xAA, 0x01, 0x01, 0x10, 0, 0, 0, 0}),
                             DataRecord(0x20000, 32), EndRecord()}));
    Prepare(L"192.0.2.1");
    window_->Logic().runDownload = engineRun;
    std::vector<std::wstring> confirmTexts;
    answerer_->inspect = [&confirmTexts](HWND dialog) {
        if (GetDlgItem(dialog, kConfirmTarget) == nullptr) {
            return;
        }
        for (HWND c = GetWindow(dialog, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
            wchar_t name[32] = L"";
            GetClassNameW(c, name, 32);
            if (std::wstring(name) != L"Edit" && std::wstring(name) != L"ListBox") {
                confirmTexts.push_back(win32::WindowText(c));
            }
        }
    };
    Key(VK_RETURN);  // in octet 1: the confirmation, answered by Enter on its download button
    EXPECT_EQ(confirmTexts,
              (std::vector<std::wstring>{L"Download", L"Do not download", L"The print server",
                                         L"the version", L"now.", L"has",
                                         L"The file to download has the version", L"."}));
    EXPECT_EQ(MessageIds(), (std::vector<int>{121, 122, 110}));
    std::vector<std::wstring> seen;
    for (const SeenWindow& window : answerer_->seen) {
        seen.push_back(window.title + L": " + window.text);
    }
    EXPECT_EQ(seen, (std::vector<std::wstring>{
                        L"Confirm the target: The print server",
                        L"win32_tests: The download starts.",
                        L"win32_tests: During the download, do not switch the printer off\r\nor "
                        L"press Cancel.",
                        L"win32_tests: The download has finished.\r\nSwitch the printer off and "
                        L"on again.",
                    }));
}

TEST_F(EnglishWindowTest, ARefusedEntryIsExplainedInEnglish) {
    Prepare(L"");
    Type(L"224");
    Key(VK_TAB);
    EXPECT_EQ(MessageIds(), (std::vector<int>{msg::kAboveMaximum}));
    EXPECT_EQ(TextOf(kOctet1), L"223");
    ASSERT_EQ(answerer_->seen.size(), 1u);
    EXPECT_EQ(answerer_->seen[0].title, L"win32_tests");
    EXPECT_EQ(answerer_->seen[0].text, L"The value is above the maximum.");
}

class AddressFieldsTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        PickModel();
    }
    void Focus(HWND control) {
        SendMessageW(window_->Handle(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
        ASSERT_EQ(Focused(), control);
    }
    HWND Octet(int index) { return window_->Octet(static_cast<std::size_t>(index)).Handle(); }
    DWORD Caret(HWND field) {
        DWORD end = 0;
        SendMessageW(field, EM_GETSEL, 0, reinterpret_cast<LPARAM>(&end));
        return end;
    }
};

TEST_F(AddressFieldsTest, MovesBetweenTheOctets) {
    // A full field or a "." moves on and selects the next field; the "." goes when the field is
    // left.
    Focus(Octet(0));
    Type(L"192");
    EXPECT_EQ(Focused(), Octet(1));
    SetWindowTextW(Octet(1), L"55");
    Focus(Octet(0));
    SetWindowTextW(Octet(0), L"");
    Type(L"10.");
    EXPECT_EQ(Focused(), Octet(1));
    DWORD start = 1;
    DWORD end = 0;
    SendMessageW(Octet(1), EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                 reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(end, 2u);
    EXPECT_EQ(TextOf(Octet(0)), L"10");
    // Refused characters beep and change nothing; the space bar moves on from fields 1 to 3.
    Focus(Octet(1));
    SetWindowTextW(Octet(1), L"");
    Type(L"1a-");
    EXPECT_EQ(TextOf(Octet(1)), L"1");
    EXPECT_EQ(services_.beeps, 2);
    Type(L" ");
    EXPECT_EQ(Focused(), Octet(2));
    EXPECT_EQ(TextOf(Octet(1)), L"1");
    Focus(Octet(3));
    Type(L" ");
    EXPECT_EQ(Focused(), Octet(3)) << "no move from field 4";
    // A backspace in a full field with the caret in front moves on, as any key that leaves the
    // field full does.
    SetWindowTextW(Octet(1), L"123");
    Focus(Octet(1));
    SendMessageW(Octet(1), EM_SETSEL, 0, 0);
    Type(L"\b");
    EXPECT_EQ(TextOf(Octet(1)), L"123");
    EXPECT_EQ(Focused(), Octet(2));
    // Left and Up go back to the previous field with the caret behind its text; Right and Down
    // go on only from behind the last character.
    SetWindowTextW(Octet(1), L"12");
    SetWindowTextW(Octet(2), L"345");
    Focus(Octet(2));
    SendMessageW(Octet(2), EM_SETSEL, 1, 1);
    Key(VK_LEFT);
    EXPECT_EQ(Focused(), Octet(1));
    EXPECT_EQ(Caret(Octet(1)), 2u);
    Focus(Octet(0));
    Key(VK_UP);
    EXPECT_EQ(Focused(), Octet(0));
    Focus(Octet(1));
    SendMessageW(Octet(1), EM_SETSEL, 1, 1);
    Key(VK_RIGHT);
    EXPECT_EQ(Focused(), Octet(1)) << "the caret was not behind the last character";
    Key(VK_DOWN);
    EXPECT_EQ(Focused(), Octet(2));
    Focus(Octet(3));
    SendMessageW(Octet(3), EM_SETSEL, 0, 0);
    SetWindowTextW(Octet(3), L"");
    Key(VK_RIGHT);
    EXPECT_EQ(Focused(), Octet(3));
}

TEST_F(AddressFieldsTest, AnArrowAtTheEndOfOctetFourKeepsTheCaretThere) {
    for (const rows::ArrowAtTheEnd& row : rows::kArrowsAtTheEnd) {
        SCOPED_TRACE(std::string(row.octet4) + " then " + row.typed);
        SetWindowTextW(Octet(3), Wide(row.octet4).c_str());
        SetWindowTextW(Octet(2), L"");
        Focus(Octet(2));
        Type(L"192");
        ASSERT_EQ(Focused(), Octet(3));
        Key(row.arrow == rows::Arrow::Right ? VK_RIGHT : VK_DOWN);
        EXPECT_EQ(Focused(), Octet(3));
        DWORD start = 0;
        DWORD end = 0;
        SendMessageW(Octet(3), EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                     reinterpret_cast<LPARAM>(&end));
        EXPECT_EQ(start, std::strlen(row.octet4)) << "the caret is not behind the text";
        EXPECT_EQ(end, std::strlen(row.octet4)) << "the text is still selected";
        Type(Wide(row.typed));
        EXPECT_EQ(TextOf(Octet(3)), Wide(row.after));
    }
}

TEST_F(AddressFieldsTest, AFullOctetFourKeepsTheFocusUntilLeft) {
    for (const rows::FullOctet4& row : rows::kFullOctets4) {
        SCOPED_TRACE(row.typed);
        services_.messages.clear();
        services_.beeps = 0;
        SetWindowTextW(Octet(3), L"");
        Focus(Octet(3));
        Type(Wide(row.typed));
        EXPECT_EQ(Focused(), Octet(3));
        EXPECT_EQ(TextOf(Octet(3)), Wide(row.kept));
        DWORD start = 0;
        DWORD end = 0;
        SendMessageW(Octet(3), EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                     reinterpret_cast<LPARAM>(&end));
        EXPECT_EQ(start, std::strlen(row.kept)) << "the caret is not behind the text";
        EXPECT_EQ(end, std::strlen(row.kept)) << "the text is selected";
        EXPECT_EQ(services_.beeps, 0);
        EXPECT_TRUE(services_.messages.empty());
        Key(VK_TAB);
        EXPECT_NE(Focused(), Octet(3));
        EXPECT_EQ(TextOf(Octet(3)), Wide(row.left));
        const std::vector<RecordedMessage> messages =
            row.message == 0 ? std::vector<RecordedMessage>{}
                             : std::vector<RecordedMessage>{{row.message, Icon::Error}};
        EXPECT_EQ(services_.messages, messages);
    }
}

TEST_F(AddressFieldsTest, LeavingAFieldHoldsItToItsRange) {
    for (const rows::Left& c : rows::kLeftFields) {
        SCOPED_TRACE(std::string(c.typed) + " in field " + std::to_string(c.field + 1));
        services_.messages.clear();
        SetWindowTextW(Octet(c.field), Wide(c.typed).c_str());
        Focus(Octet(c.field));
        Focus(W(kModelList));
        EXPECT_EQ(TextOf(Octet(c.field)), Wide(c.after));
        const std::vector<RecordedMessage> messages =
            c.message == 0 ? std::vector<RecordedMessage>{}
                           : std::vector<RecordedMessage>{{c.message, Icon::Error}};
        EXPECT_EQ(services_.messages, messages);
    }
    // An empty field beeps once and says nothing.
    services_.messages.clear();
    SetWindowTextW(Octet(2), L"");
    Focus(Octet(2));
    const int beeps = services_.beeps;
    Focus(W(kModelList));
    EXPECT_EQ(services_.beeps, beeps + 1);
    EXPECT_TRUE(services_.messages.empty());
}

TEST_F(AddressFieldsTest, HexadecimalFields) {
    Focus(W(kIpxCheck));
    Key(VK_SPACE);
    HWND mac = W(kMacAddress);
    Focus(mac);
    SetWindowTextW(mac, L"");
    Type(L"a");
    EXPECT_EQ(TextOf(mac), L"A");
    // Letters past F and the punctuation at the edges of the allowed ranges are refused.
    for (const char* refused : rows::kRefusedHexCharacters) {
        SCOPED_TRACE(refused);
        const int beeps = services_.beeps;
        Type(Wide(refused));
        EXPECT_EQ(TextOf(mac), L"A");
        EXPECT_EQ(services_.beeps, beeps + 1);
    }
    services_.beeps = 1;
    Type(L" 0");
    EXPECT_EQ(TextOf(mac), L"A 0");
    // A paste holding one excluded character is refused as a whole.
    SendMessageW(mac, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(L"12-34"));
    EXPECT_EQ(TextOf(mac), L"A 0");
    EXPECT_EQ(services_.beeps, 2);
    SetWindowTextW(mac, L"00D1F0123456");
    SendMessageW(mac, EM_SETSEL, 12, 12);
    Type(L"7");
    EXPECT_EQ(TextOf(mac), L"00D1F0123456") << "a thirteenth character does not fit";
    SetWindowTextW(W(kNetworkAddress), L"12345678");
    Focus(W(kNetworkAddress));
    SendMessageW(W(kNetworkAddress), EM_SETSEL, 8, 8);
    Type(L"9");
    EXPECT_EQ(TextOf(kNetworkAddress), L"12345678");
}

}  // namespace
}  // namespace vexil::test
