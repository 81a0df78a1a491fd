#include "notes/NoteRecord.h"

#include "support/Bytes.h"

#include <string>

#include <gtest/gtest.h>

namespace vp {
namespace {

using test::bytes;

class FixedClock final : public platform::TimeSource {
public:
    platform::LocalDateTime localTime() const override {
        platform::LocalDateTime time;
        time.year = 2005;
        time.month = 3;
        time.day = 7;
        time.dayOfWeek = 1;
        time.hour = 0;
        time.minute = 30;
        return time;
    }
    platform::TimeZone timeZone() const override {
        platform::TimeZone zone;
        zone.bias = -330;
        return zone;
    }
};

std::string text(const TextString& value) {
    return value.c_str();
}

std::string text(const ContentBuffer& value) {
    return std::string(value.data() ? value.data() : "", value.size());
}

// Header (version 5, autoReply 1, block 16, N 3, L 10, A 5), the rectangle
// (-5, 20, 180, 150), "ann", the RTF and "a.txt".
const std::string kPayload = bytes("\x05\x00\x00\x00"
                                   "\x01\x00\x00\x00"
                                   "\x10\x00\x00\x00"
                                   "\x03\x00\x00\x00"
                                   "\x0a\x00\x00\x00"
                                   "\x05\x00\x00\x00"
                                   "\xfb\xff\xff\xff"
                                   "\x14\x00\x00\x00"
                                   "\xb4\x00\x00\x00"
                                   "\x96\x00\x00\x00"
                                   "ann{\\rtf1 hi}a.txt",
                                   58);

uint32_t parse(NoteRecord& note, const std::string& payload) {
    return note.ParsePayload(reinterpret_cast<const uint8_t*>(payload.data()), static_cast<uint32_t>(payload.size()),
                             FixedClock());
}

std::string withUint32(std::string payload, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) payload[offset + i] = static_cast<char>((value >> (8 * i)) & 0xff);
    return payload;
}

TEST(NotePayload, BuildsTheLiteralLayout) {
    NoteRecord note;
    note.rect = {-5, 20, 180, 150};
    note.autoReply = 1;
    note.content.assign("{\\rtf1 hi}", 10);
    note.attachmentFolder = "C:\\Files\\";
    note.attachmentName = "a.txt";
    ASSERT_EQ(note.BuildPayload("ann"), 1u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(note.payload()), note.payloadSize()), kPayload);

    // Rebuilding replaces the old payload; no attachment gives A = 0.
    note.autoReply = 0;
    note.attachmentName = "";
    note.content.clear();
    ASSERT_EQ(note.BuildPayload(""), 1u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(note.payload()), note.payloadSize()),
              bytes("\x05\0\0\0\0\0\0\0\x10\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0"
                    "\xfb\xff\xff\xff\x14\0\0\0\xb4\0\0\0\x96\0\0\0",
                    40));
}

TEST(NotePayload, ParsesKeepingItsOwnCornerAndTheSendersSize) {
    NoteRecord note;
    const NoteRect corner = note.rect;
    ASSERT_EQ(parse(note, kPayload), 1u);
    EXPECT_EQ(note.received, 1u);
    EXPECT_EQ(note.autoReply, 1u);
    EXPECT_EQ(note.rect.left, corner.left);
    EXPECT_EQ(note.rect.top, corner.top);
    EXPECT_EQ(note.rect.right - note.rect.left, 185);
    EXPECT_EQ(note.rect.bottom - note.rect.top, 130);
    EXPECT_EQ(text(note.peerName), "ann");
    EXPECT_EQ(text(note.content), "{\\rtf1 hi}");
    EXPECT_EQ(text(note.attachmentName), "a.txt");
    EXPECT_EQ(text(note.status), "Received: 12:30 AM 3/7/5 +0530");

    // Any non-zero autoReply counts as 1.
    NoteRecord other;
    ASSERT_EQ(parse(other, withUint32(kPayload, 4, 7)), 1u);
    EXPECT_EQ(other.autoReply, 1u);
}

// Every malformed payload is refused before any text is taken from it.
TEST(NotePayload, RefusesMalformedPayloads) {
    const struct {
        const char* what;
        std::string payload;
    } cases[] = {
        {"empty", std::string()},
        {"shorter than version and flag", kPayload.substr(0, 7)},
        {"wrong version", withUint32(kPayload, 0, 4)},
        {"shorter than the header", kPayload.substr(0, 23)},
        {"header only", kPayload.substr(0, 24)},
        {"one byte short", kPayload.substr(0, kPayload.size() - 1)},
        {"one extra byte", kPayload + "x"},
        // The totals match the wrong block sizes, so only the 16-byte rule
        // can refuse them.
        {"rectangle block of 20", withUint32(kPayload, 8, 20).insert(40, 4, 'x')},
        {"rectangle block of 8", withUint32(kPayload, 8, 8).erase(32, 8)},
        {"name past the end", withUint32(kPayload, 12, 40)},
        {"content past the end", withUint32(kPayload, 16, 11)},
        {"attachment name past the end", withUint32(kPayload, 20, 6)},
        {"huge name length", withUint32(kPayload, 12, 0xFFFFFFFFu)},
        {"huge block size", withUint32(kPayload, 8, 0xFFFFFFF0u)},
        // The three lengths wrap to the right total in 32 bits.
        {"lengths that wrap", withUint32(withUint32(kPayload, 16, 0x80000007u), 20, 0x80000008u)},
    };
    for (const auto& each : cases) {
        NoteRecord note;
        EXPECT_EQ(parse(note, each.payload), 0u) << each.what;
        EXPECT_EQ(text(note.peerName), "") << each.what;
        EXPECT_EQ(note.content.size(), 0u) << each.what;
        EXPECT_EQ(note.received, 1u) << each.what;
    }
    NoteRecord note;
    EXPECT_EQ(note.ParsePayload(nullptr, 58, FixedClock()), 0u);
}

} // namespace
} // namespace vp
