// The main window's logic, once for both windows, over a fake view that keeps each control as
// plain state (as the template makes it) and records the platform pieces. A click on a check
// box changes its check before the command, as both toolkits do.
#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "engine/ModelTable.h"
#include "frontend/AddressEntry.h"
#include "frontend/MainWindowLogic.h"
#include "resources/DialogTemplates.h"
#include "resources/ResourceIds.h"
#include "resources/StringTable.h"
#include "resources/Text.h"
#include "tests/support/EngineFakes.h"
#include "tests/support/TestFiles.h"

namespace vexil::test {
namespace {

using namespace control;
using Notification = MainWindowLogic::Notification;

class FakeView;

// An address field as plain text: the caret at its start, a refusal's box shown by the window,
// its beeps counted.
class FakeField : public AddressFieldView {
  public:
    FakeField(FakeView& window, const AddressFieldSpec& row)
        : window_(window), id_(row.id), logic(*this, row) {}
    std::u32string FieldText() const override;
    void SetFieldText(const std::u32string& text) override;
    int Caret() const override { return 0; }
    octet::Selection Selected() const override { return {}; }
    void Select(const octet::Selection&) override {}
    void Beep() override;
    void ShowError(int stringId) override;
    AddressFieldLogic* GiveFocusTo(int) override { return nullptr; }

  private:
    FakeView& window_;
    int id_;

  public:
    AddressFieldLogic logic;
};

class FakeView : public WindowView {
  public:
    struct Control {
        ControlKind kind = ControlKind::Static;
        std::string text;
        bool enabled = true;
        bool visible = true;
        bool checked = false;
        std::vector<std::string> items;
        int selection = -1;
    };

    FakeView() {
        for (const ControlSpec& row : MainDialogTemplate().controls) {
            Control& control = controls[row.id];
            control.kind = row.kind;
            control.text = Tr(row.text);
            control.enabled = (row.styles & style::kDisabled) == 0;
            control.visible = (row.styles & style::kHidden) == 0;
        }
    }

    std::string Text(int id) const override { return controls.at(id).text; }
    void SetText(int id, const std::string& text) override { controls.at(id).text = text; }
    bool Checked(int id) const override { return controls.at(id).checked; }
    void SetChecked(int id, bool checked) override { controls.at(id).checked = checked; }
    bool Enabled(int id) const override { return controls.at(id).enabled; }
    void Enable(int id, bool enabled) override { controls.at(id).enabled = enabled; }
    void Show(int id, bool visible) override { controls.at(id).visible = visible; }
    void AddItem(int id, const std::string& text) override {
        controls.at(id).items.push_back(text);
    }
    void Select(int id, int index) override { controls.at(id).selection = index; }
    int Selection(int id) const override { return controls.at(id).selection; }
    std::string SelectedText(int id) const override {
        const Control& list = controls.at(id);
        return list.selection < 0 ? "" : list.items.at(static_cast<std::size_t>(list.selection));
    }
    void SetProgress(int low, int high, int position) override { progress = {low, high, position}; }
    void SetDefaultButton(int id) override { defaultButton = id; }
    int Focused() const override { return focus; }
    void Focus(int id) override { focus = id; }
    void ParkFocus(int id) override {
        focus = kWindowFocus;
        parkedAt = id;
    }
    // The address fields' own logic, over the controls' texts.
    AddressFieldLogic& Field(int id) override {
        for (const AddressFieldSpec& row : kAddressFields) {
            if (row.id == id && fields.count(id) == 0) {
                fields.emplace(id, std::make_unique<FakeField>(*this, row));
            }
        }
        return fields.at(id)->logic;
    }
    void ShowMessage(int stringId, Icon icon) override {
        messages.push_back({stringId, icon});
        seen.push_back("message");
        if (onMessage) {
            onMessage(stringId);
        }
    }
    int RunConfirmation(const std::array<std::string, 3>& shown) override {
        confirmations.push_back(shown);
        seen.push_back("confirmation");
        return confirmAnswer;
    }
    void ShowAbout() override { seen.push_back("about"); }
    std::filesystem::path ChooseFile(const std::vector<FileFilter>& offered) override {
        seen.push_back("file dialog");
        filters = offered;
        return chosenFile;
    }
    bool OpenWebPage(const char* address) override {
        openedUrl = address;
        return browserWorks;
    }
    void Close() override { closed = true; }
    void TakeEvents() override {}
    void WaitForEvents(int) override {}
    std::int64_t NowMilliseconds() override { return clock += 250; }  // waits run fast
    void* WindowHandle() override { return this; }

