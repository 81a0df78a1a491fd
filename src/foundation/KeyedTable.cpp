#include "foundation/KeyedTable.h"

#include <algorithm>
#include <memory>
#include <new>
#include <utility>

namespace vp {

// A row sits in one bucket list per key column and in the list of all rows,
// through links held in the row itself, so it can be unlinked from all of them
// at once without searching.
struct KeyedTable::Row {
    struct Link {
        Row* next = nullptr;
        Row* previous = nullptr;
    };

    // Tables of up to this many key columns keep the links inside the row,
    // so that a row costs one block less.
    static constexpr uint32_t kInlineColumns = 4;

    Row() = default;
    Row(const Row&) = delete;
    Row& operator=(const Row&) = delete;

    FieldTuple fields;
    Link inlineLinks[kInlineColumns];
    std::unique_ptr<Link[]> moreLinks;
    Link* columns = inlineLinks;  // one per key column
    Row* newer = nullptr;
    Row* older = nullptr;
};

KeyedTable::KeyedTable(uint32_t keyCount, uint32_t bucketCount) : m_keyCount(keyCount) {
    if (bucketCount == 0) return;
    try {
        m_buckets.resize(static_cast<size_t>(keyCount) * bucketCount);
        m_bucketCount = bucketCount;
    } catch (const std::bad_alloc&) {
        m_buckets.clear();
    } catch (const std::length_error&) {
        m_buckets.clear();
    }
}

KeyedTable::~KeyedTable() { freeRows(); }

uint32_t KeyedTable::bucketOf(const ByteBuffer& key, uint32_t bucketCount) {
    if (bucketCount == 0) return 0;
    uint32_t hash = 0;
    const uint8_t* bytes = key.data();
    for (uint32_t i = 0; i < key.size(); ++i) hash += static_cast<uint32_t>(bytes[i]) * (i + 1);
    return hash % bucketCount;
}

KeyedTable::Bucket& KeyedTable::bucket(uint32_t column, const ByteBuffer& key) {
    return m_buckets[static_cast<size_t>(column) * m_bucketCount + bucketOf(key, m_bucketCount)];
}

KeyedTable::Row* KeyedTable::findRow(uint32_t column, const ByteBuffer& key) const {
    if (column >= m_keyCount || m_bucketCount == 0) return nullptr;
    const Bucket& list = m_buckets[static_cast<size_t>(column) * m_bucketCount + bucketOf(key, m_bucketCount)];
    for (Row* row = list.head; row; row = row->columns[column].next) {
        if (row->fields.field(column).matches(key)) return row;
    }
    return nullptr;
}

void KeyedTable::linkColumn(Row* row, uint32_t column) {
    Bucket& list = bucket(column, row->fields.field(column));
    Row::Link& link = row->columns[column];
    link.next = nullptr;
    link.previous = list.tail;
    if (list.tail) list.tail->columns[column].next = row;
    else list.head = row;
    list.tail = row;
}

void KeyedTable::unlinkColumn(Row* row, uint32_t column) {
    // The row's field still holds the key it was linked under, so its bucket
    // is found again from the field.
    Bucket& list = bucket(column, row->fields.field(column));
    Row::Link& link = row->columns[column];
    if (link.previous) link.previous->columns[column].next = link.next;
    else list.head = link.next;
    if (link.next) link.next->columns[column].previous = link.previous;
    else list.tail = link.previous;
    link.next = link.previous = nullptr;
}

void KeyedTable::unlinkRow(Row* row) {
    // Every column and the row list let go of the row together, under the
    // caller's write lock: no bucket is ever left pointing at a freed row, and
    // no reader sees the row in one column but not in another.
    for (uint32_t column = 0; column < m_keyCount; ++column) unlinkColumn(row, column);
    if (row->older) row->older->newer = row->newer;
    else m_oldest = row->newer;
    if (row->newer) row->newer->older = row->older;
    else m_newest = row->older;
    row->newer = row->older = nullptr;
    --m_rowCount;
}

std::unique_ptr<KeyedTable::Row> KeyedTable::newRow() const {
    std::unique_ptr<Row> row(new (std::nothrow) Row);
    if (row && m_keyCount > Row::kInlineColumns) {
        row->moreLinks.reset(new (std::nothrow) Row::Link[m_keyCount]);
        row->columns = row->moreLinks.get();
        if (!row->columns) row.reset();
    }
    return row;
}

void KeyedTable::append(std::unique_ptr<Row> row) {
    WriteGuard guard(m_lock);
    Row* fresh = row.release();
    for (uint32_t column = 0; column < m_keyCount; ++column) linkColumn(fresh, column);
    fresh->older = m_newest;
    if (m_newest) m_newest->newer = fresh;
    else m_oldest = fresh;
    m_newest = fresh;
    ++m_rowCount;
}

uint32_t KeyedTable::insert(const FieldTuple& row) {
    if (row.count() < m_keyCount || m_bucketCount == 0) return 0;
    // The copy is made before taking the lock: allocation needs no exclusion.
    std::unique_ptr<Row> stored = newRow();
    if (!stored || stored->fields.assign(row) == 0) return 0;
    append(std::move(stored));
    return 1;
}

uint32_t KeyedTable::insert(FieldTuple&& row) {
    if (row.count() < m_keyCount || m_bucketCount == 0) return 0;
    std::unique_ptr<Row> stored = newRow();
    if (!stored) return 0;
    stored->fields = std::move(row);
    append(std::move(stored));
    return 1;
}

FieldTuple KeyedTable::find(uint32_t column, const ByteBuffer& key) const {
    ReadGuard guard(m_lock);
    const Row* row = findRow(column, key);
    return row ? FieldTuple(row->fields) : FieldTuple();
}

FieldTuple KeyedTable::remove(uint32_t column, const ByteBuffer& key) {
    std::unique_ptr<Row> row;
    {
        WriteGuard guard(m_lock);
        row.reset(findRow(column, key));
        if (!row) return FieldTuple();
        unlinkRow(row.get());
    }
    // The row is the caller's now; handing over its fields needs no copy.
    return std::move(row->fields);
}

uint32_t KeyedTable::update(uint32_t column, const ByteBuffer& key, uint32_t fieldIndex, const ByteBuffer& value) {
    WriteGuard guard(m_lock);
    Row* row = findRow(column, key);
    if (!row) return 0;
    const bool isKey = fieldIndex < m_keyCount;
    if (isKey) unlinkColumn(row, fieldIndex);
    const uint32_t stored = row->fields.setField(fieldIndex, value);
    // Linked again under whatever the field now holds, even after a failed
    // store, so the bucket always matches the field.
    if (isKey) linkColumn(row, fieldIndex);
    return stored;
}

std::vector<FieldTuple> KeyedTable::snapshot() const {
    std::vector<FieldTuple> rows;
    ReadGuard guard(m_lock);
    try {
        rows.reserve(m_rowCount);
    } catch (const std::bad_alloc&) {
        return rows;
    }
    for (const Row* row = m_oldest; row; row = row->newer) {
        FieldTuple copy;
        if (copy.assign(row->fields) == 0) return {};
        rows.push_back(std::move(copy));
    }
    return rows;
}

std::vector<FieldTuple> KeyedTable::takeAll() {
    std::vector<FieldTuple> rows;
    WriteGuard guard(m_lock);
    try {
        rows.reserve(m_rowCount);
    } catch (const std::bad_alloc&) {
        return rows;
    }
    for (Row* row = m_oldest; row; row = row->newer) rows.push_back(std::move(row->fields));
    freeRows();
    std::fill(m_buckets.begin(), m_buckets.end(), Bucket());
    return rows;
}

uint32_t KeyedTable::rowCount() const {
    ReadGuard guard(m_lock);
    return m_rowCount;
}

void KeyedTable::freeRows() {
    Row* row = m_oldest;
    while (row) {
        Row* newer = row->newer;
        delete row;
        row = newer;
    }
    m_oldest = m_newest = nullptr;
    m_rowCount = 0;
}

} // namespace vp
