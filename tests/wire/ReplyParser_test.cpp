#include "wire/ReplyParser.h"

#include "support/Bytes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vp {
namespace {

using test::le32;
using Outcome = ReplyParser::Outcome;

// The socket tests of the client play these replies too; here each is fed
// whole and then a byte at a time, and either way the parser stops where
// the reply ends and leaves what follows to the next reader.
TEST(ReplyParserTest, TakesEachReplyAndNothingAfterIt) {
    const std::string own = le32(ProtocolVersion::own().packed());
    const std::string next = "NEXT";
    struct Case {
        const char* what;
        std::string bytes;
        Outcome outcome;
        uint32_t taken;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"YES without data", own + le32(1) + le32(0) + next, Outcome::Yes, 12, ""},
        {"NO with a reason", own + le32(0) + le32(3) + "abc" + next, Outcome::No, 15, "abc"},
        {"another version", le32(0x0014FFEB) + le32(1) + le32(0) + next, Outcome::OtherVersion, 4, ""},
        {"text beyond the bound", own + le32(1) + le32(wire::kMaxPayloadLength + 1) + next, Outcome::NoRoom, 12, ""},
    };
    for (const bool whole : {true, false}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (whole ? "" : ", a byte at a time"));
            const auto* bytes = reinterpret_cast<const uint8_t*>(c.bytes.data());
            ReplyParser reply(ProtocolVersion::own());
            uint32_t taken = 0;
            for (size_t at = 0; at < c.bytes.size(); at += whole ? c.bytes.size() : 1)
                taken += reply.consume(bytes + at, whole ? static_cast<uint32_t>(c.bytes.size()) : 1);
            EXPECT_EQ(taken, c.taken);
            EXPECT_EQ(reply.outcome(), c.outcome);
            EXPECT_EQ(reply.wanted(), 0u);
            EXPECT_EQ(reply.takeText().c_str(), c.text);
        }
    }
}

} // namespace
} // namespace vp
