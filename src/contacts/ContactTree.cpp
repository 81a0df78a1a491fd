#include "contacts/ContactTree.h"

#include <new>
#include <utility>

namespace vp {

namespace {

ByteBuffer textField(const TextString& text) { return ByteBuffer(text.c_str(), text.length()); }

} // namespace

ContactTree::ContactTree() = default;

ContactTree::~ContactTree() { destroy(); }

uint32_t ContactTree::create() {
    destroy();
    m_index.reset(new (std::nothrow) KeyedTable(kRowFields));
    if (!m_index || m_index->bucketCount() == 0) {
        m_index.reset();
        return 0;
    }
    return 1;
}

void ContactTree::destroy() {
    SemaphoreLock lock(m_recordLock);
    m_tree.clear();
    m_records.clear();
    m_index.reset();
}

ContactRecord* ContactTree::find(ContactHandle handle) const {
    if (handle == 0) return nullptr;
    const auto found = m_records.find(handle);
    return found == m_records.end() ? nullptr : found->second.get();
}

ContactTreeNode* ContactTree::nodeOf(ContactHandle handle) const {
    const ContactRecord* record = find(handle);
    return record ? record->getNode() : nullptr;
}

ContactHandle ContactTree::nextHandle() {
    // Handles count up and wrap past 0; one still in use after a wrap is
    // skipped, so a handle is unique among the live records.
    do {
        ++m_lastHandle;
    } while (m_lastHandle == 0 || m_records.count(m_lastHandle) != 0);
    return m_lastHandle;
}

uint32_t ContactTree::positionOf(ContactTreeNode* node) const {
    uint32_t position = 0;
    for (ContactTreeNode* before = m_tree.previous(node); before; before = m_tree.previous(before)) ++position;
    return position;
}

void ContactTree::send(uint32_t code, FieldTuple fields) {
    if (!m_sink) return;
    QueuedEvent event;
    event.code = code;
    event.fields = std::move(fields);
    m_sink->contactEvent(event);
}

uint32_t ContactTree::addContact(const ContactRecord& templ, ContactHandle parent, ContactHandle after,
                                 ContactHandle& handle) {
    if (!m_index) return 0;
    const NameKey key(templ.getUserName(), templ.getServerName());
    if (key.isValid() && m_index->find(kRowKey, textField(key.text())).count() != 0) return 0;

    ContactTreeNode* parentNode = nullptr;
    if (parent != 0) {
        const ContactRecord* parentRecord = find(parent);
        // A user contact holds no entries: the file writes children for
        // groups only, so entries under a user contact would be lost.
        if (!parentRecord || parentRecord->isUser()) return 0;
        parentNode = parentRecord->getNode();
    }
    ContactTreeNode* afterNode = nullptr;
    if (after != 0 && after != parent) {
        afterNode = nodeOf(after);
        if (!afterNode) return 0;
    }

    auto stored = std::unique_ptr<ContactRecord>(new (std::nothrow) ContactRecord(templ));
    if (!stored) return 0;
    stored->setUserName(templ.getUserName().lowerCased().collapseSeparator(' '));
    stored->setServerName(templ.getServerName().lowerCased().collapseSeparator(' '));
    const ContactHandle fresh = nextHandle();
    stored->setHandle(fresh);

    ContactTreeNode* node = nullptr;
    if (afterNode) node = m_tree.insertAfter(afterNode, fresh);
    else if (parent == 0 && after == 0) node = m_tree.append(nullptr, fresh);
    else if (after == 0) node = m_tree.insertFirst(parentNode, fresh);
    else node = m_tree.append(parentNode, fresh);
    if (!node) return 0;
    stored->setNode(node);

    ContactRecord* record = stored.get();
    try {
        m_records.emplace(fresh, std::move(stored));
    } catch (...) {
        m_tree.remove(node);
        return 0;
    }
    if (!m_index->insert(ContactRecord::indexRow(record))) {
        m_records.erase(fresh);
        m_tree.remove(node);
        return 0;
    }

    handle = fresh;
    FieldTuple fields(5);
    fields.setField(0, numberField(fresh));
    fields.setField(1, numberField(m_tree.value(m_tree.parent(node))));
    fields.setField(2, numberField(positionOf(node)));
    fields.setField(3, numberField(record->isUser() ? 0 : 1));
    fields.setField(4, textField(record->getDisplayName()));
    send(ContactAdded, std::move(fields));
    return 1;
}

void ContactTree::forget(ContactHandle handle) {
    m_index->remove(kRowHandle, numberField(handle));
    {
        SemaphoreLock lock(m_recordLock);
        m_records.erase(handle);
    }
    FieldTuple fields(1);
    fields.setField(0, numberField(handle));
    send(ContactRemoved, std::move(fields));
}

uint32_t ContactTree::removeContact(ContactHandle handle) {
    ContactTreeNode* root = nodeOf(handle);
    if (!root || !m_index) return 0;
    // Post-order without recursion (the tree may be deep): every descendant
    // goes before its parent, siblings in list order.
    std::vector<ContactHandle> order;
    try {
        ContactTreeNode* current = root;
        while (m_tree.firstChild(current)) current = m_tree.firstChild(current);
        for (;;) {
            order.push_back(m_tree.value(current));
            if (current == root) break;
            if (ContactTreeNode* next = m_tree.next(current)) {
                current = next;
                while (m_tree.firstChild(current)) current = m_tree.firstChild(current);
            } else {
                current = m_tree.parent(current);
            }
        }
    } catch (...) {
        return 0;
    }
    for (const ContactHandle gone : order) forget(gone);
    SemaphoreLock lock(m_recordLock);
    m_tree.remove(root);
    return 1;
}

uint32_t ContactTree::moveContact(ContactHandle handle, ContactHandle parent, ContactHandle after) {
    ContactTreeNode* node = nodeOf(handle);
    if (!node) return 0;
    ContactTreeNode* parentNode = nullptr;
    if (parent != 0) {
        const ContactRecord* parentRecord = find(parent);
        if (!parentRecord || parentRecord->isUser()) return 0;
        parentNode = parentRecord->getNode();
        for (ContactTreeNode* above = parentNode; above; above = m_tree.parent(above)) {
            if (above == node) return 0;
        }
    }
    ContactTreeNode* afterNode = nullptr;
    uint32_t index = 0xFFFFFFFFu;
    if (after != 0 && after == parent) {
        afterNode = parentNode;
        ContactTreeNode* last = m_tree.lastChild(parentNode);
        if (last) index = positionOf(last);
    } else if (after != 0) {
        afterNode = nodeOf(after);
        if (!afterNode || m_tree.parent(afterNode) != parentNode) return 0;
        index = positionOf(afterNode);
    }
    {
        SemaphoreLock lock(m_recordLock);
        if (!m_tree.move(node, parentNode, afterNode)) return 0;
    }
    FieldTuple fields(3);
    fields.setField(0, numberField(handle));
    fields.setField(1, numberField(parent));
    fields.setField(2, numberField(index));
    send(ContactMoved, std::move(fields));
    return 1;
}

uint32_t ContactTree::findContact(const TextString& key, ContactHandle& handle) const {
    if (!m_index || key.isEmpty()) return 0;
    const FieldTuple row = m_index->find(kRowKey, textField(key));
    if (row.count() != kRowFields) return 0;
    // Groups are indexed under "@", which no name key ever is; only a user
    // contact is an answer.
    const ContactHandle found = numberOf(row.field(kRowHandle));
    const ContactRecord* record = find(found);
    if (!record || !record->isUser()) return 0;
    handle = found;
    return 1;
}

uint32_t ContactTree::getContact(ContactHandle handle, ContactRecord& record) {
    const ContactRecord* stored = find(handle);
    if (!stored) return 0;
    SemaphoreLock lock(m_recordLock);
    record = *stored;
    return 1;
}

uint32_t ContactTree::getParent(ContactHandle handle, ContactHandle& parent) const {
    ContactTreeNode* node = nodeOf(handle);
    if (!node) return 0;
    parent = m_tree.value(m_tree.parent(node));
    return 1;
}

uint32_t ContactTree::copyTree(Tree& copy) {
    SemaphoreLock lock(m_recordLock);
    return copy.assign(m_tree);
}

std::vector<FieldTuple> ContactTree::snapshot() const {
    return m_index ? m_index->snapshot() : std::vector<FieldTuple>();
}

} // namespace vp
