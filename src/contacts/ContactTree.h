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
#include <string>
#include <string_view>
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
    // The same, storing templ itself rather than a copy (a loader's record).
    uint32_t addContact(ContactRecord&& templ, ContactHandle parent, ContactHandle after, ContactHandle& handle);
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

    // Runs read(record) under the record lock, without a copy: 0 when the
    // handle is missing.
    template <typename Read>
    uint32_t visit(ContactHandle handle, Read&& read) {
        const ContactRecord* record = find(handle);
        if (!record) return 0;
        SemaphoreLock lock(m_recordLock);
        read(*record);
        return 1;
    }

    // Runs change(record) under the record lock: 0 when the handle is missing.
    // The change must leave UserName and ServerName as they are: the index
    // holds the key they made when the record was added.
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
    template <typename Record>
    uint32_t add(Record&& templ, ContactHandle parent, ContactHandle after, ContactHandle& handle);
    // Puts a new node for handle where addContact places an entry; null when
    // it cannot.
    ContactTreeNode* place(ContactHandle handle, ContactTreeNode* parentNode, ContactHandle parent,
                           ContactTreeNode* afterNode, ContactHandle after);
    // Announces the added entry with its position among its siblings.
    void announceAdded(const ContactRecord& record, ContactTreeNode* afterNode);
    // After the row of handle left the index: the next oldest row of its key
    // text becomes the first of that text.
    void forgetKey(const ByteBuffer& key, ContactHandle handle);
    ContactRecord* find(ContactHandle handle);
    const ContactRecord* find(ContactHandle handle) const;
    ContactTreeNode* nodeOf(ContactHandle handle) const;
    ContactHandle nextHandle();
    // The number of siblings before node.
    uint32_t positionOf(ContactTreeNode* node) const;
    // Takes the entry out of the index and the records and announces it; the
    // tree node stays.
    void forget(ContactHandle handle);

    Tree m_tree;
    std::unique_ptr<KeyedTable> m_index;
    // Beside the index, for the lookups by key: the handle of the oldest row
    // of each key text in column 0, which is the row the index's own find
    // gives. The index's hash puts thousands of similar names into a few
    // hundred buckets, and every add asks for its key.
    struct KeyHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>()(text); }
    };
    std::unordered_map<std::string, ContactHandle, KeyHash, std::equal_to<>> m_firstByKey;
    // The key text of the entry being added, its storage kept between adds.
    std::string m_key;
    // The records, each in its own heap block that never moves.
    std::unordered_map<ContactHandle, ContactRecord> m_records;
    // The node last added and its position among its siblings, so that a
    // run of entries each added after the one before (as a load adds them)
    // learn their positions without counting siblings. Any other change of
    // the tree forgets it.
    ContactTreeNode* m_lastAdded = nullptr;
    uint32_t m_lastAddedPosition = 0;
    ContactHandle m_lastHandle = 0;
    mutable Semaphore m_recordLock{1, 1};
    ContactEventSink* m_sink = nullptr;
};

} // namespace vp
