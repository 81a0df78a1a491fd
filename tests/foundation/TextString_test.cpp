#include "foundation/TextString.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>

namespace vp {
namespace {

TEST(TextString, EmptyStringsAreValid) {
    TextString empty;
    EXPECT_EQ(empty.length(), 0u);
    ASSERT_TRUE(empty.isValid());
    EXPECT_EQ(empty.data()[0], '\0');
    EXPECT_TRUE(empty.isEmpty());

    TextString joined = empty + TextString();
    EXPECT_TRUE(joined.isValid());
    EXPECT_EQ(joined.length(), 0u);
    EXPECT_EQ(joined.data()[0], '\0');
    EXPECT_TRUE(joined == "");

    TextString fromNull(static_cast<const char*>(nullptr));
    EXPECT_TRUE(fromNull.isValid());
    EXPECT_EQ(fromNull.length(), 0u);
    EXPECT_EQ((TextString("ab") + static_cast<const char*>(nullptr)).length(), 2u);
}

TEST(TextString, EmbeddedNulKeepsLengthButEndsTextOperations) {
    const char raw[] = {'a', 'b', '\0', 'c', 'd'};
    TextString withNul(raw, 5);
    EXPECT_EQ(withNul.length(), 5u);
    EXPECT_EQ(std::memcmp(withNul.data(), raw, 5), 0);
    EXPECT_EQ(withNul.data()[5], '\0');

    TextString copy(withNul);
    EXPECT_EQ(copy.length(), 5u);
    EXPECT_EQ(copy.data()[3], 'c');

    TextString joined = withNul + "x";
    EXPECT_EQ(joined.length(), 3u);
    EXPECT_TRUE(joined == "abx");
    EXPECT_EQ((TextString("x") + withNul).length(), 3u);

    EXPECT_TRUE(withNul == "ab");
    EXPECT_TRUE(withNul == TextString("ab"));
    EXPECT_FALSE(withNul == "abcd");
    EXPECT_TRUE(withNul.equalsIgnoreCase(TextString("AB")));
}

TEST(TextString, CollapseSeparatorFoldsRunsAndTrimsEnds) {
    EXPECT_TRUE(TextString("\\\\a\\\\b\\").collapseSeparator('\\') == "a\\b");
    EXPECT_EQ(TextString("\\\\a\\\\b\\").collapseSeparator('\\').length(), 3u);
    EXPECT_TRUE(TextString("c:\\dir\\\\\\sub\\file").collapseSeparator('\\') == "c:\\dir\\sub\\file");

    for (const char* nothing : {"", "\\\\\\"}) {
        TextString collapsed = TextString(nothing).collapseSeparator('\\');
        EXPECT_TRUE(collapsed.isValid()) << nothing;
        EXPECT_EQ(collapsed.length(), 0u) << nothing;
        EXPECT_TRUE(collapsed == "") << nothing;
    }

    TextString words = TextString("  two   words ").collapseSeparator(' ');
    EXPECT_TRUE(words == "two words");
    EXPECT_EQ(words.length(), 9u);
    EXPECT_TRUE(TextString("one").collapseSeparator(' ') == "one");
}

TEST(TextString, CaseFoldingCoversOnlyAsciiLetters) {
    EXPECT_TRUE(TextString("AbC").equalsIgnoreCase(TextString("aBc")));
    EXPECT_FALSE(TextString("\xC4").equalsIgnoreCase(TextString("\xE4")));
    EXPECT_FALSE(TextString("[").equalsIgnoreCase(TextString("{")));
    EXPECT_FALSE(TextString("@").equalsIgnoreCase(TextString("`")));
    EXPECT_FALSE(TextString("ab").equalsIgnoreCase(TextString("abc")));
    EXPECT_TRUE(TextString("").equalsIgnoreCase(TextString()));

    TextString lowered = TextString("AZaz@[`{\xC4\xE4 09").lowerCased();
    EXPECT_TRUE(lowered == "azaz@[`{\xC4\xE4 09");
    EXPECT_FALSE(TextString("ABC") == "abc");
}

TEST(TextString, AssignmentCopiesAndSurvivesAliasing) {
    TextString text("hello");
    TextString& alias = text;
    text = alias;
    EXPECT_TRUE(text == "hello");
    text = text.c_str();
    EXPECT_TRUE(text == "hello");
    text = text.c_str() + 2;  // a tail of its own buffer
    EXPECT_TRUE(text == "llo");
    EXPECT_EQ(text.length(), 3u);

    TextString other;
    other = text;
    text = "changed";
    EXPECT_TRUE(other == "llo");
    TextString moved(std::move(other));
    EXPECT_TRUE(moved == "llo");
    EXPECT_EQ(other.length(), 0u);
    EXPECT_TRUE(other.isEmpty());
    EXPECT_STREQ(other.c_str(), "");
}

TEST(ByteBuffer, ResizeKeepsContentOnlyAtTheSameSize) {
    const uint8_t raw[] = {1, 2, 3, 4};
    ByteBuffer buffer(raw, 4);
    EXPECT_EQ(buffer.resize(4), 1u);
    ASSERT_EQ(buffer.size(), 4u);
    EXPECT_EQ(std::memcmp(buffer.data(), raw, 4), 0);

    EXPECT_EQ(buffer.resize(6), 1u);
    ASSERT_EQ(buffer.size(), 6u);
    for (uint32_t i = 0; i < 6; ++i) EXPECT_EQ(buffer.data()[i], 0) << i;
    buffer.data()[0] = 9;
    EXPECT_EQ(buffer.resize(2), 1u);
    ASSERT_EQ(buffer.size(), 2u);
    EXPECT_EQ(buffer.data()[0], 0);
    EXPECT_EQ(buffer.resize(0), 1u);
    EXPECT_EQ(buffer.size(), 0u);

    ByteBuffer zeros(3);
    ASSERT_EQ(zeros.size(), 3u);
    EXPECT_EQ(zeros.data()[2], 0);
}

TEST(ByteBuffer, MatchesComparesSizeAndBytes) {
    const uint8_t raw[] = {'a', 0, 'b'};
    const uint8_t other[] = {'a', 0, 'c'};
    EXPECT_EQ(ByteBuffer(raw, 3).matches(ByteBuffer(raw, 3)), 1u);
    EXPECT_EQ(ByteBuffer(raw, 3).matches(ByteBuffer(other, 3)), 0u);  // past the NUL still counts
    EXPECT_EQ(ByteBuffer(raw, 3).matches(ByteBuffer(raw, 2)), 0u);
    EXPECT_EQ(ByteBuffer().matches(ByteBuffer()), 1u);
    EXPECT_EQ(ByteBuffer().matches(ByteBuffer(raw, 0)), 1u);
    EXPECT_EQ(ByteBuffer(1).matches(ByteBuffer()), 0u);
}

TEST(ByteBuffer, AssignmentCopiesAndSurvivesAliasing) {
    const uint8_t raw[] = {5, 6, 7};
    ByteBuffer buffer(raw, 3);
    ByteBuffer& alias = buffer;
    buffer = alias;
    ASSERT_EQ(buffer.size(), 3u);
    EXPECT_EQ(buffer.data()[2], 7);
    EXPECT_EQ(buffer.assign(buffer.data() + 1, 2), 1u);  // from its own bytes
    ASSERT_EQ(buffer.size(), 2u);
    EXPECT_EQ(buffer.data()[0], 6);

    ByteBuffer copy(buffer);
    copy.data()[0] = 0;
    EXPECT_EQ(buffer.data()[0], 6);
    ByteBuffer moved(std::move(copy));
    EXPECT_EQ(copy.size(), 0u);
    EXPECT_EQ(copy.data(), nullptr);
    EXPECT_EQ(moved.size(), 2u);
    EXPECT_EQ(buffer.assign(nullptr, 0), 1u);
    EXPECT_EQ(buffer.size(), 0u);
}

} // namespace
} // namespace vp
