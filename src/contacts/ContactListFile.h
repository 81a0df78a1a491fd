#pragma once
// The contact list file, "\Contacts\List.anc" under the user folder: a
// record file holding the version 300 and then the tree in document order
// (a group's record, its children, a group-end record). Loading also imports
// the file of version 270 and creates sample entries when there is no usable
// file. Every box it shows goes through the message service.

#include "contacts/ContactTree.h"
#include "foundation/TextString.h"

#include <cstdint>

namespace vp {

class ContactListFile {
public:
    explicit ContactListFile(const TextString& userFolder);

    // Writes the tree to "\Contacts\temp" and puts it in place of the list
    // in one step: 1, or 0 (the list as it was). After a load that failed
    // part-way the list is first kept as "List.anc.bak", so that the part
    // that was never read survives; when that copy fails nothing is saved.
    uint32_t save(ContactTree& tree);
    // Fills an empty tree from the list: 1 when it holds a list afterwards.
    uint32_t load(ContactTree& tree);
    // Adds the robot contact and the three sample groups at the top level:
    // 1, or 0 when an add was refused.
    static uint32_t createSampleEntries(ContactTree& tree);

    const TextString& listPath() const { return m_listPath; }
    const TextString& tempPath() const { return m_tempPath; }
    const TextString& backupPath() const { return m_backupPath; }

private:
    uint32_t loadCurrent(ContactTree& tree, RecordFile& file);
    uint32_t importPrevious(ContactTree& tree, RecordFile& file);
    uint32_t failLoad();
    uint32_t keepOriginal();

    TextString m_listPath;
    TextString m_tempPath;
    TextString m_backupPath;
    // Set when a list was opened but could not be read whole.
    bool m_loadFailed = false;
};

} // namespace vp
