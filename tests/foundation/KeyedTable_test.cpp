#include "foundation/KeyedTable.h"

#include <gtest/gtest.h>

#include <atomic>
#include <initializer_list>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace vp {
namespace {

ByteBuffer bytes(const std::string& text) { return ByteBuffer(text.data(), static_cast<uint32_t>(text.size())); }

std::string text(const ByteBuffer& buffer) {
    return std::string(reinterpret_cast<const char*>(buffer.data()), buffer.size());
}

FieldTuple row(std::initializer_list<std::string> fields) {
    FieldTuple tuple(static_cast<uint32_t>(fields.size()));
    uint32_t i = 0;
    for (const std::string& field : fields) tuple.setField(i++, bytes(field));
    return tuple;
}

// The fields of a row joined with '|', "" for an empty tuple.
std::string join(const FieldTuple& tuple) {
    std::string out;
    for (uint32_t i = 0; i < tuple.count(); ++i) out += (i ? "|" : "") + text(tuple.field(i));
    return out;
}

std::vector<std::string> joinAll(const std::vector<FieldTuple>& rows) {
    std::vector<std::string> out;
    for (const FieldTuple& tuple : rows) out.push_back(join(tuple));
    return out;
}

TEST(KeyedTable, BucketIsTheWeightedByteSum) {
    EXPECT_EQ(KeyedTable::bucketOf(bytes("ab"), 1999), 293u);
    EXPECT_EQ(KeyedTable::bucketOf(bytes("ba"), 1999), 292u);
    EXPECT_EQ(KeyedTable::bucketOf(ByteBuffer(), 1999), 0u);
    // Bytes count unsigned: 0xFF * 1 + 0x80 * 2 = 511; no buckets, no division.
    EXPECT_EQ(KeyedTable::bucketOf(ByteBuffer("\xFF\x80", 2), 100), 11u);
    EXPECT_EQ(KeyedTable::bucketOf(bytes("ab"), 0), 0u);
    EXPECT_EQ(KeyedTable(2).bucketCount(), 1999u);
    EXPECT_EQ(KeyedTable(1, 7).bucketCount(), 7u);
}

TEST(KeyedTable, FindRemoveAndUpdateByEitherColumn) {
    KeyedTable table(2);
    EXPECT_EQ(table.find(0, bytes("nobody")).count(), 0u);
    EXPECT_EQ(table.remove(0, bytes("nobody")).count(), 0u);
    const FieldTuple alice = row({"alice", "a@host", "note"});
    EXPECT_EQ(table.insert(alice), 1u);
    EXPECT_EQ(table.insert(row({"bob", "b@host", "other"})), 1u);
    EXPECT_EQ(table.insert(row({"dave", "d@host", "gone"})), 1u);
    EXPECT_EQ(table.insert(row({"short"})), 0u);
    EXPECT_EQ(table.rowCount(), 3u);

    EXPECT_EQ(join(table.find(0, bytes("alice"))), "alice|a@host|note");
    EXPECT_EQ(join(table.find(1, bytes("b@host"))), "bob|b@host|other");
    EXPECT_EQ(table.find(1, bytes("alice")).count(), 0u);  // keys live in their own column
    EXPECT_EQ(table.find(0, bytes("alic")).count(), 0u);
    EXPECT_EQ(table.find(2, bytes("note")).count(), 0u);   // not a key column
    // Removing by column 1 must also unlink the row from column 0.
    EXPECT_EQ(join(table.remove(1, bytes("d@host"))), "dave|d@host|gone");
    EXPECT_EQ(table.find(0, bytes("dave")).count(), 0u);
    EXPECT_EQ(table.remove(0, bytes("dave")).count(), 0u);

    // A key field changed is indexed anew, even the key searched by.
    EXPECT_EQ(table.update(0, bytes("alice"), 1, bytes("new@host")), 1u);
    EXPECT_EQ(table.find(1, bytes("a@host")).count(), 0u);
    EXPECT_EQ(join(table.find(1, bytes("new@host"))), "alice|new@host|note");
    EXPECT_EQ(table.update(0, bytes("alice"), 0, bytes("carol")), 1u);
    EXPECT_EQ(table.find(0, bytes("alice")).count(), 0u);
    EXPECT_EQ(join(table.remove(1, bytes("new@host"))), "carol|new@host|note");
    EXPECT_EQ(table.find(0, bytes("carol")).count(), 0u);
    // A plain field is only set; misses and missing fields give 0.
    EXPECT_EQ(table.update(1, bytes("b@host"), 2, bytes("changed")), 1u);
    EXPECT_EQ(table.update(0, bytes("nobody"), 2, bytes("x")), 0u);
    EXPECT_EQ(table.update(0, bytes("bob"), 3, bytes("x")), 0u);
    EXPECT_EQ(joinAll(table.snapshot()), std::vector<std::string>{"bob|b@host|changed"});

    // More key columns than a row links in place.
    KeyedTable wide(6, 1);
    wide.insert(row({"a", "b", "c", "d", "e", "f"}));
    wide.insert(row({"g", "h", "i", "j", "k", "l"}));
    EXPECT_EQ(join(wide.remove(5, bytes("f"))), "a|b|c|d|e|f");
    EXPECT_EQ(join(wide.find(4, bytes("k"))), "g|h|i|j|k|l");
    EXPECT_EQ(wide.find(0, bytes("a")).count(), 0u);
}

TEST(KeyedTable, CollidingKeysShareABucketList) {
    // One bucket: every key of a column sits in the same list, so removal
    // from its head, middle and tail must keep the others reachable.
    KeyedTable table(2, 1);
    for (const char* name : {"a", "b", "c", "d"}) table.insert(row({name, std::string(name) + "2"}));
    EXPECT_EQ(join(table.remove(0, bytes("b"))), "b|b2");
    EXPECT_EQ(join(table.remove(1, bytes("d2"))), "d|d2");
    EXPECT_EQ(join(table.find(1, bytes("c2"))), "c|c2");
    EXPECT_EQ(join(table.remove(0, bytes("a"))), "a|a2");
    table.insert(row({"e", "e2"}));
    EXPECT_EQ(join(table.find(0, bytes("c"))), "c|c2");
    EXPECT_EQ(join(table.find(1, bytes("e2"))), "e|e2");

    // With equal keys the oldest row is found first.
    table.insert(row({"c", "second"}));
    EXPECT_EQ(join(table.remove(0, bytes("c"))), "c|c2");
    EXPECT_EQ(join(table.find(0, bytes("c"))), "c|second");
    EXPECT_EQ(joinAll(table.snapshot()), (std::vector<std::string>{"e|e2", "c|second"}));
}

TEST(KeyedTable, SnapshotAndTakeAllKeepInsertionOrder) {
    KeyedTable table(1);
    EXPECT_TRUE(table.snapshot().empty());
    EXPECT_TRUE(table.takeAll().empty());
    for (const char* name : {"m", "c", "x", "a"}) table.insert(row({name, "v"}));
    table.remove(0, bytes("x"));
    table.insert(row({"x", "again"}));
    const std::vector<std::string> expected{"m|v", "c|v", "a|v", "x|again"};
    EXPECT_EQ(joinAll(table.snapshot()), expected);
    EXPECT_EQ(table.rowCount(), 4u);

    EXPECT_EQ(joinAll(table.takeAll()), expected);
    EXPECT_EQ(table.rowCount(), 0u);
    EXPECT_TRUE(table.snapshot().empty());
    EXPECT_EQ(table.find(0, bytes("m")).count(), 0u);
    // The emptied buckets take new rows.
    table.insert(row({"m", "fresh"}));
    EXPECT_EQ(join(table.find(0, bytes("m"))), "m|fresh");
}

TEST(KeyedTable, ConcurrentWritersLoseAndDuplicateNothing) {
    constexpr int kThreads = 8;
    constexpr int kRows = 800;  // per thread: 800 inserts, 800 finds, 400 removes
    KeyedTable table(2, 97);
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRows; ++i) {
                const std::string id = std::to_string(t) + "-" + std::to_string(i);
                const std::string whole = "k" + id + "|m" + id + "|v" + id;
                if (table.insert(row({"k" + id, "m" + id, "v" + id})) != 1) ++failures;
                if (join(table.find(1, bytes("m" + id))) != whole) ++failures;
                if (i % 2 == 1 && join(table.remove(0, bytes("k" + id))) != whole) ++failures;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(failures, 0);

    // The odd rows went again; every even one is there once, reachable
    // through both columns.
    const std::vector<FieldTuple> rows = table.snapshot();
    std::set<std::string> keys;
    for (const FieldTuple& tuple : rows) keys.insert(join(tuple));
    EXPECT_EQ(rows.size(), static_cast<size_t>(kThreads * kRows / 2));
    EXPECT_EQ(keys.size(), rows.size());
    EXPECT_EQ(table.rowCount(), rows.size());
    for (int t = 0; t < kThreads; ++t) {
        for (int i = 0; i < kRows; i += 2) {
            const std::string id = std::to_string(t) + "-" + std::to_string(i);
            EXPECT_EQ(keys.count("k" + id + "|m" + id + "|v" + id), 1u) << id;
            EXPECT_EQ(table.find(0, bytes("k" + id)).count(), 3u) << id;
            EXPECT_EQ(table.find(1, bytes("m" + id)).count(), 3u) << id;
        }
    }
}

} // namespace
} // namespace vp
