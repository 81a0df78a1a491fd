#pragma once
// A thread-safe table of FieldTuple rows, indexed by its first keyCount fields.
//
// Field c of a row (c below keyCount) is the row's key in column c; each column
// hashes its keys into a fixed number of buckets. Rows keep their insertion
// order. Every operation takes the table's readers/writer lock itself and
// hands out copies, so no caller ever holds a reference into the table.

#include "foundation/FieldTuple.h"
#include "foundation/ReadersFirstLock.h"
#include "foundation/TextString.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace vp {

class KeyedTable {
public:
    static constexpr uint32_t kDefaultBucketCount = 1999;

    // An empty table with keyCount key columns of bucketCount buckets each.
    // When the buckets cannot be allocated (or bucketCount is 0) the table
    // reports bucketCount() 0 and refuses every insert.
    explicit KeyedTable(uint32_t keyCount, uint32_t bucketCount = kDefaultBucketCount);
    ~KeyedTable();

    KeyedTable(const KeyedTable&) = delete;
    KeyedTable& operator=(const KeyedTable&) = delete;

    // Stores a deep copy of row, last in every order: 1, or 0 when the row has
    // fewer than keyCount() fields or memory ran out.
    uint32_t insert(const FieldTuple& row);
    // The same, taking row's fields over instead of copying them; a row that
    // is refused is left as it was.
    uint32_t insert(FieldTuple&& row);
    // A copy of the first row whose field column matches key; count 0 when none.
    FieldTuple find(uint32_t column, const ByteBuffer& key) const;
    // Takes the first row whose field column matches key out of the table and
    // returns it; count 0 when none.
    FieldTuple remove(uint32_t column, const ByteBuffer& key);
    // Sets field fieldIndex of the first row whose field column matches key,
    // indexing the row under its new key when that field is a key: 1, or 0
    // when no row matched or the value could not be stored whole.
    uint32_t update(uint32_t column, const ByteBuffer& key, uint32_t fieldIndex, const ByteBuffer& value);
    // Copies of all rows in insertion order; empty when memory ran out.
    std::vector<FieldTuple> snapshot() const;
    // Takes every row out, in insertion order; when the result cannot be
    // allocated the table is left as it was and the result is empty.
    std::vector<FieldTuple> takeAll();

    uint32_t rowCount() const;
    uint32_t keyCount() const { return m_keyCount; }
    uint32_t bucketCount() const { return m_bucketCount; }

    // The bucket of key: the sum of byte[i] * (i + 1) in 32-bit arithmetic,
    // modulo bucketCount (0 for a bucketCount of 0).
    static uint32_t bucketOf(const ByteBuffer& key, uint32_t bucketCount);

private:
    struct Row;
    struct Bucket {
        Row* head = nullptr;
        Row* tail = nullptr;
    };

    // A row with its links allocated and no fields yet; null when memory ran out.
    std::unique_ptr<Row> newRow() const;
    // Links a filled row in as the newest.
    void append(std::unique_ptr<Row> row);
    Bucket& bucket(uint32_t column, const ByteBuffer& key);
    Row* findRow(uint32_t column, const ByteBuffer& key) const;
    void linkColumn(Row* row, uint32_t column);
    void unlinkColumn(Row* row, uint32_t column);
    void unlinkRow(Row* row);
    void freeRows();

    const uint32_t m_keyCount;
    uint32_t m_bucketCount = 0;
    // keyCount * bucketCount lists: column c uses [c * bucketCount, (c + 1) * bucketCount).
    std::vector<Bucket> m_buckets;
    // All rows, oldest first.
    Row* m_oldest = nullptr;
    Row* m_newest = nullptr;
    uint32_t m_rowCount = 0;
    mutable ReadersFirstLock m_lock;
};

} // namespace vp
