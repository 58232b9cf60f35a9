// The panes' bookkeeping that both backends share: where lines start in the bytes, a text that
// grew against one that was replaced, and display rows.
#include "app/framework/PaneText.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> Lines(const afx::PaneText& text) {
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < text.LineCount(); ++i)
        lines.emplace_back(text.LineBytes(i));
    return lines;
}

TEST(PaneText, LinesEndAtLfCrOrCrLfAndAGrownTextReindexesOnlyItsTail) {
    CString member("a\r\nb\rc\n");
    afx::PaneText text;
    auto change = text.SetText(member);
    EXPECT_FALSE(change.grew);
    EXPECT_EQ(Lines(text), (std::vector<std::string>{"a", "b", "c", ""}));
    EXPECT_EQ(text.LineBytes(0, true), "a\r\n");

    // A CR at the end may be the first half of a CR LF: the line before it is indexed again.
    member += "d\r";
    change = text.SetText(member);
    EXPECT_TRUE(change.grew);
    EXPECT_EQ(change.from, 3u);
    member += "\ne";
    change = text.SetText(member);
    EXPECT_TRUE(change.grew);
    EXPECT_EQ(change.from, 3u);
    EXPECT_EQ(Lines(text), (std::vector<std::string>{"a", "b", "c", "d", "e"}));
    EXPECT_EQ(text.LineBytes(3, true), "d\r\n");
    EXPECT_EQ(text.LineOf(member.size() - 1), 4u);
    EXPECT_EQ(text.LineOf(0), 0u);

    // The same text again changes nothing; a text from elsewhere is compared by its bytes.
    EXPECT_FALSE(text.SetText(member).changed);
    EXPECT_TRUE(text.SetBytes(member.Str() + "f").grew);
    EXPECT_FALSE(text.SetBytes("x\ny").grew);
    EXPECT_EQ(Lines(text), (std::vector<std::string>{"x", "y"}));
}

TEST(PaneText, EntriesDroppedAtTheTopOrAReplacedMemberIndexAgainWhole) {
    CString member("one\r\ntwo\r\nthree");
    afx::PaneText text;
    text.SetText(member);
    member.Delete(0, 5); // the oldest entry goes
    ASSERT_EQ(text.Shown(), nullptr) << "the member no longer starts with what is shown";
    auto change = text.SetText(member);
    EXPECT_FALSE(change.grew);
    EXPECT_EQ(Lines(text), (std::vector<std::string>{"two", "three"}));
    member = "new";
    EXPECT_FALSE(text.SetText(member).grew);
    EXPECT_EQ(Lines(text), (std::vector<std::string>{"new"}));
}

TEST(PaneText, DisplayRowsLocateFromEitherEnd) {
    afx::PaneText text;
    text.SetBytes("a\nb\nc\nd");
    EXPECT_EQ(text.Rows(), 4);
    text.SetRows(1, 3); // b wraps into three rows
    EXPECT_EQ(text.Rows(), 6);
    const std::pair<std::size_t, int> table[] = {
        {0, 0}, {1, 0}, {1, 1}, {1, 2}, {2, 0}, {3, 0},
    };
    for (int row = 0; row < 6; ++row)
        EXPECT_EQ(text.Locate(row), table[row]) << row;
    EXPECT_EQ(text.Locate(-5), table[0]);
    EXPECT_EQ(text.Locate(99), table[5]);
    text.SetBytes("a\nb\nc\nd\ne"); // grew: the rows counted so far stay
    EXPECT_EQ(text.Rows(), 7);
    text.ResetRows();
    EXPECT_EQ(text.Rows(), 5);
}

} // namespace
