#include <QApplication>
#include <cstring>
#include <string>

#include "tests/support/WindowRows.h"
#include "tests/ui/UiFixture.h"

namespace vexil::test {
namespace {

class AddressFieldsTest : public UiTest {
  protected:
    void SetUp() override {
        UiTest::SetUp();
        PickModel();
    }
    void Focus(QWidget* widget) {
        widget->setFocus();
        QApplication::processEvents();
        ASSERT_EQ(QApplication::focusWidget(), widget);
    }
};

TEST_F(AddressFieldsTest, FullFieldOrDotMovesOnAndSelects) {
    Focus(Octet(0));
    QTest::keyClicks(Octet(0), "192");
    EXPECT_EQ(Focused(), Octet(1));
    Octet(1)->setText("55");
    Focus(Octet(0));
    QTest::keyClicks(Octet(0), "");
    Octet(0)->clear();
    QTest::keyClicks(Octet(0), "10.");
    EXPECT_EQ(Focused(), Octet(1));
    EXPECT_EQ(Octet(1)->selectedText(), "55");
    QApplication::processEvents();
    EXPECT_EQ(Octet(0)->text(), "10") << "the dot goes when the field is left";
    EXPECT_EQ(services_.beeps, 0);
}

TEST_F(AddressFieldsTest, RefusedCharactersBeepAndChangeNothing) {
    Focus(Octet(1));
    QTest::keyClicks(Octet(1), "1");
    QTest::keyClick(Octet(1), Qt::Key_A);
    QTest::keyClicks(Octet(1), "-");
    EXPECT_EQ(Octet(1)->text(), "1");
    EXPECT_EQ(services_.beeps, 2);
    // The space bar moves on from fields 1 to 3 and never becomes part of the text.
    QTest::keyClick(Octet(1), Qt::Key_Space);
    EXPECT_EQ(Focused(), Octet(2));
    EXPECT_EQ(Octet(1)->text(), "1");
    Focus(Octet(3));
    QTest::keyClick(Octet(3), Qt::Key_Space);
    EXPECT_EQ(Focused(), Octet(3)) << "no move from field 4";
}

TEST_F(AddressFieldsTest, BackspaceInAFullFieldMovesOn) {
    Octet(1)->setText("123");
    Focus(Octet(1));
    Octet(1)->setCursorPosition(0);
    QTest::keyClick(Octet(1), Qt::Key_Backspace);
    EXPECT_EQ(Octet(1)->text(), "123");
    EXPECT_EQ(Focused(), Octet(2));
}

TEST_F(AddressFieldsTest, AFullOctetFourKeepsTheFocusUntilLeft) {
    for (const rows::FullOctet4& row : rows::kFullOctets4) {
        SCOPED_TRACE(row.typed);
        services_.messages.clear();
        services_.beeps = 0;
        Octet(3)->clear();
        Focus(Octet(3));
        QTest::keyClicks(Octet(3), row.typed);
        QApplication::processEvents();
        EXPECT_EQ(Focused(), Octet(3));
        EXPECT_EQ(Octet(3)->text(), row.kept);
        EXPECT_FALSE(Octet(3)->hasSelectedText());
        EXPECT_EQ(Octet(3)->cursorPosition(), static_cast<int>(std::strlen(row.kept)));
        EXPECT_EQ(services_.beeps, 0);
        EXPECT_TRUE(services_.messages.empty());
        QTest::keyClick(Octet(3), Qt::Key_Tab);
        EXPECT_NE(Focused(), Octet(3));
        EXPECT_EQ(Octet(3)->text(), row.left);
        const std::vector<RecordedMessage> messages =
            row.message == 0 ? std::vector<RecordedMessage>{}
                             : std::vector<RecordedMessage>{{row.message, Icon::Error}};
        EXPECT_EQ(services_.messages, messages);
    }
}

TEST_F(AddressFieldsTest, AnArrowAtTheEndOfOctetFourKeepsTheCaretThere) {
    for (const rows::ArrowAtTheEnd& row : rows::kArrowsAtTheEnd) {
        SCOPED_TRACE(std::string(row.octet4) + " then " + row.typed);
        Octet(3)->setText(row.octet4);
        Octet(2)->clear();
        Focus(Octet(2));
        QTest::keyClicks(Octet(2), "192");
        ASSERT_EQ(Focused(), Octet(3));
        QTest::keyClick(Octet(3), row.arrow == rows::Arrow::Right ? Qt::Key_Right : Qt::Key_Down);
        EXPECT_EQ(Focused(), Octet(3));
        EXPECT_FALSE(Octet(3)->hasSelectedText());
        EXPECT_EQ(Octet(3)->cursorPosition(), static_cast<int>(std::strlen(row.octet4)));
        QTest::keyClicks(Octet(3), row.typed);
        EXPECT_EQ(Octet(3)->text(), row.after);
    }
}

TEST_F(AddressFieldsTest, ArrowKeys) {
    Octet(1)->setText("12");
    Octet(2)->setText("345");
    Focus(Octet(2));
    Octet(2)->setCursorPosition(1);
    QTest::keyClick(Octet(2), Qt::Key_Left);
    EXPECT_EQ(Focused(), Octet(1));
    QApplication::processEvents();
    EXPECT_EQ(Octet(1)->cursorPosition(), 2);

    Focus(Octet(0));
    QTest::keyClick(Octet(0), Qt::Key_Left);
    EXPECT_EQ(Focused(), Octet(0));

    Focus(Octet(1));
    Octet(1)->setCursorPosition(1);
    QTest::keyClick(Octet(1), Qt::Key_Right);
    EXPECT_EQ(Focused(), Octet(1)) << "the caret was not behind the last character";
    QTest::keyClick(Octet(1), Qt::Key_Right);
    EXPECT_EQ(Focused(), Octet(2));

    Focus(Octet(3));
    QTest::keyClick(Octet(3), Qt::Key_Right);
    EXPECT_EQ(Focused(), Octet(3));
}

TEST_F(AddressFieldsTest, LeavingAFieldHoldsItToItsRange) {
    for (const rows::Left& c : rows::kLeftFields) {
        SCOPED_TRACE(std::string(c.typed) + " in field " + std::to_string(c.field + 1));
        services_.messages.clear();
        Octet(c.field)->setText(c.typed);
        Focus(Octet(c.field));
        Focus(ModelList());
        EXPECT_EQ(Octet(c.field)->text(), c.after);
        const std::vector<RecordedMessage> messages =
            c.message == 0 ? std::vector<RecordedMessage>{}
                           : std::vector<RecordedMessage>{{c.message, Icon::Error}};
        EXPECT_EQ(services_.messages, messages);
    }
    // An empty field beeps once and says nothing.
    services_.messages.clear();
    Octet(2)->clear();
    Focus(Octet(2));
    const int beeps = services_.beeps;
    Focus(ModelList());
    EXPECT_EQ(services_.beeps, beeps + 1);
    EXPECT_TRUE(services_.messages.empty());
}

TEST_F(AddressFieldsTest, HexadecimalFields) {
    dialog_->Logic().ApplyTransport(controls::Transport::kIpx);
    Focus(Mac());
    Mac()->clear();
    QTest::keyClicks(Mac(), "a");
    EXPECT_EQ(Mac()->text(), "A");
    // Letters past F and the punctuation at the edges of the allowed ranges are refused.
    for (const char* refused : rows::kRefusedHexCharacters) {
        SCOPED_TRACE(refused);
        const int beeps = services_.beeps;
        QTest::keyClicks(Mac(), refused);
        EXPECT_EQ(Mac()->text(), "A");
        EXPECT_EQ(services_.beeps, beeps + 1);
    }
    services_.beeps = 1;
    QTest::keyClicks(Mac(), " 0");
    EXPECT_EQ(Mac()->text(), "A 0");
    // A paste holding one excluded character is refused as a whole.
    Mac()->insert("12-34");
    EXPECT_EQ(Mac()->text(), "A 0");
    EXPECT_EQ(services_.beeps, 2);
    Mac()->setText("00D1F0123456");
    QTest::keyClicks(Mac(), "7");
    EXPECT_EQ(Mac()->text(), "00D1F0123456") << "a thirteenth character does not fit";
    Network()->setText("12345678");
    Focus(Network());
    QTest::keyClicks(Network(), "9");
    EXPECT_EQ(Network()->text(), "12345678");
    // Both fields keep the input method off.
    EXPECT_FALSE(Mac()->testAttribute(Qt::WA_InputMethodEnabled));
    EXPECT_FALSE(Octet(0)->testAttribute(Qt::WA_InputMethodEnabled));
}

}  // namespace
}  // namespace vexil::test
