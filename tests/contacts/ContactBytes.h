#pragma once
// The items of a record file spelled out for the contact tests: a 32-bit
// little-endian length and the bytes.

#include "support/Bytes.h"

#include <cstdint>
#include <string>

namespace vp::test {

inline std::string item(const std::string& content) { return le32(static_cast<uint32_t>(content.size())) + content; }
inline std::string numberItem(uint32_t value) { return item(le32(value)); }
inline std::string textPair(const std::string& name, const std::string& value) { return item(name) + item(value); }
inline std::string numberPair(const std::string& name, uint32_t value) { return item(name) + numberItem(value); }

inline const std::string kSignatureItem = std::string("\x05\x00\x00\x00IFFIO", 9);

} // namespace vp::test
