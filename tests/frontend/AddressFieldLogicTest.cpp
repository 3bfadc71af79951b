// The address fields' logic as both windows run it, over fake edit controls that do what a
// toolkit does: a character replaces the selection unless the field is full, a text set by the
// program is reported as a change, and giving the focus to any other control is leaving the
// field.
#include "frontend/AddressFieldLogic.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

#include "resources/ResourceIds.h"

namespace vexil {
namespace {

class FakeFields;

class FakeField : public AddressFieldView {
  public:
    FakeField(FakeFields& fields, const AddressFieldSpec& row)
        : fields_(fields), spec_(row), logic(*this, row) {}

    // A key as the toolkit hands it on: '>' and '<' are Right and Left, anything else a
    // character ('\b' the backspace).
    void Press(char32_t key);

    std::u32string FieldText() const override { return text; }
    void SetFieldText(const std::u32string& value) override {
        text = value;
        logic.OnTextChanged();
    }
    int Caret() const override { return selection.end; }
    octet::Selection Selected() const override { return selection; }
    void Select(const octet::Selection& value) override { selection = value; }
    void Beep() override;
    void ShowError(int stringId) override;
    AddressFieldLogic* GiveFocusTo(int id) override;

    std::u32string text;
    octet::Selection selection;

  private:
    FakeFields& fields_;
    AddressFieldSpec spec_;

  public:
    AddressFieldLogic logic;
};

class FakeFields {
  public:
    FakeFields() {
        for (std::size_t i = 0; i < 4; ++i) {
            octets[i] = std::make_unique<FakeField>(*this, kAddressFields[i]);
        }
    }
    // As FakeField::Press; '\t' leaves the octets for the next control, as Tab does.
    void Type(const std::u32string& keys) {
        for (const char32_t key : keys) {
            if (focus >= octets.size()) {
                return;
            }
            if (key == U'\t') {
                octets[focus]->logic.OnFocusLost(true);
                focus = octets.size();
            } else {
                octets[focus]->Press(key);
            }
        }
    }
    std::array<std::u32string, 4> Texts() const {
        return {octets[0]->text, octets[1]->text, octets[2]->text, octets[3]->text};
    }

