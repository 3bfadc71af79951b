// The window as a person operates it: keys and clicks on the widget that has the focus, Tab and
// Enter included, and the real message boxes and dialogs, answered from the keyboard.
#include <QClipboard>
#include <QFileDialog>
#include <QInputMethodEvent>
#include <QListWidget>
#include <QPaintEngine>
#include <QPushButton>

#include "resources/StringTable.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WindowRows.h"
#include "tests/ui/UiFixture.h"

namespace vexil::test {
namespace {

// A paint device that keeps the texts painted on it, with where each ends: what a list box
// really shows of its line.
class TextRecorder : public QPaintDevice {
  public:
    struct Painted {
        QString text;
        qreal right;
    };
    std::vector<Painted> painted;
    QPaintEngine* paintEngine() const override { return &engine_; }

  protected:
    int metric(PaintDeviceMetric metric) const override {
        switch (metric) {
            case PdmWidth:
            case PdmHeight:
                return 200;
            case PdmDpiX:
            case PdmDpiY:
            case PdmPhysicalDpiX:
            case PdmPhysicalDpiY:
                return 96;
            case PdmDevicePixelRatioScaled:
                return static_cast<int>(devicePixelRatioFScale());
            default:
                return 1;
        }
    }

  private:
    class Engine : public QPaintEngine {
      public:
        explicit Engine(TextRecorder& owner) : owner_(owner) {}
        bool begin(QPaintDevice*) override { return true; }
        bool end() override { return true; }
        void updateState(const QPaintEngineState&) override {}
        void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
        void drawPolygon(const QPointF*, int, PolygonDrawMode) override {}
        void drawTextItem(const QPointF& at, const QTextItem& item) override {
            owner_.painted.push_back({item.text(), at.x() + item.width()});
        }
        Type type() const override { return User; }

      private:
        TextRecorder& owner_;
    };
    mutable Engine engine_{*this};
};

// The shared rows' keys as Qt names them.
std::vector<int> QtKeys(const std::vector<rows::Key>& keys) {
    std::vector<int> qt;
    for (const rows::Key key : keys) {
        qt.push_back(key == rows::Key::Enter ? Qt::Key_Return
                     : key == rows::Key::Tab ? Qt::Key_Tab
                                             : Qt::Key_Escape);
    }
    return qt;
}

class KeyboardTest : public UiTest {
  protected:
    void SetUp() override {
        services_.realDialogs = true;
        UiTest::SetUp();
    }
    // A fresh window, the model picked from the list with the keyboard, an address typed into
    // octet 1 in one go, and a download that only notes the address it was given.
    void Prepare(const QString& address) {
        Open();
        Key(Qt::Key_Down);  // the model list has the focus at start-up
        ASSERT_EQ(dialog_->Logic().ModelIndex(), 6);
        engineRun = dialog_->Logic().runDownload;
        dialog_->Logic().runDownload = [this](const DownloadRequest& request) {
            ++runs;
            ranWith = InetAddress(*RecordOf(request));
            Key(Qt::Key_Return);  // pressed during the download: never the cancel button
            return Ended(dialog_->Logic().Engine().CancelRequested() ? -5 : 0);
        };
        QTest::mouseClick(Octet(0), Qt::LeftButton);
        Type(address);
    }
    QStringList Octets() const {
        return {Octet(0)->text(), Octet(1)->text(), Octet(2)->text(), Octet(3)->text()};
    }
    std::vector<QString> SeenKinds() const {
        std::vector<QString> kinds;
        for (const auto& seen : answerer_.seen) {
            kinds.push_back(seen.kind);
        }
        return kinds;
    }

