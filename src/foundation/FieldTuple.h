#pragma once
// A fixed number of byte fields, owned and copied deeply: the row of a keyed
// table and the payload of a queued event.

#include "foundation/TextString.h"

#include <cstdint>

namespace vp {

class FieldTuple {
public:
    // count empty fields; when the field array cannot be allocated the tuple
    // has no fields (count 0).
    explicit FieldTuple(uint32_t count = 0);
    // Deep copy; a copy that ran out of memory has no fields.
    FieldTuple(const FieldTuple& other);
    FieldTuple(FieldTuple&& other) noexcept;
    ~FieldTuple();

    FieldTuple& operator=(const FieldTuple& other);
    FieldTuple& operator=(FieldTuple&& other) noexcept;

    // Replaces the content with a deep copy of other: 1, or 0 when memory ran
    // out (the tuple then has no fields). Copying itself does nothing.
    uint32_t assign(const FieldTuple& other);
    // 0 when index is not below count(); else 1 when the whole value was stored.
    uint32_t setField(uint32_t index, const ByteBuffer& value);
    // The same, taking value's bytes over instead of copying them: 0 when
    // index is not below count() (value is then left alone), else 1.
    uint32_t setField(uint32_t index, ByteBuffer&& value);
    // A copy of field index; an empty buffer past the end.
    ByteBuffer getField(uint32_t index) const;
    // Field index without copying; an empty buffer past the end.
    const ByteBuffer& field(uint32_t index) const;
    uint32_t count() const { return m_count; }

private:
    void release();

    uint32_t m_count = 0;
    ByteBuffer* m_fields = nullptr;
};

} // namespace vp