    std::array<std::unique_ptr<FakeField>, 4> octets;
    std::size_t focus = 0;  // 4: another control
    int beeps = 0;
    std::vector<int> messages;
};

void FakeField::Press(char32_t key) {
    const bool arrow = key == U'>' || key == U'<';
    const octet::Event event =
        arrow ? octet::Event{octet::KeyDown{key == U'>' ? octet::Key::Right : octet::Key::Left}}
              : octet::Event{octet::Typed{std::u32string(1, key)}};
    logic.OnKey(event, [&](bool) {
        const auto size = static_cast<int>(text.size());
        if (key == U'>' || key == U'<') {
            const int caret = std::clamp(selection.end + (key == U'>' ? 1 : -1), 0, size);
            selection = {caret, caret};
            return;
        }
        std::u32string edited = text;
        int caret = selection.start;
        if (key == U'\b') {
            caret = selection.end > selection.start ? selection.start : std::max(caret - 1, 0);
            edited.erase(static_cast<std::size_t>(caret),
                         static_cast<std::size_t>(std::max(selection.end - caret, 0)));
        } else {
            edited.replace(static_cast<std::size_t>(selection.start),
                           static_cast<std::size_t>(selection.end - selection.start), 1, key);
            ++caret;
        }
        if (edited.size() <= spec_.length && edited != text) {
            text = edited;
            selection = {caret, caret};
            logic.OnTextChanged();
        }
    });
}

void FakeField::Beep() {
    ++fields_.beeps;
}

void FakeField::ShowError(int stringId) {
    fields_.messages.push_back(stringId);
}

// Any control may be given the focus; only an octet has a logic to hand back.
AddressFieldLogic* FakeField::GiveFocusTo(int id) {
    logic.OnFocusLost(true);
    const int ids[] = {control::kOctet1, control::kOctet2, control::kOctet3, control::kOctet4};
    fields_.focus = static_cast<std::size_t>(std::find(std::begin(ids), std::end(ids), id) - ids);
    return fields_.focus < 4 ? &fields_.octets[fields_.focus]->logic : nullptr;
}

TEST(AddressFieldLogicTest, KeysTypedIntoTheOctets) {
    const struct {
        std::u32string keys;
        std::array<std::u32string, 4> texts;
        std::size_t focus;
        int beeps;
        std::vector<int> messages;
    } rows[] = {
        // The "." after a full field is the separator already given; a "." elsewhere moves on
        // and goes when the field is left.
        {U"192.0.2.1", {U"192", U"0", U"2", U"1"}, 3, 0, {}},
        {U"123.", {U"123", U"", U"", U""}, 1, 0, {}},
        {U"12>.", {U"12", U"0", U"", U""}, 2, 0, {}},
        // Refused characters beep and leave the text as it was; Space moves on selected.
        {U"1a-", {U"1", U"", U"", U""}, 0, 2, {}},
        {U"1 2", {U"1", U"2", U"", U""}, 1, 1, {}},
        // Leaving holds the value to its range; Left goes back to the caret behind the text.
        {U"2555", {U"223", U"5", U"", U""}, 1, 1, {msg::kAboveMaximum}},
        {U"1>2<3", {U"13", U"2", U"", U""}, 0, 0, {}},
        {U"1\b\b2", {U"2", U"", U"", U""}, 0, 0, {}},
        // A full octet 4 keeps the focus: a fourth digit is refused for the length, and the value
        // is held to its range only when the field is left.
        {U"1.2.3.2567", {U"1", U"2", U"3", U"256"}, 3, 0, {}},
        {U"1.2.3.256\t", {U"1", U"2", U"3", U"255"}, 4, 1, {msg::kAboveMaximum}},
    };
    for (const auto& row : rows) {
        FakeFields fields;
        fields.Type(row.keys);
        const std::string keys(row.keys.begin(), row.keys.end());
        EXPECT_EQ(fields.Texts(), row.texts) << keys;
        EXPECT_EQ(fields.focus, row.focus) << keys;
        EXPECT_EQ(fields.beeps, row.beeps) << keys;
        EXPECT_EQ(fields.messages, row.messages) << keys;
    }
}

TEST(AddressFieldLogicTest, WhatAFieldSelectsWhenTheFocusComes) {
    // Octet 2 holds 55, its caret left behind it.
    const struct {
        std::u32string keys;
        std::size_t focus;
        octet::Selection selection;
    } rows[] = {
        {U"12>", 1, {0, 0}},        // on by an arrow: the caret at the start, nothing selected
        {U"192", 1, {0, 2}},        // on from a full field: the whole text selected
        {U"1 ", 1, {0, 2}},         // by Space, and by a "."
        {U"1.", 1, {0, 2}},         //
        {U"1 <", 0, {1, 1}},        // back: the caret behind the last character
        {U"1.2.3.255", 3, {3, 3}},  // a full octet 4 keeps the focus, the caret behind its text
    };
    for (const auto& row : rows) {
        FakeFields fields;
        fields.octets[1]->text = U"55";
        fields.octets[1]->selection = {2, 2};
        fields.Type(row.keys);
        const std::string keys(row.keys.begin(), row.keys.end());
        ASSERT_EQ(fields.focus, row.focus) << keys;
        EXPECT_EQ(fields.octets[row.focus]->selection, row.selection) << keys;
    }
}

TEST(AddressFieldLogicTest, ARefusedChangePutsBackTextAndSelection) {
    FakeFields fields;
    FakeField& octet = *fields.octets[0];
    octet.SetFieldText(U"12");
    EXPECT_EQ(octet.logic.LastAccepted(), U"12");
    octet.selection = {0, 2};
    octet.Press(U'x');
    EXPECT_EQ(octet.text, U"12");
    EXPECT_EQ(octet.selection, (octet::Selection{0, 2}));
    // Held on a download's start: an empty field passes with a beep, a value out of range not.
    EXPECT_TRUE(fields.octets[1]->logic.HoldToRange(true));
    octet.SetFieldText(U"0");
    EXPECT_FALSE(octet.logic.HoldToRange(true));
    EXPECT_EQ(octet.text, U"1");
    EXPECT_EQ(fields.messages, std::vector<int>{msg::kBelowMinimum});
    EXPECT_EQ(fields.beeps, 3);
}

}  // namespace
}  // namespace vexil