    ModalAnswerer answerer_;
    // The window's own download: the engine's run.
    std::function<DownloadOutcome(const DownloadRequest&)> engineRun;
    int runs = 0;
    std::array<std::uint8_t, 4> ranWith{};
};

TEST_F(KeyboardTest, AnAddressTypedInOneGoLandsInItsFields) {
    for (const rows::TypedAddress& row : rows::kTypedAddresses) {
        SCOPED_TRACE(row.typed);
        Prepare(row.typed);
        const QStringList octets = {row.octets[0], row.octets[1], row.octets[2], row.octets[3]};
        EXPECT_EQ(Octets(), octets);
        EXPECT_EQ(services_.beeps, 0);
        // Tab goes on after octet 4 (or the place of the label after it) to the download button,
        // and Shift+Tab comes back.
        Key(Qt::Key_Tab);
        EXPECT_EQ(Focused(), W(kDownload));
        Key(Qt::Key_Backtab);
        EXPECT_EQ(Focused(), Octet(3));
        Key(Qt::Key_Tab);
        Key(Qt::Key_Return);
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
        const std::vector<QString> seen =
            row.opens == rows::Opens::MessageBox   ? std::vector<QString>{"QMessageBox"}
            : row.opens == rows::Opens::FileDialog ? std::vector<QString>{"QFileDialog"}
                                                   : std::vector<QString>{};
        answerer_.seen.clear();
        runs = 0;
        Prepare("192.0.2.1");
        for (int i = 0; i < row.tabs; ++i) {
            Key(Qt::Key_Tab);
        }
        if (row.opens == rows::Opens::FileDialog) {
            answerer_.Queue({Qt::Key_Escape});
        }
        Key(Qt::Key_Return);
        EXPECT_EQ(runs, row.runs);
        EXPECT_EQ(dialog_->isVisible(), row.windowOpen);
        EXPECT_EQ(SeenKinds(), seen);
        if (row.runs == 1) {
            // The focus is back on the download button: another Enter downloads again.
            EXPECT_EQ(Focused(), W(kDownload));
            Key(Qt::Key_Return);
            EXPECT_EQ(runs, 2);
            EXPECT_TRUE(dialog_->isVisible());
        }
    }
    // The file dialog speaks Japanese, as the rest of the program does.
    const auto fileDialog = answerer_.seen.front();
    EXPECT_NE(fileDialog.title, "Open");
    EXPECT_FALSE(fileDialog.title.isEmpty());
}

TEST_F(KeyboardTest, TheConfirmationAnswersAsItsFocusedButton) {
    ScratchDir dir;
    WorkingDir cwd(dir.path());
    dir.File("RS.BIN", Join({DataRecord(0x008800, {0xAA, 0x01, 0x01, 0x10, 0, 0, 0, 0}),
                             DataRecord(0x20000, 32), EndRecord()}));
    for (const rows::Confirmation& row : rows::kConfirmations) {
        SCOPED_TRACE(row.address);
        const bool ipx = QString(row.address).size() == 12;
        Prepare(ipx ? "" : row.address);
        dialog_->Logic().runDownload = engineRun;
        if (ipx) {
            QTest::mouseClick(Check(kIpxCheck), Qt::LeftButton);
            QTest::mouseClick(Mac(), Qt::LeftButton);
            Mac()->selectAll();
            Type(row.address);
        }
        services_.messages.clear();
        answerer_.Queue(QtKeys(row.keys));
        // An Enter pressed while the flash is erased must not reach the cancel button.
        transport_.script.clear();
        transport_.Queue(Op::Erase, Reply(0, {}, [this] { Key(Qt::Key_Return); }));
        QStringList lines;
        answerer_.inspect = [&lines](QWidget* window) {
            auto* confirm = qobject_cast<TargetConfirmDialog*>(window);
            if (confirm == nullptr) {
                return;
            }
            lines = confirm->Lines();
            // The whole target is painted, not elided, within the template's width.
            for (QListWidget* list : {confirm->List(0), confirm->List(2)}) {
                TextRecorder recorder;
                list->viewport()->render(&recorder);
                ASSERT_EQ(recorder.painted.size(), 1u);
                EXPECT_EQ(recorder.painted[0].text, list->item(0)->text());
                EXPECT_LE(recorder.painted[0].right, list->viewport()->width());
            }
        };
        Key(Qt::Key_Return);  // in the field the address was typed into
        EXPECT_EQ(services_.confirmations, 1);
        EXPECT_EQ(lines.value(0), QString(row.address));
        EXPECT_EQ(MessageIds(), row.messages);
        services_.confirmations = 0;
        answerer_.inspect = nullptr;
    }
}

TEST_F(KeyboardTest, OneRefusalGivesOneBeepAndOneMessage) {
    for (const rows::Refusal& row : rows::kRefusals) {
        // A box for each message, with the error icon, then the menu (which has none).
        std::vector<QString> seen(row.messages.size(), "QMessageBox");
        std::vector<QMessageBox::Icon> icons(row.messages.size(), QMessageBox::Critical);
        if (row.then == rows::Then::ContextMenu) {
            seen.push_back("QMenu");
            icons.push_back(QMessageBox::NoIcon);
        }
        SCOPED_TRACE(std::string(row.typed) + " in field " + std::to_string(row.field + 1));
        Prepare("10.1.2.3");
        services_.messages.clear();
        answerer_.seen.clear();
        services_.beeps = 0;
        QTest::mouseClick(Octet(row.field), Qt::LeftButton);
        Octet(row.field)->selectAll();
        Type(row.typed);
        switch (row.then) {
            case rows::Then::Enter:
                Key(Qt::Key_Return);
                break;
            case rows::Then::Tab:
                Key(Qt::Key_Tab);
                break;
            case rows::Then::ContextMenu:
                RightClick(Octet(row.field));
                // The menu opens without a loop of its own: let the answerer see it.
                static_cast<void>(
                    QTest::qWaitFor([&] { return answerer_.seen.size() >= seen.size(); }, 2000));
                break;
        }
        EXPECT_EQ(MessageIds(), row.messages);
        EXPECT_EQ(services_.beeps, static_cast<int>(row.messages.size()));
        EXPECT_EQ(Octet(row.field)->text(), row.after);
        EXPECT_EQ(SeenKinds(), seen);
        std::vector<QMessageBox::Icon> shownIcons;
        for (const auto& window : answerer_.seen) {
            shownIcons.push_back(window.icon);
        }
        EXPECT_EQ(shownIcons, icons) << "an error's box shows the error icon";
        EXPECT_EQ(runs, 0);
    }
    // The edit fields' menu speaks Japanese.
    EXPECT_FALSE(answerer_.seen.back().text.contains("Paste"));
}

TEST_F(KeyboardTest, WhatTheFieldsShowIsWhatIsUsed) {
    Prepare("");
    QTest::mouseClick(Check(kIpxCheck), Qt::LeftButton);
    QTest::mouseClick(Check(kIpxCheck), Qt::LeftButton);
    for (const rows::KeptSelection& row : rows::kKeptSelections) {
        SCOPED_TRACE(row.id);
        auto* field = static_cast<QLineEdit*>(W(row.id));
        field->setEnabled(true);
        field->setText(row.before);
        QTest::mouseClick(field, Qt::LeftButton);
        Key(Qt::Key_A, Qt::ControlModifier);
        Type(row.typed);
        EXPECT_EQ(field->text(), row.after);
    }
    // A "." pasted into an octet field and Enter pressed there: the field is written as leaving
    // it would write it, so the confirmation shows the address that is used.
    Prepare("10.0.0.1");
    QApplication::clipboard()->setText("1.2");
    QTest::mouseClick(Octet(0), Qt::LeftButton);
    Key(Qt::Key_A, Qt::ControlModifier);
    Key(Qt::Key_V, Qt::ControlModifier);
    ASSERT_EQ(Octet(0)->text(), "1.2");
    Key(Qt::Key_Return);
    EXPECT_EQ(Octet(0)->text(), "1");
    EXPECT_EQ(ranWith, (std::array<std::uint8_t, 4>{1, 0, 0, 1}));
}

TEST_F(KeyboardTest, AnInputMethodCannotWriteIntoTheAddressFields) {
    Prepare("");
    for (int id : {kOctet1, kOctet2, kOctet3, kOctet4, kNetworkAddress, kMacAddress}) {
        SCOPED_TRACE(id);
        auto* field = static_cast<QLineEdit*>(W(id));
        field->setEnabled(true);
        field->setFocus();
        EXPECT_FALSE(field->inputMethodQuery(Qt::ImEnabled).toBool());
        const QString before = field->text();
        const int beeps = services_.beeps;
        QInputMethodEvent compose(QString::fromUtf8("ａ"), {});
        QApplication::sendEvent(field, &compose);
        QInputMethodEvent commit;
        commit.setCommitString(QString::fromUtf8("ＡＢあ"));
        QApplication::sendEvent(field, &commit);
        EXPECT_EQ(field->text(), before);
        EXPECT_EQ(services_.beeps, beeps + 1);
    }
}

TEST_F(KeyboardTest, MessageBoxesBreakLinesWhereTheTextDoes) {
    for (int id : {57631, 57625, 110}) {
        SCOPED_TRACE(id);
        QString caption;
        bool wholeLines = false;
        answerer_.inspect = [&](QWidget* window) {
            caption = window->windowTitle();
            auto* label = window->findChild<QLabel*>("qt_msgbox_label");
            ASSERT_NE(label, nullptr);
            wholeLines = true;
            for (const QString& line : label->text().split('\n')) {
                wholeLines &= QFontMetrics(label->font()).horizontalAdvance(line) <=
                              label->contentsRect().width();
            }
        };
        services_.ShowMessageBox(dialog_.get(), id, Icon::Error);
        EXPECT_TRUE(wholeLines);
        EXPECT_EQ(caption, QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName());
    }
}

}  // namespace
}  // namespace vexil::test
