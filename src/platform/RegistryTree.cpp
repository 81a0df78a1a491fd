#include "platform/RegistryTree.h"

#include <cstring>

namespace vp::platform {

struct RegistryTree::Node {
    std::map<std::string, std::unique_ptr<Node>, NameLess> children;
    ValueMap values;
};

namespace {

unsigned char folded(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (byte >= 'A' && byte <= 'Z') ? static_cast<unsigned char>(byte - 'A' + 'a') : byte;
}

// Calls each(name) for every name of a normalized path; false as soon as
// each does, or when a name is empty (a path that was not normalized).
template <typename Each>
bool forEachName(std::string_view path, Each&& each) {
    while (true) {
        const size_t separator = path.find('\\');
        const std::string_view name = path.substr(0, separator);
        if (name.empty() || !each(name)) return false;
        if (separator == std::string_view::npos) return true;
        path.remove_prefix(separator + 1);
    }
}

bool validValueName(std::string_view name) {
    return name.size() <= kMaxValueNameBytes && name.find('\0') == std::string_view::npos;
}

} // namespace

bool RegistryTree::NameLess::operator()(std::string_view a, std::string_view b) const {
    const size_t common = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < common; ++i) {
        const unsigned char x = folded(a[i]);
        const unsigned char y = folded(b[i]);
        if (x != y) return x < y;
    }
    return a.size() < b.size();
}

RegistryTree::RegistryTree() : m_root(std::make_unique<Node>()) {}

RegistryTree::~RegistryTree() = default;

RegistryTree::Node* RegistryTree::find(std::string_view path) const {
    Node* node = m_root.get();
    const bool found = forEachName(path, [&](std::string_view name) {
        const auto child = node->children.find(name);
        if (child == node->children.end()) return false;
        node = child->second.get();
        return true;
    });
    return found ? node : nullptr;
}

bool RegistryTree::hasKey(std::string_view path) const { return find(path) != nullptr; }

RegistryResult RegistryTree::createKey(std::string_view path, bool& created) {
    created = false;
    if (path.size() > kMaxKeyPathBytes || path.find('\0') != std::string_view::npos) return RegistryResult::Failed;
    // Checked in full before anything is added, so a refused path leaves no
    // parents behind.
    uint32_t depth = 0;
    const bool valid = forEachName(path, [&](std::string_view name) {
        return name.size() <= kMaxKeyNameBytes && ++depth <= kMaxKeyDepth;
    });
    if (!valid) return RegistryResult::Failed;
    Node* node = m_root.get();
    forEachName(path, [&](std::string_view name) {
        auto child = node->children.find(name);
        if (child == node->children.end()) {
            child = node->children.emplace(std::string(name), std::make_unique<Node>()).first;
            created = true;
        }
        node = child->second.get();
        return true;
    });
    return RegistryResult::Success;
}

RegistryResult RegistryTree::queryValue(std::string_view path, std::string_view name, uint32_t& type, void* buffer,
                                        uint32_t bufferSize, uint32_t& byteCount) const {
    type = 0;
    byteCount = 0;
    const Node* node = find(path);
    if (!node) return RegistryResult::NotFound;
    const auto value = node->values.find(name);
    if (value == node->values.end()) return RegistryResult::NotFound;
    type = value->second.type;
    byteCount = static_cast<uint32_t>(value->second.data.size());
    if (!buffer) return RegistryResult::Success;
    if (byteCount > bufferSize) return RegistryResult::MoreData;
    if (byteCount > 0) std::memcpy(buffer, value->second.data.data(), byteCount);
    return RegistryResult::Success;
}

RegistryResult RegistryTree::setValue(std::string_view path, std::string_view name, uint32_t type, const void* bytes,
                                      uint32_t count) {
    bool changed = false;
    return setValue(path, name, type, bytes, count, changed);
}

RegistryResult RegistryTree::setValue(std::string_view path, std::string_view name, uint32_t type, const void* bytes,
                                      uint32_t count, bool& changed) {
    changed = false;
    if (!validValueName(name) || count > kMaxValueBytes || (count > 0 && !bytes)) return RegistryResult::Failed;
    Node* node = find(path);
    if (!node) return RegistryResult::NotFound;
    // The data is built first, so that running out of memory leaves the old
    // value in place.
    Value fresh{type, count > 0 ? std::string(static_cast<const char*>(bytes), count) : std::string()};
    const auto existing = node->values.find(name);
    if (existing != node->values.end()) {
        if (existing->second.type == fresh.type && existing->second.data == fresh.data) return RegistryResult::Success;
        existing->second = std::move(fresh);
    } else {
        node->values.emplace(std::string(name), std::move(fresh));
    }
    changed = true;
    return RegistryResult::Success;
}

RegistryResult RegistryTree::deleteValue(std::string_view path, std::string_view name) {
    Node* node = find(path);
    if (!node) return RegistryResult::NotFound;
    const auto value = node->values.find(name);
    if (value == node->values.end()) return RegistryResult::NotFound;
    node->values.erase(value);
    return RegistryResult::Success;
}

RegistryResult RegistryTree::deleteKeyTree(std::string_view path) {
    const size_t separator = path.rfind('\\');
    Node* parent = (separator == std::string_view::npos) ? m_root.get() : find(path.substr(0, separator));
    const std::string_view name = (separator == std::string_view::npos) ? path : path.substr(separator + 1);
    if (!parent) return RegistryResult::NotFound;
    const auto child = parent->children.find(name);
    if (child == parent->children.end()) return RegistryResult::NotFound;
    parent->children.erase(child);
    return RegistryResult::Success;
}

void RegistryTree::clear() {
    m_root->children.clear();
    m_root->values.clear();
}

void RegistryTree::forEachKey(const std::function<void(const std::string&, const ValueMap&)>& visit) const {
    // Depth is bounded by kMaxKeyDepth, so recursion is safe here.
    std::string path;
    std::function<void(const Node&)> walk = [&](const Node& node) {
        for (const auto& [name, child] : node.children) {
            const size_t mark = path.size();
            if (!path.empty()) path += '\\';
            path += name;
            visit(path, child->values);
            walk(*child);
            path.resize(mark);
        }
    };
    walk(*m_root);
}

} // namespace vp::platform
