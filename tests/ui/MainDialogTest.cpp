#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QTimer>

#include "engine/DownloadEngine.h"
#include "frontend/Confirmation.h"
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
    EXPECT_EQ(Mac()->Logic().LastAccepted(), U"00D1F0");
    EXPECT_EQ(ModelList()->count(), 1);
    EXPECT_EQ(ModelList()->currentIndex(), -1);
    EXPECT_EQ(dialog_->Logic().ModelIndex(), 0);
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

class DownloadCommandTest : public UiTest {
  protected:
    void SetUp() override {
        UiTest::SetUp();
        PickModel();
        dialog_->Logic().runDownload = [this](const DownloadRequest& request) {
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

TEST_F(UiTest, ConfirmationShowsTargetAndVersions) {
    PickModel();
    TypeAddress({"192", "168", "0", "10"});
    dialog_->Logic().ConfirmTarget(MakeConfirmation(dialog_->Logic().FieldsRequest(), "", "01.10"));
    EXPECT_EQ(services_.confirmLines, (QStringList{"192.168.0.10", "?", "1.10"}));

    dialog_->Logic().ApplyTransport(controls::Transport::kIpx);
    Network()->setText("00000001");
    Mac()->setText("00D1F0AB");
    dialog_->Logic().ConfirmTarget(
        MakeConfirmation(dialog_->Logic().FieldsRequest(), "1.10", "12.34"));
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
    EXPECT_EQ(services_.lastFilter, QString::fromUtf8("ファイル形式(*.bin) (*.bin)"));
    QDir::setCurrent(before);

    services_.messages.clear();
    services_.chosenFile.clear();
    QTest::mouseClick(static_cast<QPushButton*>(W(kBrowse)), Qt::LeftButton);
    EXPECT_TRUE(services_.messages.empty());
    EXPECT_EQ(QDir::currentPath(), before);
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
        dialog_->Logic().OnSysCommand(command);
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
        EXPECT_TRUE(dialog_->Logic().Engine().CancelRequested());
        EXPECT_FALSE(dialog_->isVisible());
        EXPECT_EQ(dialog_->result(), 2);
        EXPECT_EQ(LiveTargetRecords(), 1);
        dialog_.reset();
        EXPECT_EQ(LiveTargetRecords(), 0);
    }
    Open();
}

// The real engine behind the window, with the scripted transport: the window's logic is the
// engine's front end.
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
