#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QTimer>

#include "engine/Confirmation.h"
#include "engine/DownloadEngine.h"
#include "resources/StringTable.h"
#include "tests/support/TestFiles.h"
#include "tests/ui/UiFixture.h"
#include "ui/UpdaterApp.h"

namespace vexil::test {
namespace {

constexpr std::initializer_list<int> kAddressControls = {
    kOctet1,     kOctet2,       kOctet3,   kOctet4, kNetworkAddress,
    kMacAddress, kNetworkLabel, kMacLabel, kIpLabel};

TEST_F(UiTest, StartUpState) {
    for (int id : {kModelList, kModelLabel, kProgress, kStatusLine, kCancel}) {
        EXPECT_TRUE(W(id)->isEnabled()) << id;
    }
    for (int id : {kDownload, kBrowse, kTcpCheck, kIpxCheck, kIpxGroup, kIpGroup, kWebPage}) {
        EXPECT_FALSE(W(id)->isEnabled()) << id;
    }
    for (int id : kAddressControls) {
        EXPECT_FALSE(W(id)->isEnabled()) << id;
    }
    EXPECT_FALSE(Check(kTcpCheck)->isChecked());
    EXPECT_FALSE(Check(kIpxCheck)->isChecked());
    EXPECT_EQ(Mac()->text(), "00D1F0");
    EXPECT_EQ(Mac()->lastValidText, "00D1F0");
    EXPECT_EQ(ModelList()->count(), 1);
    EXPECT_EQ(ModelList()->currentIndex(), -1);
    EXPECT_EQ(dialog_->ModelIndex(), 0);
    EXPECT_FALSE(W(kWebPage)->isVisible());
    EXPECT_EQ(dialog_->windowTitle(), "Vexilware");
    EXPECT_TRUE(services_.messages.empty());
    EXPECT_EQ(transport_.waitHook, &MainDialog::WaitHook);
    EXPECT_EQ(LiveTargetRecords(), 1);
    // An application window of its own (shown in the task bar), of fixed size: no maximise, no
    // resizing. Dialog units are rounded: 12 units of a 13-pixel line are 20 pixels.
    EXPECT_EQ(dialog_->windowType(), Qt::Window);
    EXPECT_EQ(dialog_->minimumSize(), dialog_->maximumSize());
    EXPECT_FALSE(dialog_->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(W(kOctet1)->height(), 20);
}

TEST_F(UiTest, TheWindowRunsAsAnApplicationWindowUntilItIsDone) {
    dialog_->hide();
    bool shownModal = true;
    QTimer::singleShot(0, [&] {
        shownModal = dialog_->isModal() || QApplication::activeModalWidget() != nullptr;
        QTest::keyClick(dialog_.get(), Qt::Key_Escape);
    });
    EXPECT_EQ(RunAsApplicationWindow(*dialog_), 2);
    EXPECT_FALSE(shownModal) << "a modal window is left out of some task bars";
}

TEST_F(UiTest, SocketStartUpFailureIsReportedOnce) {
    transport_.socketsWork = false;
    Open();
    EXPECT_EQ(services_.messages, (std::vector<RecordedMessage>{{109, Icon::Error}}));
    EXPECT_TRUE(dialog_->isVisible());
}

TEST_F(UiTest, SelectionStates) {
    PickModel();
    EXPECT_EQ(dialog_->ModelIndex(), 6);
    EXPECT_TRUE(Check(kTcpCheck)->isChecked());
    EXPECT_FALSE(Check(kIpxCheck)->isChecked());
    for (int id : {kDownload, kBrowse, kWebPage, kTcpCheck, kIpxCheck, kOctet1, kOctet2, kOctet3,
                   kOctet4, kIpLabel}) {
        EXPECT_TRUE(W(id)->isEnabled()) << id;
    }
    for (int id : {kNetworkAddress, kMacAddress, kNetworkLabel, kMacLabel, kIpxGroup, kIpGroup}) {
        EXPECT_FALSE(W(id)->isEnabled()) << id;
    }
    TypeAddress({"192", "0", "2", "1"});

    auto expectIpx = [this](bool ipx) {
        EXPECT_EQ(Check(kIpxCheck)->isChecked(), ipx);
        EXPECT_EQ(Check(kTcpCheck)->isChecked(), !ipx);
        for (int id : {kOctet1, kOctet2, kOctet3, kOctet4, kIpLabel}) {
            EXPECT_EQ(W(id)->isEnabled(), !ipx) << id;
        }
        for (int id : {kNetworkAddress, kMacAddress, kNetworkLabel, kMacLabel}) {
            EXPECT_EQ(W(id)->isEnabled(), ipx) << id;
        }
    };
    QTest::mouseClick(Check(kIpxCheck), Qt::LeftButton);
    expectIpx(true);
    QTest::mouseClick(Check(kIpxCheck), Qt::LeftButton);  // the checked IPX box switches back
    expectIpx(false);
    QTest::mouseClick(Check(kTcpCheck), Qt::LeftButton);  // so does the checked TCP/IP box
    expectIpx(true);
    PickModel();
    expectIpx(true);
    QTest::mouseClick(Check(kTcpCheck), Qt::LeftButton);
    expectIpx(false);
    EXPECT_EQ(Octet(0)->text(), "192") << "switching keeps what was typed";
    EXPECT_EQ(Mac()->text(), "00D1F0");
}

class DownloadCommandTest : public UiTest {
  protected:
    void SetUp() override {
        UiTest::SetUp();
        PickModel();
        dialog_->runDownload = [this](const DownloadRequest& request) {
            ++runs;
            ran = request;
            return Ended(result);
        };
    }
    void Download() { QTest::mouseClick(static_cast<QPushButton*>(W(kDownload)), Qt::LeftButton); }

    int runs = 0;
    int result = 0;
    DownloadRequest ran;
};

TEST_F(DownloadCommandTest, RefusedEntries) {
    TypeAddress({"127", "0", "0", "1"});
    QTest::mouseClick(Check(kIpxCheck), Qt::LeftButton);  // IPX: the first octet still counts
    bool downloadEnabledDuringBox = false;
    services_.onMessage = [&](int) { downloadEnabledDuringBox = W(kDownload)->isEnabled(); };
    Download();
    services_.onMessage = nullptr;
    EXPECT_EQ(MessageIds(), (std::vector<int>{57620}));
    EXPECT_TRUE(downloadEnabledDuringBox) << "a loopback address is refused before anything";
    EXPECT_TRUE(W(kDownload)->isEnabled());
    QTest::mouseClick(Check(kIpxCheck), Qt::LeftButton);

    services_.messages.clear();
    TypeAddress({"0", "1", "2", "3"});
    Download();
    EXPECT_EQ(MessageIds(), (std::vector<int>{57611}));

    // Two zeros pass the test of the first octet; all four zero end the command silently.
    services_.messages.clear();
    TypeAddress({"00", "0", "0", "0"});
    Download();
    EXPECT_TRUE(services_.messages.empty());

    TypeAddress({"192", "", "2", "3"});
    Download();
    EXPECT_EQ(MessageIds(), (std::vector<int>{57605}));
    EXPECT_FALSE(dialog_->FieldsRequest().ipx);
    EXPECT_EQ(runs, 0);
    EXPECT_TRUE(W(kDownload)->isEnabled());
}

TEST_F(DownloadCommandTest, OctetOutOfRangeWhenEnterStartsTheDownload) {
    // Typed with the focus still in the field: its own check on leaving has not run.
    TypeAddress({"192", "0", "2", "1"});
    Octet(2)->setFocus();
    Octet(2)->setText("999");
    QTest::keyClick(Octet(2), Qt::Key_Return);
    EXPECT_EQ(runs, 0);
    EXPECT_EQ(services_.messages, (std::vector<RecordedMessage>{{118, Icon::Error}}));
    EXPECT_EQ(Octet(2)->text(), "255");
    EXPECT_GE(services_.beeps, 1);
    EXPECT_TRUE(W(kDownload)->isEnabled());

    // Within range, Enter in an octet field starts the download.
    services_.messages.clear();
    Octet(2)->setText("2");
    Octet(2)->setFocus();
    QTest::keyClick(Octet(2), Qt::Key_Return);
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(InetAddress(*RecordOf(ran)), (std::array<std::uint8_t, 4>{192, 0, 2, 1}));
}

TEST_F(DownloadCommandTest, IpxAddressAndTheMacLength) {
    QTest::mouseClick(Check(kIpxCheck), Qt::LeftButton);
    Network()->setText("ABC");
    Mac()->setText("00D1F012345");
    Progress()->setValue(5);
    Download();
    EXPECT_EQ(MessageIds(), (std::vector<int>{57606}));
    EXPECT_EQ(runs, 0);
    const TargetRecordPtr refused = RecordOf(dialog_->FieldsRequest());
    EXPECT_EQ(IpxNetwork(*refused), (std::array<std::uint8_t, 4>{0xAB, 0, 0, 0}));
    EXPECT_EQ(IpxNode(*refused), (std::array<std::uint8_t, 6>{0x00, 0xD1, 0xF0, 0x12, 0x34, 0x00}));
    EXPECT_EQ(Progress()->value(), 5);
    EXPECT_TRUE(W(kDownload)->isEnabled());

    Network()->setText("12345678");
    Mac()->setText("00d1f0abcdef");
    Download();
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(RecordOf(ran)->mode, 2);
    EXPECT_EQ(IpxNetwork(*RecordOf(ran)), (std::array<std::uint8_t, 4>{0x12, 0x34, 0x56, 0x78}));
    EXPECT_EQ(IpxNode(*RecordOf(ran)),
              (std::array<std::uint8_t, 6>{0x00, 0xD1, 0xF0, 0xAB, 0xCD, 0xEF}));
}

TEST(HexTextToBytesTest, Examples) {
    std::array<std::uint8_t, 6> bytes{9, 9, 9, 9, 9, 9};
    EXPECT_EQ(MainDialog::HexTextToBytes("", bytes), 0);
    EXPECT_EQ(bytes[0], 9) << "an empty text leaves the output alone";
    EXPECT_EQ(MainDialog::HexTextToBytes("ABC", bytes), 1);
    EXPECT_EQ(bytes, (std::array<std::uint8_t, 6>{0xAB, 0, 0, 0, 0, 0}));
    std::array<std::uint8_t, 6> lower{};
    MainDialog::HexTextToBytes("00d1f0abcdef99", lower);
    std::array<std::uint8_t, 6> upper{};
    MainDialog::HexTextToBytes("00D1F0ABCDEF", upper);
    EXPECT_EQ(lower, upper);
    MainDialog::HexTextToBytes("1G2 ", bytes);
    EXPECT_EQ(bytes, (std::array<std::uint8_t, 6>{0x10, 0x20, 0, 0, 0, 0}));
}

TEST_F(DownloadCommandTest, EveryResultCode) {
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
    TypeAddress({"192", "0", "2", "1"});
    for (const Row& row : rows) {
        SCOPED_TRACE(row.code);
        services_.messages.clear();
        Status()->setText("before");
        Status()->setVisible(true);
        Progress()->setRange(0, 0x7FFF);
        Progress()->setValue(0x7FFF);
        result = row.code;
        QString statusDuringBox;
        bool statusShownDuringBox = false;
        services_.onMessage = [&](int) {
            statusDuringBox = Status()->text();
            statusShownDuringBox = Status()->isVisible();
        };
        Download();
        EXPECT_EQ(services_.messages, row.messages);
        EXPECT_EQ(Status()->isVisible(), std::string(row.status) == "keep");
        if (!row.messages.empty()) {
            EXPECT_EQ(statusShownDuringBox, std::string(row.status) != "before");
        }
        if (row.statusText57613) {
            EXPECT_EQ(statusDuringBox.toStdString(), std::string(LoadString(57613)));
        }
        EXPECT_EQ(Progress()->value(), 0);
        EXPECT_TRUE(W(kDownload)->isEnabled());
        for (int id : {kOctet1, kOctet2, kOctet3, kOctet4, kModelList, kModelLabel, kBrowse,
                       kIpxCheck, kIpLabel, kTcpCheck, kWebPage}) {
            EXPECT_TRUE(W(id)->isEnabled()) << id;
        }
    }
}

TEST_F(DownloadCommandTest, ControlsAfterADownloadFollowModelAndTransport) {
    TypeAddress({"192", "0", "2", "1"});
    // The download locks the target's controls, then ends, as the engine says it does; the
    // window gives back the controls of the model (5 loads over TCP/IP only) and transport.
    bool tcpOnly = true;
    result = -6;
    dialog_->runDownload = [this, &tcpOnly](const DownloadRequest&) {
        dialog_->DownloadStarted();
        for (int id :
             {kModelList, kModelLabel, kBrowse, kWebPage, kTcpCheck, kIpxCheck, kOctet1, kOctet2,
              kOctet3, kOctet4, kIpLabel, kNetworkAddress, kMacAddress, kNetworkLabel, kMacLabel}) {
            EXPECT_FALSE(W(id)->isEnabled()) << id << " is locked while a download runs";
        }
        dialog_->DownloadEnded({result, true, tcpOnly});
        return Ended(result);
    };
    Download();
    for (int id : {kOctet1, kOctet2, kOctet3, kOctet4, kModelList, kModelLabel, kBrowse, kTcpCheck,
                   kWebPage, kIpLabel}) {
        EXPECT_TRUE(W(id)->isEnabled()) << id;
    }
    for (int id : {kIpxCheck, kNetworkLabel, kMacLabel, kNetworkAddress, kMacAddress}) {
        EXPECT_FALSE(W(id)->isEnabled()) << id;
    }
    // A failed download gives them back once its result box has been closed.
    tcpOnly = false;
    result = -11;
    std::vector<bool> lockedDuringBox;
    services_.onMessage = [&](int) { lockedDuringBox.push_back(!W(kModelList)->isEnabled()); };
    Download();
    services_.onMessage = nullptr;
    EXPECT_EQ(lockedDuringBox, (std::vector<bool>{true}));
    for (int id : {kOctet1, kOctet2, kOctet3, kOctet4, kModelList, kModelLabel, kBrowse, kIpxCheck,
                   kIpLabel, kTcpCheck, kWebPage}) {
        EXPECT_TRUE(W(id)->isEnabled()) << id;
    }
    dialog_->ApplyTransport(2);
    Download();
    for (int id : {kNetworkAddress, kMacAddress, kModelList, kModelLabel, kBrowse, kIpxCheck,
                   kNetworkLabel, kMacLabel, kTcpCheck, kWebPage}) {
        EXPECT_TRUE(W(id)->isEnabled()) << id;
    }
    for (int id : {kOctet1, kOctet2, kOctet3, kOctet4, kIpLabel}) {
        EXPECT_FALSE(W(id)->isEnabled()) << id;
    }
}

TEST_F(UiTest, ConfirmationShowsTargetAndVersions) {
    PickModel();
    TypeAddress({"192", "168", "0", "10"});
    dialog_->ConfirmTarget(MakeConfirmation(dialog_->FieldsRequest(), "", "01.10"));
    EXPECT_EQ(services_.confirmLines, (QStringList{"192.168.0.10", "?", "1.10"}));

    dialog_->ApplyTransport(2);
    Network()->setText("00000001");
    Mac()->setText("00D1F0AB");
    dialog_->ConfirmTarget(MakeConfirmation(dialog_->FieldsRequest(), "1.10", "12.34"));
    EXPECT_EQ(services_.confirmLines, (QStringList{"00D1F0AB", "1.10", "2.34"}));

    // Escape has the effect of "do not download".
    TargetConfirmDialog ipx(nullptr);
    ipx.show();
    QTest::keyClick(&ipx, Qt::Key_Escape);
    EXPECT_EQ(ipx.result(), 2);
}

TEST_F(UiTest, BrowseChangesTheWorkingDirectory) {
    PickModel();
    ScratchDir dir;
    const QString before = QDir::currentPath();
    services_.chosenFile = QString::fromStdString(dir.File("PS2B.BIN", {}));
    QTest::mouseClick(static_cast<QPushButton*>(W(kBrowse)), Qt::LeftButton);
    EXPECT_EQ(QDir::currentPath(), QString::fromStdString(dir.path().string()));
    EXPECT_EQ(services_.messages, (std::vector<RecordedMessage>{{57601, Icon::Information}}));
    EXPECT_EQ(services_.lastFilter.toStdString(), std::string(LoadString(57603)));
    EXPECT_EQ(QtFileFilter(services_.lastFilter), QString::fromUtf8("ファイル形式(*.bin) (*.bin)"));
    QDir::setCurrent(before);

    services_.messages.clear();
    services_.chosenFile.clear();
    QTest::mouseClick(static_cast<QPushButton*>(W(kBrowse)), Qt::LeftButton);
    EXPECT_TRUE(services_.messages.empty());
    EXPECT_EQ(QDir::currentPath(), before);
}

TEST_F(UiTest, WebPageFailureShowsItsMessage) {
    services_.browserWorks = false;
    dialog_->OnWebPage();
    EXPECT_EQ(services_.messages, (std::vector<RecordedMessage>{{120, Icon::Error}}));
    EXPECT_EQ(services_.openedUrl.scheme(), "https");
}

TEST_F(UiTest, SystemCommandsSixteenToThirtyOneOpenTheAboutBox) {
    for (int command : {16, 31, 0xF020}) {
        SCOPED_TRACE(command);
        QString shown;
        // Answer the modal box as a user would: note its title and press Enter.
        QTimer::singleShot(0, [&shown] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                shown = modal->windowTitle();
                QTest::keyClick(modal, Qt::Key_Return);
            }
        });
        dialog_->OnSysCommand(command);
        QApplication::processEvents();
        EXPECT_EQ(shown.isEmpty(), command == 0xF020);
        if (command != 0xF020) {
            EXPECT_EQ(shown, QString::fromUtf8("ﾊﾞｰｼﾞｮﾝ情報 "));
        }
    }
}

TEST_F(UiTest, CancelEndsTheDialogAndFreesTheRecordOnce) {
    for (auto how : {0, 1, 2}) {
        SCOPED_TRACE(how);
        Open();
        const int closes = transport_.closeCount;
        if (how == 0) {
            QTest::mouseClick(static_cast<QPushButton*>(W(kCancel)), Qt::LeftButton);
        } else if (how == 1) {
            QTest::keyClick(dialog_.get(), Qt::Key_Escape);
        } else {
            dialog_->close();
        }
        EXPECT_EQ(transport_.closeCount, closes + 1);
        EXPECT_TRUE(dialog_->Engine().CancelRequested());
        EXPECT_FALSE(dialog_->isVisible());
        EXPECT_EQ(dialog_->result(), 2);
        EXPECT_EQ(LiveTargetRecords(), 1);
        dialog_.reset();
        EXPECT_EQ(LiveTargetRecords(), 0);
    }
    Open();
}

TEST_F(DownloadCommandTest, CancelDuringADownloadReportsBeforeTheWindowCloses) {
    TypeAddress({"192", "0", "2", "1"});
    dialog_->runDownload = [this](const DownloadRequest&) {
        dialog_->reject();
        EXPECT_TRUE(dialog_->isVisible()) << "the window stays until the result is reported";
        return Ended(dialog_->Engine().CancelRequested() ? -5 : 0);
    };
    Download();
    EXPECT_EQ(MessageIds(), (std::vector<int>{111}));
    EXPECT_FALSE(dialog_->isVisible());
    EXPECT_EQ(dialog_->result(), 2);
}

// The real engine behind the window, with the scripted transport: the window is the engine's
// dialog port.
TEST_F(UiTest, WholeDownloadThroughTheWindow) {
    ScratchDir dir;
    WorkingDir cwd(dir.path());
    dir.File("RS.BIN", Join({DataRecord(0x008800, {0xAA, 0x01, 0x01, 0x10, 0, 0, 0, 0}),
                             DataRecord(0x20000, 32), DataRecord(0x20020, 32), EndRecord()}));
    PickModel();
    TypeAddress({"192", "0", "2", "1"});
    int progressAtEnd = -1;
    services_.onMessage = [&](int id) {
        if (id == 110) {
            progressAtEnd = Progress()->value();
        }
    };
    QTest::mouseClick(static_cast<QPushButton*>(W(kDownload)), Qt::LeftButton);
    EXPECT_EQ(MessageIds(), (std::vector<int>{121, 122, 110}));
    EXPECT_EQ(progressAtEnd, 0x7FFF);
    EXPECT_EQ(Progress()->value(), 0);
    EXPECT_EQ(services_.confirmLines, (QStringList{"192.0.2.1", "1.10", "1.10"}));
    EXPECT_FALSE(Status()->isVisible());
    EXPECT_TRUE(W(kOctet1)->isEnabled());
}

}  // namespace
}  // namespace vexil::test
