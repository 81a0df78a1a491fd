#pragma once
// The keys and values of one hive, held in memory. The memory store and the
// file store keep their hives in it; the file store also writes it out and
// reads it back (FileRegistry.h).
//
// Paths arrive normalized (Registry::normalizePath). Names compare without
// regard to the case of A-Z and keep the case they were created with. Not
// synchronised: the store that owns the tree locks around it. Operations may
// throw std::bad_alloc; the store's boundary (Registry.cpp) turns that into a
// failure.

#include "platform/Registry.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace vp::platform {

// Limits every store of ours keeps, so that whatever one accepts a file can
// hold and read back. They are at or below the system registry's own.
constexpr uint32_t kMaxKeyNameBytes = 255;      // one name within a key path
constexpr uint32_t kMaxKeyDepth = 512;          // names in a key path
constexpr uint32_t kMaxKeyPathBytes = 4096;
constexpr uint32_t kMaxValueNameBytes = 16383;
constexpr uint32_t kMaxValueBytes = 1024 * 1024;

class RegistryTree {
public:
    struct Value {
        uint32_t type = 0;
        std::string data;  // the bytes as given
    };
    struct NameLess {
        using is_transparent = void;
        bool operator()(std::string_view a, std::string_view b) const;
    };
    using ValueMap = std::map<std::string, Value, NameLess>;

    RegistryTree();
    ~RegistryTree();
    RegistryTree(const RegistryTree&) = delete;
    RegistryTree& operator=(const RegistryTree&) = delete;

    bool hasKey(std::string_view path) const;
    // Creates path and its missing parents; created tells whether a key was
    // added. Failed for a path beyond the limits or with an empty name.
    RegistryResult createKey(std::string_view path, bool& created);
    // As RegistryKey::queryValue, for the key at path.
    RegistryResult queryValue(std::string_view path, std::string_view name, uint32_t& type, void* buffer,
                              uint32_t bufferSize, uint32_t& byteCount) const;
    RegistryResult setValue(std::string_view path, std::string_view name, uint32_t type, const void* bytes,
                            uint32_t count);
    // The same; changed tells whether the value differs from what was there,
    // so that a store can skip writing out a value set to what it held.
    RegistryResult setValue(std::string_view path, std::string_view name, uint32_t type, const void* bytes,
                            uint32_t count, bool& changed);
    RegistryResult deleteValue(std::string_view path, std::string_view name);
    RegistryResult deleteKeyTree(std::string_view path);
    void clear();

    // Every key with its values: parents before their children, siblings and
    // values in name order, so that the same tree always gives the same file.
    void forEachKey(const std::function<void(const std::string& path, const ValueMap& values)>& visit) const;

private:
    struct Node;
    Node* find(std::string_view path) const;

    std::unique_ptr<Node> m_root;
};

} // namespace vp::platform
