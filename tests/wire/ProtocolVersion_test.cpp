#include "wire/ProtocolVersion.h"

#include "support/Bytes.h"

#include <gtest/gtest.h>

#include <string>

namespace vp {
namespace {

using test::le32;

TEST(ProtocolVersionTest, PacksChecksAndOrders) {
    EXPECT_EQ(ProtocolVersion::own().packed(), 0x0013FFECu);
    EXPECT_EQ(le32(ProtocolVersion::own().packed()), std::string("\xEC\xFF\x13\x00", 4));
    EXPECT_EQ(ProtocolVersion(2, 5, 7).packed(), 0x0725F8DAu);
    EXPECT_TRUE(ProtocolVersion::fromWord(0x0725F8DA).isValid());

    // A wrong check value, or a major outside 1..4, is invalid and packs to
    // all ones; two invalid versions are equal.
    const ProtocolVersion badCheck = ProtocolVersion::fromWord(0x0013FFED);
    const ProtocolVersion majorFive = ProtocolVersion(5, 3, 0);
    const ProtocolVersion majorZero = ProtocolVersion::fromWord(0x0003FFFC);
    for (const ProtocolVersion& bad : {badCheck, majorFive, majorZero, ProtocolVersion()}) {
        EXPECT_FALSE(bad.isValid());
        EXPECT_EQ(bad.packed(), 0xFFFFFFFFu);
    }
    EXPECT_TRUE(badCheck == majorFive);
    EXPECT_FALSE(badCheck == ProtocolVersion::own());

    // Minor first, then build; the major does not count; invalid is lowest.
    const ProtocolVersion own = ProtocolVersion::own();
    EXPECT_EQ(own.compare(ProtocolVersion(1, 4, 0)), -1);
    EXPECT_EQ(own.compare(ProtocolVersion(1, 2, 200)), 1);
    EXPECT_EQ(own.compare(ProtocolVersion(1, 3, 1)), -1);
    EXPECT_EQ(own.compare(ProtocolVersion(4, 3, 0)), 0);
    EXPECT_EQ(own.compare(badCheck), 1);
    EXPECT_EQ(badCheck.compare(own), -1);
}

} // namespace
} // namespace vp
