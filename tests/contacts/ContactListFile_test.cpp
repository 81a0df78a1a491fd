#include "contacts/ContactListFile.h"

#include "contacts/ContactBytes.h"
#include "contacts/ContactTreeText.h"
#include "support/Bytes.h"
#include "support/ScriptedMessages.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace vp {
namespace {

using test::item;
using test::kSignatureItem;
using test::numberItem;
using test::numberPair;
using test::textPair;

const std::string kEmptyList = std::string("\x05\x00\x00\x00" "IFFIO" "\x04\x00\x00\x00\x2c\x01\x00\x00", 17);
const std::string kGroupEnd = numberPair("ContactType", 2) + numberPair("End", 300);

std::string userRecord(const std::string& name) {
    return numberPair("ContactType", 0) + textPair("UserName", name) + textPair("ServerName", "host") +
           textPair("DisplayName", name) + numberPair("AutoReply", 1) + numberPair("AutoReplyWithInclude", 1) +
           textPair("AutoReplyMsg", "") + textPair("Comments", "") + numberPair("AllowFiles", 1) +
           numberPair("Privacy", 0) + numberPair("End", 300);
}

std::string groupRecord(const std::string& name) {
    return numberPair("ContactType", 1) + textPair("DisplayName", name) + numberPair("Privacy", 0) +
           numberPair("GroupExpanded", 0) + numberPair("End", 300);
}

ContactHandle addUser(ContactTree& tree, const char* name, ContactHandle parent, ContactHandle after) {
    ContactRecord record;
    record.setUserName(name);
    record.setServerName("host");
    record.setDisplayName(name);
    ContactHandle handle = 0;
    EXPECT_EQ(tree.addContact(record, parent, after, handle), 1u) << name;
    return handle;
}

ContactHandle addGroup(ContactTree& tree, const char* name, ContactHandle parent, ContactHandle after) {
    ContactRecord record;
    record.setContactType(ContactTypeGroup);
    record.setDisplayName(name);
    ContactHandle handle = 0;
    EXPECT_EQ(tree.addContact(record, parent, after, handle), 1u) << name;
    return handle;
}

class ContactListFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(m_dir.native() / "Contacts");
        ASSERT_EQ(m_tree.create(), 1u);
    }
    std::filesystem::path listFile() const { return m_dir.native() / "Contacts" / "List.anc"; }
    std::string loadError() const {
        return "Cannot load contacts from '" + m_dir.path("Contacts\\List.anc") +
               "' at this moment;\nThe file does not have a valid format.";
    }
    std::string boxTexts() const {
        std::string texts;
        for (const auto& box : m_messages.boxes()) texts += box.text + "|";
        return texts;
    }

    test::TempDir m_dir;
    test::ScriptedMessages m_messages;
    test::ScopedMessageService m_scoped{m_messages};
    ContactTree m_tree;
    ContactListFile m_file{m_dir.path().c_str()};
};

TEST_F(ContactListFileTest, SavesDocumentOrderAndLoadsItBack) {
    EXPECT_EQ(m_file.save(m_tree), 1u);
    EXPECT_EQ(test::readBytes(listFile()), kEmptyList);
    EXPECT_FALSE(std::filesystem::exists(m_dir.native() / "Contacts" / "temp"));

    const ContactHandle p = addUser(m_tree, "p", 0, 0);
    const ContactHandle g = addGroup(m_tree, "G", 0, p);
    const ContactHandle q = addUser(m_tree, "q", g, 0);
    addUser(m_tree, "r", g, q);
    addUser(m_tree, "s", 0, g);
    addGroup(m_tree, "E", 0, 0);
    EXPECT_EQ(m_file.save(m_tree), 1u);
    EXPECT_EQ(test::readBytes(listFile()), kSignatureItem + numberItem(300) + userRecord("p") + groupRecord("G") +
                                               userRecord("q") + userRecord("r") + kGroupEnd + userRecord("s") +
                                               groupRecord("E") + kGroupEnd);

    ContactTree loaded;
    ASSERT_EQ(loaded.create(), 1u);
    ContactListFile again(m_dir.path().c_str());
    EXPECT_EQ(again.load(loaded), 1u);
    EXPECT_EQ(test::treeText(loaded), "p,G(q,r),s,E()");
    EXPECT_EQ(m_messages.boxCount(), 0u);
    ContactHandle found = 0;
    ASSERT_EQ(loaded.findContact("q@host", found), 1u);
    ContactRecord record;
    ASSERT_EQ(loaded.getContact(found, record), 1u);
    EXPECT_TRUE(record.getServerName() == "host");
    EXPECT_TRUE(record.getAddress() == "Unknown");
}