    std::map<int, Control> controls;
    std::map<int, std::unique_ptr<FakeField>> fields;
    int focus = kWindowFocus;
    int parkedAt = 0;
    int defaultButton = 0;
    int beeps = 0;  // the address fields'
    std::array<int, 3> progress{};
    std::vector<RecordedMessage> messages;
    std::function<void(int)> onMessage;
    std::vector<std::string> seen;  // the boxes and dialogs opened, in order
    std::vector<std::array<std::string, 3>> confirmations;
    int confirmAnswer = kOk;
    std::filesystem::path chosenFile;
    std::vector<FileFilter> filters;
    std::string openedUrl;
    bool browserWorks = true;
    bool closed = false;
    std::int64_t clock = 0;
};

std::u32string FakeField::FieldText() const {
    const std::string& text = window_.Text(id_);
    return {text.begin(), text.end()};
}

void FakeField::SetFieldText(const std::u32string& text) {
    window_.SetText(id_, std::string(text.begin(), text.end()));
}

void FakeField::Beep() {
    ++window_.beeps;
}

void FakeField::ShowError(int stringId) {
    window_.ShowMessage(stringId, Icon::Error);
}

class WindowLogicTest : public ::testing::Test {
  protected:
    void SetUp() override { Open(); }
    void Open() {
        logic_.reset();
        view_ = std::make_unique<FakeView>();
        logic_ = std::make_unique<MainWindowLogic>(*view_, transport_);
        logic_->Initialise(&WaitHook);
    }
    static void WaitHook(void*) {}

