#include "resources/Text.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <string>

#include "resources/ConfirmLabels.h"
#include "resources/DialogTemplates.h"
#include "resources/Reasons.h"
#include "resources/StringTable.h"

namespace vexil {
namespace {

struct LanguageRow {
    std::map<std::string, std::string> environment;
    const char* system;
    Language expected;
};

Language Chosen(const LanguageRow& row) {
    return ChooseLanguage(
        [&row](const char* name) {
            const auto found = row.environment.find(name);
            return found == row.environment.end() ? std::string{} : found->second;
        },
        row.system);
}

TEST(TextTest, TheLanguageChosenAsGettextProgramsChooseIt) {
    using enum Language;
    const LanguageRow rows[] = {
        {{}, "", kJapanese},
        {{{"LANG", "en_US.UTF-8"}}, "", kEnglish},
        {{{"LANG", "ja_JP.UTF-8"}}, "", kJapanese},
        {{{"LANG", "ja"}}, "", kJapanese},
        {{{"LANG", "C"}}, "", kJapanese},
        {{{"LANG", "POSIX"}}, "", kJapanese},
        {{{"LANG", "C.UTF-8"}}, "", kJapanese},
        {{{"LANG", "de_DE.UTF-8"}}, "", kEnglish},
        {{{"LANG", "en_GB"}}, "", kEnglish},
        {{{"LC_MESSAGES", "en_US.UTF-8"}}, "", kEnglish},
        {{{"LC_ALL", "de_DE@euro"}}, "", kEnglish},
        {{{"LANGUAGE", "en"}}, "", kEnglish},
        // Each variable before the next: LANGUAGE, LC_ALL, LC_MESSAGES, LANG.
        {{{"LANGUAGE", "en"}, {"LC_ALL", "ja_JP.UTF-8"}}, "", kEnglish},
        {{{"LC_ALL", "ja_JP.UTF-8"}, {"LC_MESSAGES", "en_US.UTF-8"}}, "", kJapanese},
        {{{"LC_MESSAGES", "en_US.UTF-8"}, {"LANG", "ja_JP.UTF-8"}}, "", kEnglish},
        {{{"LC_ALL", "C"}, {"LANG", "en_US.UTF-8"}}, "", kJapanese},
        // The list's first language of ours decides.
        {{{"LANGUAGE", "en:ja"}}, "", kEnglish},
        {{{"LANGUAGE", "ja:en"}}, "", kJapanese},
        {{{"LANGUAGE", "de:ja_JP"}}, "", kJapanese},
        {{{"LANGUAGE", "de:fr"}}, "", kEnglish},
        // Empty values count as unset.
        {{{"LANGUAGE", ""}, {"LC_ALL", ""}, {"LANG", "en_US.UTF-8"}}, "", kEnglish},
        {{{"LANGUAGE", ":"}, {"LANG", ""}}, "", kJapanese},
        // The system's interface language only where nothing is set.
        {{}, "en", kEnglish},
        {{}, "ja", kJapanese},
        {{{"LANG", "C"}}, "en", kJapanese},
        {{{"LANG", "en_US.UTF-8"}}, "ja", kEnglish},
    };
    for (const LanguageRow& row : rows) {
        std::string shown;
        for (const auto& [name, value] : row.environment) {
            shown += name + "=" + value + " ";
        }
        EXPECT_EQ(Chosen(row), row.expected) << shown << "system " << row.system;
    }
}

TEST(TextTest, PlaceholdersAreReplacedByNumber) {
    EXPECT_EQ(Format("{0} of {1}", {"2", "3"}), "2 of 3");
    EXPECT_EQ(Format("{1} : {0}", {"a", "b"}), "b : a");
    EXPECT_EQ(Format("{0}{0}", {"x"}), "xx");
    EXPECT_EQ(Format("{{0}} {2} {x} {", {"a"}), "{0} {2} {x} {");
    EXPECT_EQ(Format("{10}", {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "ten"}), "ten");
}

// The columns a terminal gives each character, as the tables pad by them.
TEST(TextTest, DisplayWidthCountsTerminalColumns) {
    const struct {
        const char* text;
        std::size_t columns;
    } rows[] = {
        {"", 0},
        {"target", 6},
        {"日本語", 6},          // kanji: two each
        {"メッセージ", 10},     // katakana, the long vowel mark too
        {"ﾃｽﾄ", 3},             // halfwidth katakana: one each
        {"LANｶｰﾄﾞｵﾌﾟｼｮﾝ", 13},  // and their halfwidth sound marks
        {"tcp 対象", 8},        // mixed
        {"e\u0301", 1},         // a combining accent takes none
        {"\u30BF\u3099", 2},    // nor does a combining kana voiced sound mark
        {"（１）", 6},          // fullwidth forms
        {"a\xFF", 2},           // a stray byte: one
        {"\xE3\x83", 2},        // a cut-off character: one for each byte
    };
    for (const auto& row : rows) {
        EXPECT_EQ(DisplayWidth(row.text), row.columns) << row.text;
    }
}

// A help's lines wider than the terminal broken to fit, the words past the margin carried to
// the paragraph's next line or to a new one at the paragraph's hanging column.
TEST(TextTest, FitToWidthBreaksTheWideLinesOfAHelp) {
    const struct {
        const char* name;
        const char* text;
        std::size_t columns;
        const char* fitted;
    } rows[] = {
        {"fits", "one line\n", 8, "one line\n"},
        {"paragraph", "aaa bbb ccc ddd eee fff ggg\nhhh\n", 12,
         "aaa bbb ccc\nddd eee fff\nggg hhh\n"},
        {"option", "  -x   aaa bbb ccc\n       ddd\n", 14, "  -x   aaa bbb\n       ccc ddd\n"},
        {"option alone", "  -x   aaa bbb ccc\n", 14, "  -x   aaa bbb\n       ccc\n"},
        {"usage", "usage: prog aaa [b c] d\n", 20, "usage: prog aaa\n            [b c] d\n"},
        {"the program named later", "usage: prog\n\naaa bbb ccc\nprog ddd\n", 8,
         "usage: prog\n\naaa bbb\nccc prog\nddd\n"},
        {"quotes", "say \"a b\" now", 8, "say\n\"a b\"\nnow"},
        {"Japanese", "日本語の文章です。次の行\nへ", 10, "日本語の文\n章です。次\nの行へ"},
        {"no line starts with 。", "あいうえお。かきくけこ", 10, "あいうえ\nお。かきく\nけこ"},
        {"mixed", "ログ、集計、--failed ファイル", 17, "ログ、集計、\n--failed ファイル"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(FitToWidth(row.text, row.columns), row.fitted) << row.name;
    }
}

TEST(TextTest, EachLanguageHasItsOwnText) {
    EXPECT_EQ(Tr("msg.110", Language::kEnglish),
              "The download has finished.\r\nSwitch the printer off and on again.");
    EXPECT_EQ(Tr("dlg.main.tcp-check", Language::kJapanese),
              "TCP\xE3\x83\x80\xE3\x82\xA6\xE3\x83\xB3\xE3\x83\xAD\xE3\x83\xBC\xE3\x83\x89");
    EXPECT_EQ(Tr("dlg.main.tcp-check", Language::kEnglish), "TCP download");
    // A key that no catalog holds shows itself.
    EXPECT_EQ(Tr("no.such.key", Language::kEnglish), "no.such.key");
    EXPECT_FALSE(HasText("no.such.key"));

    SetLanguage(Language::kEnglish);
    EXPECT_EQ(LoadString(57630), "?");
    EXPECT_EQ(LoadString(121), "The download starts.");
    SetLanguage(Language::kJapanese);
    EXPECT_EQ(LoadString(121),
              "\xE3\x83\x80\xE3\x82\xA6\xE3\x83\xB3\xE3\x83\xAD\xE3\x83\xBC"
              "\xE3\x83\x89\xE3\x82\x92\xE9\x96\x8B\xE5\xA7\x8B\xE3\x81\x97"
              "\xE3\x81\xBE\xE3\x81\x99\xE3\x80\x82");
}

TEST(TextTest, EveryTemplateTextIsInTheCatalogs) {
    for (const DialogTemplate* dialog :
         {&MainDialogTemplate(), &ConfirmDialogTemplate(), &AboutDialogTemplate()}) {
        EXPECT_TRUE(HasText(dialog->caption)) << dialog->caption;
        for (const ControlSpec& control : dialog->controls) {
            if (*control.text != '\0' && control.kind != ControlKind::ProgressBar) {
                EXPECT_TRUE(HasText(control.text)) << control.text;
            }
        }
    }
    for (const confirm::Label& label :
         {confirm::kTarget, confirm::kCurrentVersion, confirm::kFileVersion}) {
        EXPECT_TRUE(HasText(label.before)) << label.before;
        EXPECT_TRUE(HasText(label.after)) << label.after;
    }
    EXPECT_TRUE(HasText(confirm::kDownload));
    EXPECT_TRUE(HasText(confirm::kDoNotDownload));
}

// A reason made below the catalogs, worded in each language: the system's common errors by
// their own texts, the kinds with what they met, one inside another.
TEST(TextTest, ReasonsInEachLanguage) {
    const Reason folderDenied =
        Reason::System(EACCES).Because(ReasonKind::kItsFolder, "/var/log/vexil");
    const Reason taken = Reason(ReasonKind::kPartTakenBack).Because(ReasonKind::kPartWritten);
    const struct {
        Reason reason;
        std::string english, japanese;
    } rows[] = {
        {{}, "", ""},
        {Reason::System(ENOSPC), "No space left on device", "ディスクに空きがありません"},
        {ReasonKind::kFolder, "it is a folder", "フォルダです"},
        {folderDenied, "its folder /var/log/vexil: Permission denied",
         "フォルダ /var/log/vexil: アクセス権がありません"},
        {Reason::System(EROFS).Because(ReasonKind::kCannotWrite, "a.bin"),
         "cannot write a.bin: Read-only file system",
         "a.bin に書き込めません: 読み取り専用のファイルシステムです"},
        {taken,
         "only part of it was written (the disk is full or a size limit was reached), and was "
         "taken back",
         "一部しか書き込めませんでした（ディスクがいっぱいか、サイズの上限に達しました）。"
         "書き込んだ部分は取り消しました"},
        {Reason::Numbered(ReasonKind::kChecksumMismatch, 7), "line 7: checksum mismatch",
         "7 行目: チェックサムが合いません"},
        {Reason::Numbered(ReasonKind::kWindowsError, 1450), "error 1450", "エラー 1450"},
        {Reason::Numbered(ReasonKind::kEndedBySignal, 9), "was ended by signal 9",
         "シグナル 9 による終了"},
        {Reason::Numbered(ReasonKind::kEndedWithStatus, 3), "ended with status 3",
         "終了ステータス 3"},
        {ReasonKind::kEndedByCtrlC, "was ended by Ctrl-C", "Ctrl-C による終了"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Words(row.reason, Language::kEnglish), row.english);
        EXPECT_EQ(Words(row.reason, Language::kJapanese), row.japanese);
    }
    // An error without a text of its own keeps the C library's, in either language.
    EXPECT_EQ(Words(Reason::System(EXDEV), Language::kJapanese),
              Words(Reason::System(EXDEV), Language::kEnglish));
    EXPECT_FALSE(Words(Reason::System(EXDEV), Language::kJapanese).empty());
}

}  // namespace
}  // namespace vexil
