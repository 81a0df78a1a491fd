#pragma once
// The contact list itself, without the service around it: the tree of
// groups and user contacts, the index by name key and by handle, the
// records, and the events each change sends. ContactList runs it on its
// service thread; the contact list file loads into and saves from it. Not
// synchronised beyond the record lock: one thread drives it.

#include "contacts/ContactRecord.h"
#include "foundation/EventQueue.h"
#include "foundation/KeyedTable.h"
#include "foundation/NodeTree.h"
#include "foundation/Semaphore.h"

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

namespace vp {

// Event codes, with their fields (numbers 4 bytes, texts without a NUL).
inline constexpr uint32_t ContactAdded = 1;          // handle, parent, position, group flag, DisplayName
inline constexpr uint32_t ContactRemoved = 2;        // handle
inline constexpr uint32_t ContactStatusChanged = 3;  // handle, online, Privacy, address text
inline constexpr uint32_t GroupExpandedChanged = 4;  // handle, expanded
inline constexpr uint32_t DisplayNameChanged = 5;    // handle, DisplayName
inline constexpr uint32_t ContactMoved = 6;          // handle, new parent, index it follows (-1: first)

// Where the tree's changes go (the model's Subject).
class ContactEventSink {
public:
    virtual ~ContactEventSink() = default;
    virtual void contactEvent(const QueuedEvent& event) = 0;
};

class ContactTree {
public:
    using Tree = NodeTree<ContactHandle>;

    ContactTree();
    ~ContactTree();
    ContactTree(const ContactTree&) = delete;
    ContactTree& operator=(const ContactTree&) = delete;

    // Creates the index (1999 buckets): 1, or 0 when it cannot be allocated.
    uint32_t create();
    // Frees the index, the tree and every record.
    void destroy();
    void setEventSink(ContactEventSink* sink) { m_sink = sink; }

    // Stores a copy of templ (names lower-cased and space-collapsed) under
    // parent: after 0 makes it the first child (appended at the top level
    // when parent is 0 too), after == parent the last child, any other after
    // the entry right after it. Refuses a user contact whose name key exists,
    // a missing parent or after, and a parent that is no group. ContactAdded.
    uint32_t addContact(const ContactRecord& templ, ContactHandle parent, ContactHandle after, ContactHandle& handle);
    // Removes the entry and all its descendants, deepest first, each with
    // ContactRemoved.
    uint32_t removeContact(ContactHandle handle);
    // Moves the entry (with its subtree) as addContact places; refuses a
    // parent that is missing, no group, the entry or one of its descendants,
    // and a move that changes nothing. ContactMoved.
    uint32_t moveContact(ContactHandle handle, ContactHandle parent, ContactHandle after);
    // The user contact with this name key.
    uint32_t findContact(const TextString& key, ContactHandle& handle) const;
    // A copy of the record, taken under the record lock.
    uint32_t getContact(ContactHandle handle, ContactRecord& record);
    // The handle of the entry's parent (0 for the top level); 0 when missing.
    uint32_t getParent(ContactHandle handle, ContactHandle& parent) const;
    // A copy of the tree (values are handles), taken under the record lock.
    uint32_t copyTree(Tree& copy);
    // Copies of the index rows, in the order the records were added.
    std::vector<FieldTuple> snapshot() const;
    uint32_t count() const { return static_cast<uint32_t>(m_records.size()); }

    // Runs change(record) under the record lock: 0 when the handle is missing.
    template <typename Change>
    uint32_t update(ContactHandle handle, Change&& change) {
        ContactRecord* record = find(handle);
        if (!record) return 0;
        SemaphoreLock lock(m_recordLock);
        change(*record);
        return 1;
    }

    // Hands an event with these fields to the sink.
    void send(uint32_t code, FieldTuple fields);

private:
    ContactRecord* find(ContactHandle handle) const;
    ContactTreeNode* nodeOf(ContactHandle handle) const;
    ContactHandle nextHandle();
    // The number of siblings before node.
    uint32_t positionOf(ContactTreeNode* node) const;
    // Takes the entry out of the index and the records and announces it; the
    // tree node stays.
    void forget(ContactHandle handle);

    Tree m_tree;
    std::unique_ptr<KeyedTable> m_index;
    std::unordered_map<ContactHandle, std::unique_ptr<ContactRecord>> m_records;
    ContactHandle m_lastHandle = 0;
    mutable Semaphore m_recordLock{1, 1};
    ContactEventSink* m_sink = nullptr;
};

} // namespace vp
