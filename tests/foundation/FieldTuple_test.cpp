#include "foundation/FieldTuple.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace vp {
namespace {

ByteBuffer bytes(const std::string& text) { return ByteBuffer(text.data(), static_cast<uint32_t>(text.size())); }

// The fields joined with '|', "" for an empty tuple.
std::string join(const FieldTuple& tuple) {
    std::string out;
    for (uint32_t i = 0; i < tuple.count(); ++i) {
        out += (i ? "|" : "") + std::string(reinterpret_cast<const char*>(tuple.field(i).data()), tuple.field(i).size());
    }
    return out;
}

TEST(FieldTuple, FieldsAreBoundedByTheCount) {
    FieldTuple none;
    EXPECT_EQ(none.count(), 0u);
    EXPECT_EQ(none.setField(0, bytes("x")), 0u);

    FieldTuple tuple(3);
    EXPECT_EQ(join(tuple), "||");
    EXPECT_EQ(tuple.setField(2, bytes("last")), 1u);
    EXPECT_EQ(tuple.setField(3, bytes("past")), 0u);
    EXPECT_EQ(join(tuple), "||last");
    EXPECT_EQ(tuple.getField(3).size(), 0u);
    EXPECT_EQ(tuple.field(99).size(), 0u);
    // An empty value is stored whole too, and a field set from itself keeps
    // its bytes.
    EXPECT_EQ(tuple.setField(2, ByteBuffer()), 1u);
    tuple.setField(0, bytes("self"));
    EXPECT_EQ(tuple.setField(0, tuple.field(0)), 1u);
    EXPECT_EQ(join(tuple), "self||");
}

TEST(FieldTuple, CopiesAreDeepAndIndependent) {
    FieldTuple original(2);
    original.setField(0, bytes("alpha"));
    original.setField(1, bytes("beta"));

    FieldTuple copy(original);
    FieldTuple assigned(5);
    assigned = original;
    FieldTuple viaAssign;
    EXPECT_EQ(viaAssign.assign(original), 1u);
    original.setField(0, bytes("changed"));
    original.getField(1).data()[0] = 'X';  // a getField copy: the field stays
    EXPECT_EQ(join(original), "changed|beta");
    for (const FieldTuple* tuple : {&copy, &assigned, &viaAssign}) EXPECT_EQ(join(*tuple), "alpha|beta");

    FieldTuple& alias = copy;
    copy = alias;
    EXPECT_EQ(copy.assign(alias), 1u);
    EXPECT_EQ(join(copy), "alpha|beta");
    FieldTuple moved(std::move(copy));
    EXPECT_EQ(copy.count(), 0u);
    EXPECT_EQ(join(moved), "alpha|beta");
    assigned = std::move(moved);
    EXPECT_EQ(moved.count(), 0u);
    EXPECT_EQ(join(assigned), "alpha|beta");
}

} // namespace
} // namespace vp
