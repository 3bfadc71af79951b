// The window in English, and every text of the three templates fitting its control in both
// languages, measured with the widget's own font and style.
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QStyleOptionButton>

#include "resources/DialogTemplates.h"
#include "resources/Text.h"
#include "tests/support/TestFiles.h"
#include "tests/ui/UiFixture.h"
#include "ui/DialogBuilder.h"

namespace vexil::test {
namespace {

// The language of one test, Japanese again after it.
class InLanguage {
  public:
    explicit InLanguage(Language language) { SetLanguage(language); }
    ~InLanguage() { SetLanguage(Language::kJapanese); }
    InLanguage(const InLanguage&) = delete;
    InLanguage& operator=(const InLanguage&) = delete;
};

// A text without a character of the Japanese scripts (kana, kanji, full-width forms).
bool HasNoJapanese(const QString& text) {
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if ((u >= 0x3000 && u <= 0x30FF) || (u >= 0x4E00 && u <= 0x9FFF) ||
            (u >= 0xFF00 && u <= 0xFFEF)) {
            return false;
        }
    }
    return true;
}

// Where a control draws its text: a label its contents, a check box beside its box, a push
// button inside its frame.
QRect TextArea(QWidget* widget) {
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        return label->contentsRect();
    }
    auto* button = qobject_cast<QAbstractButton*>(widget);
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    const bool check = qobject_cast<QCheckBox*>(widget) != nullptr;
    return widget->style()->subElementRect(
        check ? QStyle::SE_CheckBoxContents : QStyle::SE_PushButtonContents, &option, widget);
}

QString TextOf(QWidget* widget) {
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        return label->text();
    }
    return static_cast<QAbstractButton*>(widget)->text();
}

TEST(TemplateFitTest, EveryTextFitsItsControlInBothLanguages) {
    struct Row {
        Language language;
        const DialogTemplate& dialog;
    };
    const Row rows[] = {
        {Language::kJapanese, MainDialogTemplate()},
        {Language::kJapanese, ConfirmDialogTemplate()},
        {Language::kJapanese, AboutDialogTemplate()},
        {Language::kEnglish, MainDialogTemplate()},
        {Language::kEnglish, ConfirmDialogTemplate()},
        {Language::kEnglish, AboutDialogTemplate()},
    };
    int measured = 0;
    for (const Row& row : rows) {
        const InLanguage language(row.language);
        QDialog dialog;
        const BuiltDialog built = BuildDialog(dialog, row.dialog);
        ASSERT_EQ(static_cast<std::size_t>(built.inOrder.size()), row.dialog.controls.size());
        for (std::size_t i = 0; i < row.dialog.controls.size(); ++i) {
            const ControlSpec& control = row.dialog.controls[i];
            QWidget* widget = built.inOrder[static_cast<qsizetype>(i)];
            // The progress bar's text is never shown, nor the hidden button's.
            const bool shown = (control.styles & style::kHidden) == 0;
            const bool hasText = control.kind == ControlKind::Static ||
                                 control.kind == ControlKind::CheckBox ||
                                 control.kind == ControlKind::PushButton;
            if (!shown || !hasText || *control.text == '\0') {
                continue;
            }
            const QString text = TextOf(widget);
            SCOPED_TRACE(std::string(control.text) + " \"" + text.toStdString() + "\"");
            ASSERT_FALSE(text.isEmpty());
            const QFontMetrics metrics(widget->font());
            const QRect area = TextArea(widget);
            EXPECT_LE(metrics.horizontalAdvance(text), area.width());
            EXPECT_LE(metrics.height(), area.height());
            ++measured;
        }
    }
    // Main: 9 texts; the confirmation: 8; the about box: 2; in each language.
    EXPECT_EQ(measured, 2 * (9 + 8 + 2));
}

// The window under English, driven by keys as a person drives it, with the real boxes.
class EnglishWindowTest : public UiTest {
  protected:
    void SetUp() override {
        services_.realDialogs = true;
        SetLanguage(Language::kEnglish);
        UiTest::SetUp();
    }
    void TearDown() override { SetLanguage(Language::kJapanese); }

