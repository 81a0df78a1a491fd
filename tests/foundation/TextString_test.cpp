#include "foundation/TextString.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace vp {
namespace {

// The whole counted content, NULs included; "<invalid>" without a buffer.
std::string counted(const TextString& text) {
    if (!text.isValid()) return "<invalid>";
    EXPECT_EQ(text.data()[text.length()], '\0');
    return std::string(text.data(), text.length());
}

TEST(TextString, EmptyAndNullTextsAreValidAndEmbeddedNulsEndTextOperations) {
    EXPECT_EQ(counted(TextString()), "");
    EXPECT_EQ(counted(TextString() + TextString()), "");
    EXPECT_EQ(counted(TextString(static_cast<const char*>(nullptr))), "");
    EXPECT_EQ(counted(TextString("ab") + static_cast<const char*>(nullptr)), "ab");
    EXPECT_TRUE(TextString().isEmpty());
    EXPECT_TRUE(TextString() == "");

    // A counted text keeps its NULs; joining and comparing stop at the first.
    const TextString withNul("ab\0cd", 5);
    EXPECT_EQ(counted(withNul), std::string("ab\0cd", 5));
    EXPECT_EQ(counted(TextString(withNul)), std::string("ab\0cd", 5));
    EXPECT_EQ(counted(withNul + "x"), "abx");
    EXPECT_EQ(counted(TextString("x") + withNul), "xab");
    EXPECT_TRUE(withNul == "ab");
    EXPECT_TRUE(withNul == TextString("ab"));
    EXPECT_FALSE(withNul == "abcd");
    EXPECT_TRUE(withNul.equalsIgnoreCase(TextString("AB")));
}

TEST(TextString, CollapseSeparatorFoldsRunsAndTrimsEnds) {
    const struct {
        const char* text;
        char separator;
        const char* collapsed;
    } cases[] = {
        {"\\\\a\\\\b\\", '\\', "a\\b"},
        {"c:\\dir\\\\\\sub\\file", '\\', "c:\\dir\\sub\\file"},
        {"", '\\', ""},
        {"\\\\\\", '\\', ""},
        {"  two   words ", ' ', "two words"},
        {"one", ' ', "one"},
    };
    for (const auto& each : cases) {
        EXPECT_EQ(counted(TextString(each.text).collapseSeparator(each.separator)), each.collapsed) << each.text;
    }
}

TEST(TextString, CaseFoldingCoversOnlyAsciiLetters) {
    const struct {
        const char* left;
        const char* right;
        bool equal;
    } cases[] = {
        {"AbC", "aBc", true}, {"\xC4", "\xE4", false}, {"[", "{", false},
        {"@", "`", false},    {"ab", "abc", false},    {"", "", true},
    };
    for (const auto& each : cases) {
        EXPECT_EQ(TextString(each.left).equalsIgnoreCase(TextString(each.right)), each.equal) << each.left;
    }
    EXPECT_EQ(counted(TextString("AZaz@[`{\xC4\xE4 09").lowerCased()), "azaz@[`{\xC4\xE4 09");
    EXPECT_FALSE(TextString("ABC") == "abc");
}

TEST(TextString, AssignmentCopiesAndSurvivesAliasing) {
    TextString text("hello");
    TextString& alias = text;
    text = alias;
    EXPECT_EQ(counted(text), "hello");
    text = text.c_str();
    EXPECT_EQ(counted(text), "hello");
    text = text.c_str() + 2;  // a tail of its own buffer
    EXPECT_EQ(counted(text), "llo");

    TextString other;
    other = text;
    text = "changed";
    EXPECT_EQ(counted(other), "llo");
    TextString moved(std::move(other));
    EXPECT_EQ(counted(moved), "llo");
    EXPECT_TRUE(other.isEmpty());
    EXPECT_STREQ(other.c_str(), "");
}

// The bytes as text, to compare whole buffers in one step.
std::string content(const ByteBuffer& buffer) {
    return std::string(reinterpret_cast<const char*>(buffer.data()), buffer.size());
}

TEST(ByteBuffer, ResizeKeepsContentOnlyAtTheSameSize) {
    ByteBuffer buffer("\1\2\3\4", 4);
    EXPECT_EQ(buffer.resize(4), 1u);
    EXPECT_EQ(content(buffer), "\1\2\3\4");
    EXPECT_EQ(buffer.resize(6), 1u);
    EXPECT_EQ(content(buffer), std::string(6, '\0'));
    buffer.data()[0] = 9;
    EXPECT_EQ(buffer.resize(2), 1u);
    EXPECT_EQ(content(buffer), std::string(2, '\0'));
    EXPECT_EQ(buffer.resize(0), 1u);
    EXPECT_EQ(buffer.size(), 0u);
    EXPECT_EQ(content(ByteBuffer(3)), std::string(3, '\0'));
}

TEST(ByteBuffer, MatchesComparesSizeAndBytes) {
    const ByteBuffer raw("a\0b", 3);
    EXPECT_EQ(raw.matches(ByteBuffer("a\0b", 3)), 1u);
    EXPECT_EQ(raw.matches(ByteBuffer("a\0c", 3)), 0u);  // past the NUL still counts
    EXPECT_EQ(raw.matches(ByteBuffer("a\0b", 2)), 0u);
    EXPECT_EQ(ByteBuffer().matches(ByteBuffer()), 1u);
    EXPECT_EQ(ByteBuffer().matches(ByteBuffer("", 0)), 1u);
    EXPECT_EQ(ByteBuffer(1).matches(ByteBuffer()), 0u);
}

TEST(ByteBuffer, AssignmentCopiesAndSurvivesAliasing) {
    ByteBuffer buffer("\5\6\7", 3);
    ByteBuffer& alias = buffer;
    buffer = alias;
    EXPECT_EQ(content(buffer), "\5\6\7");
    EXPECT_EQ(buffer.assign(buffer.data() + 1, 2), 1u);  // from its own bytes
    EXPECT_EQ(content(buffer), "\6\7");

    ByteBuffer copy(buffer);
    copy.data()[0] = 0;
    EXPECT_EQ(content(buffer), "\6\7");
    ByteBuffer moved(std::move(copy));
    EXPECT_EQ(copy.size(), 0u);
    EXPECT_EQ(copy.data(), nullptr);
    EXPECT_EQ(moved.size(), 2u);
    EXPECT_EQ(buffer.assign(nullptr, 0), 1u);
    EXPECT_EQ(buffer.size(), 0u);
}

} // namespace
} // namespace vp
