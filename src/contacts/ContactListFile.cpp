#include "contacts/ContactListFile.h"
#include "foundation/LittleEndian.h"

#include "app/AppInfo.h"
#include "app/MessageService.h"
#include "platform/AtomicFile.h"
#include "platform/File.h"
#include "settings/Endpoints.h"

#include <utility>

namespace vp {

namespace {

constexpr uint32_t kPreviousLayoutVersion = 270;
constexpr char kVersionName[] = "Version";

TextString firstTimeText() {
    return TextString(kDisplayName) +
           " has detected that this is your first time using this application.\n"
           "Some sample entries has been created in your contact list for you.";
}

TextString upgradeText() {
    return TextString(kDisplayName) + " has detected that you have an older version of this software\n"
                                      "previously installed on your machine.\n\n" +
           kDisplayName + " will attempt to upgrade and import your previous\ncontact information.";
}

TextString robotComments() {
    return TextString("This contact is an ") + kDisplayName +
           " user with the 'Away' feature turned on.\r\n"
           "It is automatically connected to " +
           endpoints::kDefaultServerHost +
           " as \"Try me\" and answers every note.\r\n"
           "Send it a note to see how the automatic reply works.\r\n"
           "Visit " +
           endpoints::kMakerHomePage + " for the latest news about " + kDisplayName + ".";
}

// Copies the whole file from to over to, flushed: true when every byte got there.
bool copyFile(const TextString& from, const TextString& to) {
    platform::File source = platform::File::open(from.c_str(), platform::FileOpen::Read, platform::FileShare::Read);
    if (!source.isOpen()) return false;
    platform::File target =
        platform::File::open(to.c_str(), platform::FileOpen::CreateTruncate, platform::FileShare::Exclusive);
    if (!target.isOpen()) return false;
    char block[16384];
    for (;;) {
        uint32_t got = 0;
        if (!source.read(block, sizeof block, got)) return false;
        if (got == 0) break;
        uint32_t put = 0;
        if (!target.write(block, got, put) || put != got) return false;
    }
    return target.flush();
}

// Writes the tree in document order: each entry, and after a group's
// children (or at once, for a group without them) a group-end record.
uint32_t writeTree(ContactTree& tree, RecordFile& file) {
    ContactTree::Tree shape;
    if (!tree.copyTree(shape)) return 0;
    ContactRecord groupEnd;
    groupEnd.setContactType(ContactTypeGroupEnd);
    ContactTreeNode* node = shape.firstChild(nullptr);
    while (node) {
        // Each record is written where it is kept, under the record lock,
        // rather than copied out first.
        uint32_t written = 0;
        bool group = false;
        tree.visit(shape.value(node), [&](const ContactRecord& record) {
            written = record.write(file);
            group = !record.isUser();
        });
        if (!written) return 0;
        if (group) {
            if (ContactTreeNode* child = shape.firstChild(node)) {
                node = child;
                continue;
            }
            if (!groupEnd.write(file)) return 0;
        }
        // Climb out of every group whose last child this was, closing each.
        while (node && !shape.next(node)) {
            node = shape.parent(node);
            if (node && !groupEnd.write(file)) return 0;
        }
        node = shape.next(node);
    }
    return 1;
}

} // namespace

ContactListFile::ContactListFile(const TextString& userFolder)
    : m_listPath((userFolder + "\\Contacts\\List.anc").collapseSeparator('\\')),
      m_tempPath((userFolder + "\\Contacts\\temp").collapseSeparator('\\')),
      m_backupPath((userFolder + "\\Contacts\\List.anc.bak").collapseSeparator('\\')) {}

uint32_t ContactListFile::createSampleEntries(ContactTree& tree) {
    ContactRecord robot;
    robot.setUserName("Try me");
    robot.setServerName(endpoints::kDefaultServerHost);
    robot.setDisplayName("Try me (Automated robot)");
    robot.setComments(robotComments());
    ContactHandle previous = 0;
    if (!tree.addContact(robot, 0, previous, previous)) return 0;
    for (const char* name : {"Friends", "Family", "Coworkers"}) {
        ContactRecord group;
        group.setContactType(ContactTypeGroup);
        group.setDisplayName(name);
        if (!tree.addContact(group, 0, previous, previous)) return 0;
    }
    return 1;
}

uint32_t ContactListFile::keepOriginal() {
    if (!m_loadFailed) return 1;
    if (!copyFile(m_listPath, m_backupPath)) return 0;
    m_loadFailed = false;
    return 1;
}

uint32_t ContactListFile::save(ContactTree& tree) {
    // The list that could not be read whole is kept before it is replaced.
    if (!keepOriginal()) return 0;
    return RecordFile::saveAtomically(m_listPath, m_tempPath, [&](RecordFile& file) {
        return file.writeUint32(kContactLayoutVersion) && writeTree(tree, file);
    });
}

uint32_t ContactListFile::failLoad() {
    m_loadFailed = true;
    const TextString text = TextString("Cannot load contacts from '") + m_listPath +
                            "' at this moment;\nThe file does not have a valid format.";
    showInfo(text.c_str());
    return 0;
}

uint32_t ContactListFile::load(ContactTree& tree) {
    RecordFile file;
    if (!file.Open(m_listPath, RecordFile::kReading)) {
        // A list that is there but cannot be read (locked, damaged, foreign)
        // is kept as it was before the samples are saved over it.
        m_loadFailed = platform::pathExists(m_listPath.c_str());
        if (!createSampleEntries(tree)) return 0;
        showInfo(firstTimeText().c_str());
        return 1;
    }
    if (file.NextLength() == 4) {
        uint32_t version = 0;
        if (!file.readUint32(version) || version != kContactLayoutVersion) return failLoad();
        return loadCurrent(tree, file) ? 1 : failLoad();
    }
    TextString name;
    TextString value;
    if (!file.readText(name) || !file.readText(value) || !(name == kVersionName) || value.length() != 4) {
        return failLoad();
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(value.data());
    const uint32_t version = readLittleEndian32(bytes);
    if (version != kPreviousLayoutVersion) return failLoad();
    showInfo(upgradeText().c_str());
    if (!importPrevious(tree, file)) return failLoad();
    showInfo("Import completed.");
    return 1;
}

uint32_t ContactListFile::loadCurrent(ContactTree& tree, RecordFile& file) {
    ContactHandle parent = 0;
    ContactHandle previous = 0;
    while (!atEndOfRecords(file)) {
        ContactRecord record;
        if (!record.read(file)) return 0;
        switch (record.getContactType()) {
        case ContactTypeUser:
            if (!tree.addContact(std::move(record), parent, previous, previous)) return 0;
            break;
        case ContactTypeGroup: {
            ContactHandle group = 0;
            if (!tree.addContact(std::move(record), parent, previous, group)) return 0;
            previous = 0;
            parent = group;
            break;
        }
        case ContactTypeGroupEnd:
            // A group end with no group open is damage, not a list.
            if (parent == 0) return 0;
            previous = parent;
            if (!tree.getParent(previous, parent)) return 0;
            break;
        default:
            // A record of a type this version does not know is passed over.
            break;
        }
    }
    return 1;
}

uint32_t ContactListFile::importPrevious(ContactTree& tree, RecordFile& file) {
    createSampleEntries(tree);
    ContactHandle previous = 0;
    while (!atEndOfRecords(file)) {
        ContactRecord record;
        if (!record.readPrevious(file)) return 0;
        if (!tree.addContact(std::move(record), 0, previous, previous)) return 0;
    }
    return 1;
}

} // namespace vp
