#include "foundation/FieldTuple.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace vp {
namespace {

ByteBuffer bytes(const std::string& text) { return ByteBuffer(text.data(), static_cast<uint32_t>(text.size())); }

std::string text(const ByteBuffer& buffer) {
    return std::string(reinterpret_cast<const char*>(buffer.data()), buffer.size());
}

TEST(FieldTuple, FieldsAreBoundedByTheCount) {
    FieldTuple none;
    EXPECT_EQ(none.count(), 0u);
    EXPECT_EQ(none.setField(0, bytes("x")), 0u);

    FieldTuple tuple(3);
    ASSERT_EQ(tuple.count(), 3u);
    for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(tuple.field(i).size(), 0u);
    EXPECT_EQ(tuple.setField(2, bytes("last")), 1u);
    EXPECT_EQ(tuple.setField(3, bytes("past")), 0u);
    EXPECT_EQ(text(tuple.getField(2)), "last");
    EXPECT_EQ(tuple.getField(3).size(), 0u);
    EXPECT_EQ(tuple.field(99).size(), 0u);
    // An empty value is stored whole too.
    EXPECT_EQ(tuple.setField(2, ByteBuffer()), 1u);
    EXPECT_EQ(tuple.field(2).size(), 0u);
    // A field set from itself keeps its bytes.
    tuple.setField(0, bytes("self"));
    EXPECT_EQ(tuple.setField(0, tuple.field(0)), 1u);
    EXPECT_EQ(text(tuple.field(0)), "self");
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
    EXPECT_NE(copy.field(0).data(), original.field(0).data());

    original.setField(0, bytes("changed"));
    original.getField(1).data()[0] = 'X';  // a getField copy: the field stays
    for (const FieldTuple* tuple : {&copy, &assigned, &viaAssign}) {
        ASSERT_EQ(tuple->count(), 2u);
        EXPECT_EQ(text(tuple->field(0)), "alpha");
        EXPECT_EQ(text(tuple->field(1)), "beta");
    }
    EXPECT_EQ(text(original.field(0)), "changed");
    EXPECT_EQ(text(original.field(1)), "beta");

    FieldTuple& alias = copy;
    copy = alias;
    EXPECT_EQ(copy.assign(alias), 1u);
    ASSERT_EQ(copy.count(), 2u);
    EXPECT_EQ(text(copy.field(0)), "alpha");

    FieldTuple moved(std::move(copy));
    EXPECT_EQ(copy.count(), 0u);
    ASSERT_EQ(moved.count(), 2u);
    EXPECT_EQ(text(moved.field(1)), "beta");
    assigned = std::move(moved);
    EXPECT_EQ(moved.count(), 0u);
    EXPECT_EQ(text(assigned.field(0)), "alpha");
}

} // namespace
} // namespace vp