TEST_F(ContactListFileTest, ImportsThePreviousVersionAfterTheSamples) {
    test::writeBytes(listFile(), kSignatureItem + numberPair("Version", 270) + textPair("UserName", "Old Friend") +
                                     textPair("ServerName", "Host") + textPair("DisplayName", "Old") +
                                     textPair("AutoReplyMsg", "") + textPair("Comments", "") +
                                     numberPair("AcceptFiles", 0) + numberPair("AutoReply", 1) +
                                     numberPair("State", 3) + item("End") + item("") + textPair("UserName", "second") +
                                     textPair("ServerName", "host") + textPair("DisplayName", "Second") +
                                     numberPair("State", 1) + item("End") + item(""));
    EXPECT_EQ(m_file.load(m_tree), 1u);
    EXPECT_EQ(test::treeText(m_tree), "Try me (Automated robot),Friends(),Family(),Coworkers(),Old,Second");
    EXPECT_EQ(boxTexts(),
              "Vellumpost has detected that you have an older version of this software\n"
              "previously installed on your machine.\n\n"
              "Vellumpost will attempt to upgrade and import your previous\ncontact information.|"
              "Import completed.|");
    ContactHandle handle = 0;
    ContactRecord old;
    ASSERT_EQ(m_tree.findContact("old friend@host", handle), 1u);
    ASSERT_EQ(m_tree.getContact(handle, old), 1u);
    EXPECT_EQ(old.getPrivacy(), kPrivacyIgnore);
    EXPECT_EQ(old.getAllowFiles(), 0u);
    ContactRecord second;
    ASSERT_EQ(m_tree.findContact("second@host", handle), 1u);
    ASSERT_EQ(m_tree.getContact(handle, second), 1u);
    EXPECT_EQ(second.getPrivacy(), kPrivacyDefault);
}

TEST_F(ContactListFileTest, MissingOrForeignListGivesTheSamples) {
    test::writeBytes(listFile(), "not a record file");
    EXPECT_EQ(m_file.load(m_tree), 1u);
    EXPECT_EQ(test::treeText(m_tree), "Try me (Automated robot),Friends(),Family(),Coworkers()");
    EXPECT_EQ(boxTexts(), "Vellumpost has detected that this is your first time using this application.\n"
                          "Some sample entries has been created in your contact list for you.|");
    ContactHandle robot = 0;
    ASSERT_EQ(m_tree.findContact("try me@127.0.0.1", robot), 1u);
    ContactRecord record;
    ASSERT_EQ(m_tree.getContact(robot, record), 1u);
    EXPECT_TRUE(record.getUserName() == "try me");
    EXPECT_EQ(std::string(record.getComments().c_str()).rfind(
                  "This contact is an Vellumpost user with the 'Away' feature turned on.\r\n", 0),
              0u);
    // The unreadable list is kept when the samples are saved over it.
    EXPECT_EQ(m_file.save(m_tree), 1u);
    EXPECT_EQ(test::readBytes(m_dir.native() / "Contacts" / "List.anc.bak"), "not a record file");

    ContactTree fresh;
    ASSERT_EQ(fresh.create(), 1u);
    std::filesystem::remove(listFile());
    ContactListFile missing(m_dir.path().c_str());
    EXPECT_EQ(missing.load(fresh), 1u);
    EXPECT_EQ(fresh.count(), 4u);
}

TEST_F(ContactListFileTest, RefusesBadContentWithTheLoadError) {
    const std::string user = userRecord("p");
    const std::string cases[] = {
        kSignatureItem + numberPair("Version", 271),
        kSignatureItem + numberPair("Version ", 270),
        kSignatureItem + numberItem(301),
        kSignatureItem + numberItem(300) + user + kGroupEnd,
        kSignatureItem + numberItem(300) + user + user,
        kSignatureItem + numberItem(300) + user + test::le32(1000) + "Con",
    };
    for (const std::string& bytes : cases) {
        ContactTree tree;
        ASSERT_EQ(tree.create(), 1u);
        test::ScriptedMessages messages;
        test::ScopedMessageService scoped(messages);
        test::writeBytes(listFile(), bytes);
        ContactListFile file(m_dir.path().c_str());
        EXPECT_EQ(file.load(tree), 0u);
        ASSERT_EQ(messages.boxCount(), 1u);
        EXPECT_EQ(messages.boxes()[0].text, loadError());
    }
}

TEST_F(ContactListFileTest, KeepsAListThatFailedPartWay) {
    const std::string original =
        kSignatureItem + numberItem(300) + userRecord("p") + userRecord("p") + userRecord("never read");
    test::writeBytes(listFile(), original);
    EXPECT_EQ(m_file.load(m_tree), 0u);
    EXPECT_EQ(test::treeText(m_tree), "p");
    EXPECT_EQ(m_file.save(m_tree), 1u);
    EXPECT_EQ(test::readBytes(m_dir.native() / "Contacts" / "List.anc.bak"), original);
    EXPECT_EQ(test::readBytes(listFile()), kSignatureItem + numberItem(300) + userRecord("p"));
    // A save that fails keeps the list as it was.
    std::filesystem::remove_all(m_dir.native() / "Contacts");
    EXPECT_EQ(m_file.save(m_tree), 0u);
}

} // namespace
} // namespace vp
