#include "tests/win32/WindowFixture.h"

#include <algorithm>

namespace vexil::test {

namespace {
ModalAnswerer* g_answerer = nullptr;
constexpr UINT kPollMs = 10;
}  // namespace

ModalAnswerer::ModalAnswerer(const std::unique_ptr<win32::MainWindow>& window)
    : window_(window), timer_(SetTimer(nullptr, 0, kPollMs, &ModalAnswerer::Tick)) {
    g_answerer = this;
}

ModalAnswerer::~ModalAnswerer() {
    KillTimer(nullptr, timer_);
    g_answerer = nullptr;
}

void CALLBACK ModalAnswerer::Tick(HWND, UINT, UINT_PTR, DWORD) {
    if (g_answerer != nullptr) {
        g_answerer->Poll();
    }
}

void ModalAnswerer::Poll() {
    // The newest window of this thread that is shown, takes input and has not been answered.
    struct Search {
        HWND main;
        const std::vector<HWND>* answered;
        HWND found = nullptr;
    } search{window_ ? window_->Handle() : nullptr, &answered_};
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM data) -> BOOL {
            auto& s = *reinterpret_cast<Search*>(data);
            if (window != s.main && IsWindowVisible(window) && IsWindowEnabled(window) &&
                std::find(s.answered->begin(), s.answered->end(), window) == s.answered->end()) {
                s.found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    HWND window = search.found;
    if (window == nullptr) {
        return;
    }
    SeenWindow what;
    wchar_t text[512];
    GetClassNameW(window, text, 512);
    what.kind = text;
    if (what.kind == L"#32768") {
        // A menu: it never takes the focus; Escape is what ends it.
        answered_.push_back(window);
        seen.push_back(what);
        EndMenu();
        return;
    }
    HWND focus = GetFocus();
    if (focus == nullptr || GetAncestor(focus, GA_ROOT) != window) {
        return;  // not yet given the keyboard
    }
    answered_.push_back(window);
    GetWindowTextW(window, text, 512);
    what.title = text;
    // A message box's text is its static control 0xFFFF.
    if (HWND label = GetDlgItem(window, 0xFFFF); label != nullptr) {
        GetWindowTextW(label, text, 512);
        what.text = text;
    }
    seen.push_back(what);
    if (inspect) {
        inspect(window);
    }
    std::vector<UINT> keys = {VK_RETURN};
    if (!answers_.empty()) {
        keys = answers_.front();
        answers_.pop_front();
    }
    for (const UINT key : keys) {
        HWND target = GetFocus();
        PostMessageW(target, WM_KEYDOWN, key, 1);
        PostMessageW(target, WM_KEYUP, key, static_cast<LPARAM>(0xC0000001u));
        // The keys one after another, each handled where the focus is by then.
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            HWND root = GetAncestor(message.hwnd, GA_ROOT);
            if (root == nullptr || !IsDialogMessageW(root, &message)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
            if (message.message == WM_KEYUP) {
                break;
            }
        }
    }
}

void WindowTest::Open() {
    window_.reset();
    services_.messages.clear();
    window_ = std::make_unique<win32::MainWindow>(transport_, services_);
    ASSERT_NE(window_->Open(), nullptr)
        << "the main dialog is not made from its template (error " << GetLastError() << ")";
    Pump();
    answerer_->seen.clear();
}

std::wstring WindowTest::TextOf(HWND control) const {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return text;
}

void WindowTest::Key(UINT key, bool shift) {
    BYTE state[256];
    GetKeyboardState(state);
    const BYTE before = state[VK_SHIFT];
    if (shift) {
        state[VK_SHIFT] = 0x80;
        SetKeyboardState(state);
    }
    // As a keyboard sends it: to the control that has the focus; with none, as a system key to
    // the active window.
    HWND focused = Focused();
    HWND target = focused != nullptr ? focused : GetActiveWindow();
    const UINT down = focused != nullptr ? WM_KEYDOWN : WM_SYSKEYDOWN;
    const UINT up = focused != nullptr ? WM_KEYUP : WM_SYSKEYUP;
    PostMessageW(target, down, key, 1);
    PostMessageW(target, up, key, static_cast<LPARAM>(0xC0000001u));
    Pump();
    if (shift) {
        state[VK_SHIFT] = before;
        SetKeyboardState(state);
    }
}

void WindowTest::Type(const std::wstring& text) {
    for (const wchar_t c : text) {
        HWND target = Focused() != nullptr ? Focused() : window_->Handle();
        const SHORT key = VkKeyScanW(c);
        if (key == -1) {
            // No key of the layout types it: the character alone, as an input method sends it.
            PostMessageW(target, WM_CHAR, c, 1);
            Pump();
            continue;
        }
        // The key as a keyboard sends it, with Shift or Ctrl held as the layout needs them; the
        // character comes from translating the key, as it does for a person typing.
        BYTE state[256];
        GetKeyboardState(state);
        BYTE before[256];
        std::copy(std::begin(state), std::end(state), std::begin(before));
        state[VK_SHIFT] = (HIBYTE(key) & 1) != 0 ? 0x80 : 0;
        state[VK_CONTROL] = (HIBYTE(key) & 2) != 0 ? 0x80 : 0;
        SetKeyboardState(state);
        const UINT vk = LOBYTE(key);
        const auto scan = static_cast<LPARAM>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC)) << 16;
        PostMessageW(target, WM_KEYDOWN, vk, scan | 1);
        PostMessageW(target, WM_KEYUP, vk, scan | static_cast<LPARAM>(0xC0000001u));
        Pump();
        SetKeyboardState(before);
    }
}

std::vector<int> WindowTest::MessageIds() const {
    std::vector<int> ids;
    for (const auto& m : services_.messages) {
        ids.push_back(m.id);
    }
    return ids;
}

}  // namespace vexil::test
