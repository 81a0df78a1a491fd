#include "contacts/ContactTree.h"

#include <exception>
#include <new>
#include <string_view>
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
    m_lastAdded = nullptr;
    m_records.clear();
    m_firstByKey.clear();
    m_index.reset();
}

const ContactRecord* ContactTree::find(ContactHandle handle) const {
    if (handle == 0) return nullptr;
    const auto found = m_records.find(handle);
    return found == m_records.end() ? nullptr : &found->second;
}

ContactRecord* ContactTree::find(ContactHandle handle) {
    if (handle == 0) return nullptr;
    const auto found = m_records.find(handle);
    return found == m_records.end() ? nullptr : &found->second;
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
    return add(templ, parent, after, handle);
}

uint32_t ContactTree::addContact(ContactRecord&& templ, ContactHandle parent, ContactHandle after,
                                 ContactHandle& handle) {
    return add(std::move(templ), parent, after, handle);
}

template <typename Record>
uint32_t ContactTree::add(Record&& templ, ContactHandle parent, ContactHandle after, ContactHandle& handle) {
    if (!m_index) return 0;
    // The stored names give the same key text as the template's: lower-casing
    // and collapsing them again changes nothing.
    if (!NameKey::writeKeyText(templ.getUserName(), templ.getServerName(), m_key)) return 0;
    if (NameKey::hasBothNames(templ.getUserName(), templ.getServerName()) && m_firstByKey.count(m_key) != 0) return 0;

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

    const ContactHandle fresh = nextHandle();
    ContactRecord* record = nullptr;
    try {
        record = &m_records.try_emplace(fresh, std::forward<Record>(templ)).first->second;
    } catch (const std::exception&) {
        return 0;
    }
    ContactTreeNode* node = record->normaliseNames() ? place(fresh, parentNode, parent, afterNode, after) : nullptr;
    if (!node) {
        m_records.erase(fresh);
        return 0;
    }
    record->setHandle(fresh);
    record->setNode(node);

    bool firstOfKey = false;
    try {
        firstOfKey = m_firstByKey.try_emplace(m_key, fresh).second;
    } catch (const std::exception&) {
        m_tree.remove(node);
        m_records.erase(fresh);
        return 0;
    }
    if (!m_index->insert(ContactRecord::indexRow(*record, m_key))) {
        if (firstOfKey) m_firstByKey.erase(m_key);
        m_tree.remove(node);
        m_records.erase(fresh);
        return 0;
    }

    handle = fresh;
    announceAdded(*record, afterNode);
    return 1;
}

ContactTreeNode* ContactTree::place(ContactHandle handle, ContactTreeNode* parentNode, ContactHandle parent,
                                    ContactTreeNode* afterNode, ContactHandle after) {
    if (afterNode) return m_tree.insertAfter(afterNode, handle);
    if (parent == 0 && after == 0) return m_tree.append(nullptr, handle);
    if (after == 0) return m_tree.insertFirst(parentNode, handle);
    return m_tree.append(parentNode, handle);
}

void ContactTree::announceAdded(const ContactRecord& record, ContactTreeNode* afterNode) {
    ContactTreeNode* node = record.getNode();
    if (!m_sink) {
        // Positions are only counted for an event; none is kept up to date.
        m_lastAdded = nullptr;
        return;
    }
    const uint32_t position =
        afterNode && afterNode == m_lastAdded ? m_lastAddedPosition + 1 : positionOf(node);
    m_lastAdded = node;
    m_lastAddedPosition = position;
    FieldTuple fields(5);
    fields.setField(0, numberField(record.getHandle()));
    fields.setField(1, numberField(m_tree.value(m_tree.parent(node))));
    fields.setField(2, numberField(position));
    fields.setField(3, numberField(record.isUser() ? 0 : 1));
    fields.setField(4, textField(record.getDisplayName()));
    send(ContactAdded, std::move(fields));
}

void ContactTree::forgetKey(const ByteBuffer& key, ContactHandle handle) {
    const auto first = m_firstByKey.find(std::string_view(reinterpret_cast<const char*>(key.data()), key.size()));
    if (first == m_firstByKey.end() || first->second != handle) return;
    const FieldTuple next = m_index->find(kRowKey, key);
    if (next.count() == kRowFields) first->second = numberOf(next.field(kRowHandle));
    else m_firstByKey.erase(first);
}

void ContactTree::forget(ContactHandle handle) {
    const FieldTuple row = m_index->remove(kRowHandle, numberField(handle));
    forgetKey(row.field(kRowKey), handle);
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
    m_lastAdded = nullptr;
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
    m_lastAdded = nullptr;
    FieldTuple fields(3);
    fields.setField(0, numberField(handle));
    fields.setField(1, numberField(parent));
    fields.setField(2, numberField(index));
    send(ContactMoved, std::move(fields));
    return 1;
}

uint32_t ContactTree::findContact(const TextString& key, ContactHandle& handle) const {
    if (!m_index || key.isEmpty()) return 0;
    const auto first = m_firstByKey.find(std::string_view(key.c_str(), key.length()));
    if (first == m_firstByKey.end()) return 0;
    // Groups are indexed under "@", which no name key ever is; only a user
    // contact is an answer.
    const ContactRecord* record = find(first->second);
    if (!record || !record->isUser()) return 0;
    handle = first->second;
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
