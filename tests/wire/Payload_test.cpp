#include "wire/Payload.h"

#include "support/Bytes.h"

#include <gtest/gtest.h>

#include <string>

namespace vp {
namespace {

// A write that did not fit used to be dropped while ok() stayed true, so a
// short payload went out as if it were whole.
TEST(PayloadWriterTest, AWriteThatDoesNotFitFailsTheWriter) {
    PayloadWriter full(7);
    full.word(1);
    full.text("abc");
    ASSERT_TRUE(full.ok());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(full.data()), full.size()), test::le32(1) + "abc");

    PayloadWriter wordPastTheEnd(7);
    wordPastTheEnd.text("abc");
    wordPastTheEnd.word(1);
    wordPastTheEnd.word(2);
    PayloadWriter textPastTheEnd(6);
    textPastTheEnd.word(1);
    textPastTheEnd.text("abc");
    for (const PayloadWriter* failed : {&wordPastTheEnd, &textPastTheEnd}) {
        EXPECT_FALSE(failed->ok());
        // Nothing of a failed writer can be sent.
        EXPECT_EQ(failed->data(), nullptr);
        EXPECT_EQ(failed->size(), 0u);
    }
}

} // namespace
} // namespace vp