    // A download that a test stands in for: only its result.
    void StandIn() {
        logic_->runDownload = [this](const DownloadRequest& request) {
            ++runs;
            ran = request;
            DownloadOutcome outcome;
            outcome.result = static_cast<DownloadResult>(result);
            return outcome;
        };
    }
    bool On(int id) const { return view_->Enabled(id); }
    std::vector<int> MessageIds() const {
        std::vector<int> ids;
        for (const auto& message : view_->messages) {
            ids.push_back(message.id);
        }
        return ids;
    }
    // A click: a disabled control takes none, a check box changes its check first.
    void Click(int id) {
        if (!On(id)) {
            return;
        }
        FakeView::Control& control = view_->controls.at(id);
        if (control.kind == ControlKind::CheckBox) {
            control.checked = !control.checked;
        }
        logic_->OnCommand(id, Notification::kClicked);
    }
    void PickModel() {
        view_->Select(kModelList, 0);
        logic_->OnCommand(kModelList, Notification::kSelected);
    }
    void TypeAddress(const std::array<const char*, 4>& octets) {
        const int ids[] = {kOctet1, kOctet2, kOctet3, kOctet4};
        for (std::size_t i = 0; i < 4; ++i) {
            view_->SetText(ids[i], octets[i]);
        }
    }
    ScriptedTransport transport_;
    std::unique_ptr<FakeView> view_;
    std::unique_ptr<MainWindowLogic> logic_;
    int runs = 0;
    int result = 0;
    DownloadRequest ran;
};

TEST_F(WindowLogicTest, StartUpInTheWindowsOrder) {
    EXPECT_EQ(view_->controls.at(kModelList).items, std::vector<std::string>{kModelNames[0]});
    EXPECT_EQ(view_->Selection(kModelList), -1);
    EXPECT_EQ(view_->Text(kMacAddress), "00D1F0");
    EXPECT_EQ(view_->defaultButton, kDownload);
    EXPECT_EQ(view_->focus, kModelList);
    EXPECT_EQ(view_->progress, (std::array<int, 3>{0, 100, 0}));
    EXPECT_EQ(transport_.waitHook, &WaitHook);
    EXPECT_FALSE(view_->Checked(kTcpCheck) || view_->Checked(kIpxCheck));
    for (int id : {kDownload, kBrowse, kWebPage, kTcpCheck, kIpxCheck, kOctet1, kMacAddress}) {
        EXPECT_FALSE(On(id)) << id;
    }
    EXPECT_TRUE(view_->messages.empty());
}

TEST_F(WindowLogicTest, SocketStartUpFailureIsReportedOnce) {
    transport_.socketsWork = false;
    Open();
    EXPECT_EQ(view_->messages, (std::vector<RecordedMessage>{{109, Icon::Error}}));
    EXPECT_FALSE(view_->closed);
    EXPECT_EQ(view_->controls.at(kModelList).items.size(), 1u) << "the window goes on";
}

TEST_F(WindowLogicTest, SelectionStates) {
    PickModel();
    EXPECT_EQ(logic_->ModelIndex(), 6);
    EXPECT_TRUE(view_->Checked(kTcpCheck));
    EXPECT_FALSE(view_->Checked(kIpxCheck));
    for (int id : {kDownload, kBrowse, kWebPage, kTcpCheck, kIpxCheck, kOctet1, kOctet2, kOctet3,
                   kOctet4, kIpLabel}) {
        EXPECT_TRUE(On(id)) << id;
    }
    for (int id : {kNetworkAddress, kMacAddress, kNetworkLabel, kMacLabel, kIpxGroup, kIpGroup}) {
        EXPECT_FALSE(On(id)) << id;
    }
    TypeAddress({"192", "0", "2", "1"});

    auto expectIpx = [this](bool ipx) {
        EXPECT_EQ(view_->Checked(kIpxCheck), ipx);
        EXPECT_EQ(view_->Checked(kTcpCheck), !ipx);
        for (int id : {kOctet1, kOctet2, kOctet3, kOctet4, kIpLabel}) {
            EXPECT_EQ(On(id), !ipx) << id;
        }
        for (int id : {kNetworkAddress, kMacAddress, kNetworkLabel, kMacLabel}) {
            EXPECT_EQ(On(id), ipx) << id;
        }
    };
    Click(kIpxCheck);
    expectIpx(true);
    Click(kIpxCheck);  // the checked IPX box switches back
    expectIpx(false);
    Click(kTcpCheck);  // so does the checked TCP/IP box
    expectIpx(true);
    PickModel();
    expectIpx(true);
    Click(kTcpCheck);
    expectIpx(false);
    EXPECT_EQ(view_->Text(kOctet1), "192") << "switching keeps what was typed";
    EXPECT_EQ(view_->Text(kMacAddress), "00D1F0");
}

TEST_F(WindowLogicTest, RefusedEntries) {
    StandIn();
    PickModel();
    TypeAddress({"127", "0", "0", "1"});
    Click(kIpxCheck);  // IPX: the first octet still counts
    bool downloadEnabledDuringBox = false;
    view_->onMessage = [&](int) { downloadEnabledDuringBox = On(kDownload); };
    Click(kDownload);
    view_->onMessage = nullptr;
    EXPECT_EQ(MessageIds(), (std::vector<int>{57620}));
    EXPECT_TRUE(downloadEnabledDuringBox) << "a loopback address is refused before anything";
    EXPECT_TRUE(On(kDownload));
    Click(kIpxCheck);

    view_->messages.clear();
    TypeAddress({"0", "1", "2", "3"});
    Click(kDownload);
    EXPECT_EQ(MessageIds(), (std::vector<int>{57611}));

    // Two zeros pass the test of the first octet; all four zero end the command silently.
    view_->messages.clear();
    TypeAddress({"00", "0", "0", "0"});
    Click(kDownload);
    EXPECT_TRUE(view_->messages.empty());

    TypeAddress({"192", "", "2", "3"});
    Click(kDownload);
    EXPECT_EQ(MessageIds(), (std::vector<int>{57605}));
    EXPECT_FALSE(logic_->FieldsRequest().ipx);
    EXPECT_EQ(runs, 0);
    EXPECT_TRUE(On(kDownload));

    // Each octet is held as leaving its field would hold it: "1.2" is 1.
    TypeAddress({"1.2", "0", "0", "1"});
    Click(kDownload);
    EXPECT_EQ(view_->Text(kOctet1), "1");
    ASSERT_EQ(runs, 1);
    EXPECT_EQ(ran.octets[0], "1");
}

TEST_F(WindowLogicTest, IpxAddressAndTheMacLength) {
    StandIn();
    PickModel();
    Click(kIpxCheck);
    view_->SetText(kNetworkAddress, "ABC");
    view_->SetText(kMacAddress, "00D1F012345");
    logic_->SetProgressPosition(5);
    Click(kDownload);
    EXPECT_EQ(MessageIds(), (std::vector<int>{57606}));
    EXPECT_EQ(runs, 0);
    const TargetRecordPtr refused = CreateTargetRecord();
    FillTargetRecord(logic_->FieldsRequest(), *refused);
    EXPECT_EQ(IpxNetwork(*refused), (std::array<std::uint8_t, 4>{0xAB, 0, 0, 0}));
    EXPECT_EQ(IpxNode(*refused), (std::array<std::uint8_t, 6>{0x00, 0xD1, 0xF0, 0x12, 0x34, 0x00}));
    EXPECT_EQ(view_->progress[2], 5);
    EXPECT_TRUE(On(kDownload));

    view_->SetText(kNetworkAddress, "12345678");
    view_->SetText(kMacAddress, "00d1f0abcdef");
    Click(kDownload);
    EXPECT_EQ(runs, 1);
    // The octets, empty and disabled, are not held to their range: that would beep four times.
    EXPECT_EQ(view_->beeps, 0);
    const TargetRecordPtr record = CreateTargetRecord();
    FillTargetRecord(ran, *record);
    EXPECT_EQ(record->mode, 2);
    EXPECT_EQ(IpxNetwork(*record), (std::array<std::uint8_t, 4>{0x12, 0x34, 0x56, 0x78}));
    EXPECT_EQ(IpxNode(*record), (std::array<std::uint8_t, 6>{0x00, 0xD1, 0xF0, 0xAB, 0xCD, 0xEF}));
}

TEST_F(WindowLogicTest, EveryResultCode) {
    struct Row {
        int code;
        std::vector<RecordedMessage> messages;
        const char* status;  // the status line: "keep", hidden "before" or "after" the box
        bool statusText57613;
    };
    const Icon e = Icon::Error;
    const std::vector<Row> rows = {
        {0, {{110, Icon::Information}}, "keep", false},
        {-1, {{109, e}, {57621, e}}, "keep", false},
        {-2, {{57613, e}, {57621, e}}, "keep", false},
        {-3, {{57614, e}, {57621, e}}, "keep", false},
        {-4, {{57614, e}, {57621, e}}, "keep", false},
        {-5, {{111, e}}, "keep", false},
        {-6, {}, "keep", false},
        {-7, {{57623, e}}, "before", false},
        {-8, {{57610, e}}, "after", false},
        {-9, {{57622, e}}, "after", true},
        {-10, {{57625, e}}, "after", true},
        {-11, {{57623, e}}, "after", true},
        {-12, {{57615, e}}, "after", true},
        {-13, {{57621, e}}, "after", true},
        {-14, {{57631, e}}, "after", true},
        {-99, {{57623, e}}, "before", false},
    };
    StandIn();
    PickModel();
    TypeAddress({"192", "0", "2", "1"});
    for (const Row& row : rows) {
        SCOPED_TRACE(row.code);
        view_->messages.clear();
        view_->SetText(kStatusLine, "before");
        view_->Show(kStatusLine, true);
        logic_->SetProgressRange(0, 0x7FFF);
        logic_->SetProgressPosition(0x7FFF);
        result = row.code;
        std::string statusDuringBox;
        bool statusShownDuringBox = false;
        view_->onMessage = [&](int) {
            statusDuringBox = view_->Text(kStatusLine);
            statusShownDuringBox = view_->controls.at(kStatusLine).visible;
        };
        Click(kDownload);
        EXPECT_EQ(view_->messages, row.messages);
        EXPECT_EQ(view_->controls.at(kStatusLine).visible, std::string(row.status) == "keep");
        if (!row.messages.empty()) {
            EXPECT_EQ(statusShownDuringBox, std::string(row.status) != "before");
        }
        if (row.statusText57613) {
            EXPECT_EQ(statusDuringBox, std::string(LoadString(57613)));
        }
        EXPECT_EQ(view_->progress[2], 0);
        EXPECT_TRUE(On(kDownload));
        for (int id : {kOctet1, kOctet2, kOctet3, kOctet4, kModelList, kModelLabel, kBrowse,
                       kIpxCheck, kIpLabel, kTcpCheck, kWebPage}) {
            EXPECT_TRUE(On(id)) << id;
        }
    }
}

TEST_F(WindowLogicTest, ADownloadLocksTheTargetAndGivesBackWhatTheModelAndTransportAllow) {
    PickModel();
    TypeAddress({"192", "0", "2", "1"});
    // The download locks the target's controls, then ends with the model it was for; the
    // window gives back the controls of the model (5 loads over TCP/IP only) and transport,
    // once the result's box has been closed.
    struct Row {
        bool ipx;
        int model;
        int result;
        std::vector<int> enabled;
        std::vector<int> disabled;
    };
    const std::vector<Row> rows = {
        {false,
         5,
         -6,
         {kOctet1, kOctet2, kOctet3, kOctet4, kModelList, kModelLabel, kBrowse, kTcpCheck, kWebPage,
          kIpLabel},
         {kIpxCheck, kNetworkLabel, kMacLabel, kNetworkAddress, kMacAddress}},
        {false,
         6,
         -11,
         {kOctet1, kOctet2, kOctet3, kOctet4, kModelList, kModelLabel, kBrowse, kIpxCheck, kIpLabel,
          kTcpCheck, kWebPage},
         {kMacAddress}},
        {true,
         6,
         0,
         {kNetworkAddress, kMacAddress, kModelList, kModelLabel, kBrowse, kIpxCheck, kNetworkLabel,
          kMacLabel, kTcpCheck, kWebPage},
         {kOctet1, kOctet2, kOctet3, kOctet4, kIpLabel}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.result);
        if (row.ipx) {
            Click(kIpxCheck);
            view_->SetText(kMacAddress, "00D1F0123456");
        }
        std::vector<bool> lockedDuringBox;
        logic_->runDownload = [&](const DownloadRequest&) {
            logic_->DownloadStarted();
            // Written out here, not taken from the table under test: a row missing there fails.
            for (int id : {kModelList, kModelLabel, kBrowse, kWebPage, kTcpCheck, kIpxCheck,
                           kOctet1, kOctet2, kOctet3, kOctet4, kIpLabel, kNetworkAddress,
                           kMacAddress, kNetworkLabel, kMacLabel}) {
                EXPECT_FALSE(On(id)) << id << " during a download";
            }
            logic_->Command().Ended(FindModel(row.model));
            view_->onMessage = [&](int) { lockedDuringBox.push_back(!On(kModelList)); };
            DownloadOutcome outcome;
            outcome.result = static_cast<DownloadResult>(row.result);
            return outcome;
        };
        Click(kDownload);
        view_->onMessage = nullptr;
        EXPECT_EQ(lockedDuringBox, std::vector<bool>(lockedDuringBox.size(), true));
        for (int id : row.enabled) {
            EXPECT_TRUE(On(id)) << id;
        }
        for (int id : row.disabled) {
            EXPECT_FALSE(On(id)) << id;
        }
        EXPECT_EQ(view_->focus, kDownload);
    }
}

// The engine's download, of a model the list cannot pick: the end of a download gives back what
// the model allows; a model outside the table never starts, and nothing is given back.
TEST_F(WindowLogicTest, TheEndGivesBackWhatTheModelAllows) {
    ScratchDir dir;
    WorkingDir cwd(dir.path());
    dir.File("RS.BIN", Join({DataRecord(0x008800, {0x21, 0x01, 0x01, 0x10, 0, 0, 0, 0}),
                             DataRecord(0x20000, 32), EndRecord()}));
    PickModel();
    TypeAddress({"192", "0", "2", "1"});
    int model = 5;
    const auto engineRun = logic_->runDownload;
    logic_->runDownload = [&](DownloadRequest request) {
        request.modelIndex = model;
        request.firstListEntry = false;
        return engineRun(request);
    };
    Click(kDownload);
    EXPECT_EQ(MessageIds(), (std::vector<int>{121, 122, 110}));
    EXPECT_FALSE(On(kIpxCheck)) << "a model that loads over TCP/IP only offers no IPX";
    EXPECT_TRUE(On(kTcpCheck) && On(kOctet1));

    // A failed download of it gives back the same.
    view_->messages.clear();
    transport_.Queue(Op::Erase, {-1}, 3);
    Click(kDownload);
    EXPECT_EQ(MessageIds().back(), msg::kDownloadFailed);
    EXPECT_FALSE(On(kIpxCheck));

    view_->Enable(kIpxCheck, true);
    view_->messages.clear();
    model = 0;
    Click(kDownload);
    EXPECT_EQ(view_->confirmations.size(), 2u) << "never asked about";
    EXPECT_TRUE(On(kIpxCheck) && On(kModelList) && On(kOctet1));
}

TEST_F(WindowLogicTest, TheBrowseAndWebPageButtons) {
    ScratchDir dir;
    WorkingDir cwd(std::filesystem::temp_directory_path());
    PickModel();
    // The chosen file's folder becomes the working folder, where the download files are read.
    view_->chosenFile = dir.path() / "RS.BIN";
    Click(kBrowse);
    EXPECT_EQ(std::filesystem::current_path(), dir.path());
    EXPECT_EQ(view_->messages, (std::vector<RecordedMessage>{{57601, Icon::Information}}));
    EXPECT_EQ(view_->filters, (std::vector<FileFilter>{{"ファイル形式(*.bin)", "*.bin"}}));
    // A cancelled dialog changes nothing.
    view_->messages.clear();
    view_->chosenFile.clear();
    std::filesystem::current_path(std::filesystem::temp_directory_path());
    const std::filesystem::path before = std::filesystem::current_path();
    Click(kBrowse);
    EXPECT_TRUE(view_->messages.empty());
    EXPECT_EQ(std::filesystem::current_path(), before);
    // No browser: message 120.
    for (const bool works : {true, false}) {
        view_->browserWorks = works;
        Click(kWebPage);
        EXPECT_EQ(view_->openedUrl, kWebPageAddress);
        EXPECT_EQ(view_->openedUrl.rfind("https://", 0), 0u);
    }
    EXPECT_EQ(view_->messages, (std::vector<RecordedMessage>{{120, Icon::Error}}));
}

TEST(FileFiltersTest, PairsUpToTheEmptyDescription) {
    EXPECT_EQ(FileFilters("Text|*.txt|All|*.*;*.bin||Not|*.no|"),
              (std::vector<FileFilter>{{"Text", "*.txt"}, {"All", "*.*;*.bin"}}));
    EXPECT_EQ(FileFilters("Text|*.txt"), (std::vector<FileFilter>{{"Text", "*.txt"}}));
    EXPECT_TRUE(FileFilters("").empty());
    EXPECT_TRUE(FileFilters("Text").empty()) << "a description without patterns";
}

// While a download runs every command but cancel waits for it to end: no other file, transport
// or model is taken, no page or dialog opens.
TEST_F(WindowLogicTest, CommandsOtherThanCancelWaitForTheDownload) {
    PickModel();
    TypeAddress({"192", "0", "2", "1"});
    view_->chosenFile = "/elsewhere/RS.BIN";
    logic_->runDownload = [this](const DownloadRequest&) {
        view_->seen.clear();
        for (int id : {kDownload, kBrowse, kWebPage, kTcpCheck, kIpxCheck}) {
            logic_->OnCommand(id, Notification::kClicked);
        }
        logic_->OnCommand(kModelList, Notification::kSelected);
        EXPECT_TRUE(view_->seen.empty());
        EXPECT_TRUE(view_->openedUrl.empty());
        EXPECT_FALSE(logic_->Engine().CancelRequested());
        logic_->OnCommand(kCancel, Notification::kClicked);
        EXPECT_TRUE(logic_->Engine().CancelRequested());
        EXPECT_FALSE(view_->closed) << "the window stays until the result is reported";
        DownloadOutcome outcome;
        outcome.result = result::kCancelled;
        return outcome;
    };
    Click(kDownload);
    EXPECT_EQ(MessageIds(), (std::vector<int>{111}));
    EXPECT_TRUE(view_->closed);
}

TEST_F(WindowLogicTest, CancelDuringADownloadReportsBeforeTheWindowCloses) {
    PickModel();
    TypeAddress({"192", "0", "2", "1"});
    logic_->runDownload = [this](const DownloadRequest&) {
        Click(kCancel);
        EXPECT_FALSE(view_->closed) << "the window stays until the result is reported";
        DownloadOutcome outcome;
        outcome.result = logic_->Engine().CancelRequested() ? result::kCancelled : result::kSuccess;
        return outcome;
    };
    Click(kDownload);
    EXPECT_EQ(MessageIds(), (std::vector<int>{111}));
    EXPECT_TRUE(view_->closed);
}

}  // namespace
}  // namespace vexil::test
