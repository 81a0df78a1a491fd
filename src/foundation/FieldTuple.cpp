#include "foundation/FieldTuple.h"

#include <new>
#include <utility>

namespace vp {

namespace {

// What field() hands out for an index past the end.
const ByteBuffer kNoField;

} // namespace

FieldTuple::FieldTuple(uint32_t count) {
    if (count == 0) return;
    m_fields = new (std::nothrow) ByteBuffer[count];
    if (m_fields) m_count = count;
}

FieldTuple::FieldTuple(const FieldTuple& other) { assign(other); }

FieldTuple::FieldTuple(FieldTuple&& other) noexcept
    : m_count(std::exchange(other.m_count, 0)), m_fields(std::exchange(other.m_fields, nullptr)) {}

FieldTuple::~FieldTuple() { release(); }

FieldTuple& FieldTuple::operator=(const FieldTuple& other) {
    assign(other);
    return *this;
}

FieldTuple& FieldTuple::operator=(FieldTuple&& other) noexcept {
    if (this == &other) return *this;
    release();
    m_count = std::exchange(other.m_count, 0);
    m_fields = std::exchange(other.m_fields, nullptr);
    return *this;
}

uint32_t FieldTuple::assign(const FieldTuple& other) {
    if (this == &other) return 1;
    FieldTuple copy(other.m_count);
    if (copy.m_count != other.m_count) {
        release();
        return 0;
    }
    for (uint32_t i = 0; i < other.m_count; ++i) {
        // A failed ByteBuffer copy leaves the field short rather than failing,
        // so every field is checked: half a row must never pass as a row.
        if (copy.setField(i, other.m_fields[i]) == 0) {
            release();
            return 0;
        }
    }
    *this = std::move(copy);
    return 1;
}

uint32_t FieldTuple::setField(uint32_t index, const ByteBuffer& value) {
    if (index >= m_count) return 0;
    const uint32_t size = value.size();
    m_fields[index] = value;
    return m_fields[index].size() == size ? 1 : 0;
}

uint32_t FieldTuple::setField(uint32_t index, ByteBuffer&& value) {
    if (index >= m_count) return 0;
    m_fields[index] = std::move(value);
    return 1;
}

ByteBuffer FieldTuple::getField(uint32_t index) const { return index < m_count ? m_fields[index] : ByteBuffer(); }

const ByteBuffer& FieldTuple::field(uint32_t index) const { return index < m_count ? m_fields[index] : kNoField; }

void FieldTuple::release() {
    delete[] m_fields;
    m_fields = nullptr;
    m_count = 0;
}

} // namespace vp