    std::vector<QString> ControlTexts() const {
        std::vector<QString> texts;
        for (int id : {kIpxCheck, kTcpCheck, kModelLabel, kIpLabel, kNetworkLabel, kMacLabel,
                       kDownload, kCancel, kBrowse}) {
            texts.push_back(TextOf(W(id)));
        }
        return texts;
    }

    ModalAnswerer answerer_;
};

TEST_F(EnglishWindowTest, AWholeDownloadReadsInEnglish) {
    EXPECT_EQ(ControlTexts(), (std::vector<QString>{"IPX download", "TCP download", "Model",
                                                    "IP address", "Network address", "MAC address",
                                                    "Download", "Cancel", "Browse..."}));
    ScratchDir dir;
    WorkingDir cwd(dir.path());
    dir.File("RS.BIN", Join({DataRecord(0x008800, {0xAA, 0x01, 0x01, 0x10, 0, 0, 0, 0}),
                             DataRecord(0x20000, 32), EndRecord()}));
    Open();
    Key(Qt::Key_Down);  // the model list has the focus at start-up
    QTest::mouseClick(Octet(0), Qt::LeftButton);
    Type("192.0.2.1");
    QStringList confirmTexts;
    answerer_.inspect = [&confirmTexts](QWidget* window) {
        auto* confirm = qobject_cast<TargetConfirmDialog*>(window);
        if (confirm == nullptr) {
            return;
        }
        confirmTexts << confirm->windowTitle();
        for (auto* label : confirm->findChildren<QLabel*>()) {
            confirmTexts << label->text();
        }
        for (auto* button : confirm->findChildren<QPushButton*>()) {
            confirmTexts << button->text();
        }
    };
    Key(Qt::Key_Return);  // in octet 4: the confirmation, answered by Enter on its download
    confirmTexts.sort();
    EXPECT_EQ(confirmTexts, (QStringList{".", "Confirm the target", "Do not download", "Download",
                                         "The file to download has the version", "The print server",
                                         "has", "now.", "the version"}));
    ASSERT_EQ(MessageIds(), (std::vector<int>{121, 122, 110}));
    std::vector<QString> texts;
    for (const auto& seen : answerer_.seen) {
        texts.push_back(seen.kind == "QMessageBox" ? seen.text : seen.kind);
    }
    EXPECT_EQ(texts, (std::vector<QString>{
                         "vexil::TargetConfirmDialog", "The download starts.",
                         "During the download, do not switch the printer off\nor press Cancel.",
                         "The download has finished.\nSwitch the printer off and on again."}));
    EXPECT_EQ(Status()->text(), "Downloading.");
    for (const auto& seen : answerer_.seen) {
        EXPECT_TRUE(HasNoJapanese(seen.text + seen.title)) << seen.text.toStdString();
        if (seen.kind == "QMessageBox") {
            EXPECT_EQ(seen.title,
                      QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName());
        }
    }
}

TEST_F(EnglishWindowTest, ARefusedEntryIsExplainedInEnglish) {
    Key(Qt::Key_Down);
    QTest::mouseClick(Octet(0), Qt::LeftButton);
    Type("224");
    Key(Qt::Key_Tab);
    EXPECT_EQ(MessageIds(), (std::vector<int>{118}));
    EXPECT_EQ(Octet(0)->text(), "223");
    ASSERT_EQ(answerer_.seen.size(), 1u);
    EXPECT_EQ(answerer_.seen[0].kind, "QMessageBox");
    EXPECT_EQ(answerer_.seen[0].text, "The value is above the maximum.");
    EXPECT_EQ(answerer_.seen[0].icon, QMessageBox::Critical);
    // The about item of the window's menu.
    RightClick(W(kModelLabel));
    static_cast<void>(QTest::qWaitFor([&] { return answerer_.seen.size() >= 2; }, 2000));
    ASSERT_EQ(answerer_.seen.size(), 2u);
    EXPECT_EQ(answerer_.seen[1].text, "&About Vexilware...|");
}

}  // namespace
}  // namespace vexil::test
