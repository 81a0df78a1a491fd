#include "contacts/ContactRecord.h"

#include "contacts/ContactBytes.h"
#include "support/Bytes.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <string>

namespace vp {
namespace {

using test::item;
using test::kSignatureItem;
using test::numberPair;
using test::textPair;

// Reads one record in either layout from a file holding the signature and body.
struct ReadResult {
    uint32_t result = 0;
    ContactRecord record;
};

ReadResult readBack(const test::TempDir& dir, const std::string& body, bool previous = false) {
    test::writeBytes(dir.native() / "r", kSignatureItem + body);
    RecordFile file(dir.path("r").c_str(), RecordFile::kReading);
    ReadResult read;
    read.result = previous ? read.record.readPrevious(file) : read.record.read(file);
    return read;
}

std::string written(const test::TempDir& dir, const ContactRecord& record, uint32_t& result) {
    {
        RecordFile file(dir.path("w").c_str(), RecordFile::kWriting);
        result = record.write(file);
    }
    return test::readBytes(dir.native() / "w").substr(kSignatureItem.size());
}

// The defaults are checked where they are written: in the file layouts.
TEST(ContactRecord, CopyOfProperties) {
    ContactRecord record;
    ContactRecord edited;
    edited.setUserName("someone");
    edited.setContactType(ContactTypeGroup);
    edited.setOnline(1);
    edited.setDisplayName("Shown");
    edited.setAutoReplyMsg("Later");
    edited.setComments("Met at work");
    edited.setPrivacy(kPrivacyIgnore);
    edited.setAllowFiles(0);
    edited.setAutoReply(0);
    edited.setAutoReplyWithInclude(0);
    EXPECT_EQ(record.copyProperties(edited), 1u);
    EXPECT_TRUE(record.getDisplayName() == "Shown");
    EXPECT_TRUE(record.getAutoReplyMsg() == "Later");
    EXPECT_TRUE(record.getComments() == "Met at work");
    EXPECT_EQ(record.getPrivacy(), kPrivacyIgnore);
    EXPECT_EQ(record.getAllowFiles() + record.getAutoReply() + record.getAutoReplyWithInclude(), 0u);
    // Names, type and presence are not properties.
    EXPECT_TRUE(record.getUserName().isEmpty());
    EXPECT_EQ(record.isUser(), 1u);
    EXPECT_EQ(record.getOnline(), 0u);
    EXPECT_EQ(record.copyProperties(record), 0u);
}

TEST(ContactRecord, NameKeyCollapsesBlanksAndLowerCases) {
    // A name ends at its first NUL, as joined texts do, with the space that
    // collapsing leaves before it.
    const struct {
        std::string user, server, text;
        bool valid;
    } cases[] = {
        {" Ann   LEE ", " Mail.Example.ORG", "ann lee@mail.example.org", true},
        {"", "host", "@host", false},
        {"ann", "   ", "ann@", false},
        {"", "", "@", false},
        {std::string("Ann \0x", 6), "H", "ann @h", true},
        {std::string(" \0x", 3), "h", "@h", false},
    };
    for (const auto& row : cases) {
        const TextString user(row.user.data(), static_cast<uint32_t>(row.user.size()));
        const TextString server(row.server.data(), static_cast<uint32_t>(row.server.size()));
        const NameKey key(user, server);
        EXPECT_EQ(key.isValid(), row.valid) << row.text;
        EXPECT_EQ(NameKey::keyText(user, server).c_str(), row.text);
        EXPECT_EQ(key.text().c_str(), row.valid ? row.text : "");
    }

    ContactRecord record;
    record.setUserName("Ann");
    record.setServerName("Host");
    record.setHandle(7);
    const FieldTuple row = ContactRecord::indexRow(&record);
    ASSERT_EQ(row.count(), 4u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(row.field(0).data()), row.field(0).size()), "ann@host");
    EXPECT_EQ(row.field(1).size(), 4u);
    EXPECT_EQ(numberOf(row.field(3)), 7u);
    const FieldTuple none = ContactRecord::indexRow(nullptr);
    ASSERT_EQ(none.count(), 4u);
    EXPECT_EQ(none.field(0).size() + none.field(3).size(), 0u);
}

TEST(ContactRecord, WritesEachTypeInItsLayout) {
    test::TempDir dir;
    uint32_t result = 0;

    ContactRecord group;
    group.setContactType(ContactTypeGroup);
    group.setUserName("ignored");
    group.setDisplayName("Crew");
    group.setGroupExpanded(1);
    EXPECT_EQ(written(dir, group, result),
              std::string("\x0b\x00\x00\x00" "ContactType" "\x04\x00\x00\x00\x01\x00\x00\x00"
                          "\x0b\x00\x00\x00" "DisplayName" "\x04\x00\x00\x00" "Crew"
                          "\x07\x00\x00\x00" "Privacy" "\x04\x00\x00\x00\x00\x00\x00\x00"
                          "\x0d\x00\x00\x00" "GroupExpanded" "\x04\x00\x00\x00\x01\x00\x00\x00"
                          "\x03\x00\x00\x00" "End" "\x04\x00\x00\x00\x2c\x01\x00\x00",
                          105));
    EXPECT_EQ(result, 1u);

    ContactRecord end;
    end.setContactType(ContactTypeGroupEnd);
    EXPECT_EQ(written(dir, end, result), numberPair("ContactType", 2) + numberPair("End", 300));

    ContactRecord user;
    user.setUserName("ann");
    user.setServerName("host");
    user.setDisplayName("Ann");
    user.setPrivacy(kPrivacyAway);
    EXPECT_EQ(written(dir, user, result),
              numberPair("ContactType", 0) + textPair("UserName", "ann") + textPair("ServerName", "host") +
                  textPair("DisplayName", "Ann") + numberPair("AutoReply", 1) + numberPair("AutoReplyWithInclude", 1) +
                  textPair("AutoReplyMsg", "") + textPair("Comments", "") + numberPair("AllowFiles", 1) +
                  numberPair("Privacy", 1) + numberPair("End", 300));

    ContactRecord odd;
    odd.setContactType(5);
    EXPECT_EQ(written(dir, odd, result), "");
    EXPECT_EQ(result, 0u);
}

TEST(ContactRecord, ReadsPairsIgnoringCaseAndUnknownNames) {
    test::TempDir dir;
    const ReadResult read = readBack(
        dir, numberPair("contacttype", 1) +
                 // A name ends at its first NUL, however long the item.
                 item(std::string("DISPLAYNAME\0", 12) + std::string(40, '-')) + item("Crew") + textPair("Colour", "blue") +
                 numberPair("GroupExpanded", 1) + textPair("Comments", "") +
                 // A short number carries no whole value; a long one gives its first four bytes.
                 item(std::string("Privacy")) + item(std::string("\x02\x00", 2)) + item("AllowFiles") +
                 item(std::string("\x00\x00\x00\x00\xff\xff\xff\xff", 8)) + textPair("CommentsToo", "blue") +
                 numberPair("End", 300) + textPair("UserName", "after the end"));
    EXPECT_EQ(read.result, 1u);
    EXPECT_EQ(read.record.getContactType(), ContactTypeGroup);
    EXPECT_TRUE(read.record.getDisplayName() == "Crew");
    EXPECT_EQ(read.record.getGroupExpanded(), 1u);
    EXPECT_EQ(read.record.getPrivacy(), kPrivacyDefault);
    EXPECT_EQ(read.record.getAllowFiles(), 0u);
    EXPECT_TRUE(read.record.getComments().isEmpty());
    EXPECT_TRUE(read.record.getUserName().isEmpty());

    // Cut off by the end of the file: what was read stays, and the read succeeds.
    const ReadResult cut = readBack(dir, textPair("UserName", "ann") + item("ServerName"));
    EXPECT_EQ(cut.result, 1u);
    EXPECT_TRUE(cut.record.getUserName() == "ann");

    // A length word that points past the end is damage, not the end.
    const ReadResult damaged = readBack(dir, textPair("UserName", "ann") + test::le32(50) + "Se");
    EXPECT_EQ(damaged.result, 0u);
}

TEST(ContactRecord, ReadsThePreviousLayout) {
    test::TempDir dir;
    const ReadResult read =
        readBack(dir,
                 textPair("UserName", "bob") + textPair("ServerName", "host") + textPair("DisplayName", "Bob") +
                     textPair("AutoReplyMsg", "Away") + textPair("Comments", "old") + numberPair("AcceptFiles", 0) +
                     numberPair("AutoReply", 0) + numberPair("State", 3) + numberPair("GroupExpanded", 1) +
                     numberPair("End", 270),
                 true);
    EXPECT_EQ(read.result, 1u);
    EXPECT_TRUE(read.record.getUserName() == "bob");
    EXPECT_TRUE(read.record.getAutoReplyMsg() == "Away");
    EXPECT_EQ(read.record.getAllowFiles(), 0u);
    EXPECT_EQ(read.record.getAutoReply(), 0u);
    EXPECT_EQ(read.record.getPrivacy(), kPrivacyIgnore);
    EXPECT_EQ(read.record.getGroupExpanded(), 0u);
    EXPECT_EQ(read.record.getAutoReplyWithInclude(), 1u);

    // State 0 names no state of that layout and leaves "Default".
    const ReadResult zero = readBack(dir, numberPair("State", 0), true);
    EXPECT_EQ(zero.result, 1u);
    EXPECT_EQ(zero.record.getPrivacy(), kPrivacyDefault);
}

} // namespace
} // namespace vp
