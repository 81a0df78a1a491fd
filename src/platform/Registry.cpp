// The parts of the registry that are the same for every store: path
// normalization, key ownership, and the boundary that keeps a failed
// allocation inside a store from escaping as an exception.
#include "platform/Registry.h"

namespace vp::platform {

namespace {

// Runs a store operation; running out of memory (or anything else thrown)
// inside it is a plain failure that never reaches the caller.
template <typename Operation>
RegistryResult guarded(Operation&& operation) {
    try {
        return operation();
    } catch (...) {
        return RegistryResult::Failed;
    }
}

const char* orEmpty(const char* name) { return name ? name : ""; }

} // namespace

RegistryResult RegistryKey::queryValue(const char* name, uint32_t& type, void* buffer, uint32_t bufferSize,
                                       uint32_t& byteCount) {
    type = 0;
    byteCount = 0;
    if (!m_handle) return RegistryResult::Failed;
    return guarded([&] { return m_handle->query(orEmpty(name), type, buffer, bufferSize, byteCount); });
}

RegistryResult RegistryKey::setValue(const char* name, uint32_t type, const void* bytes, uint32_t count) {
    if (!m_handle || (count > 0 && !bytes)) return RegistryResult::Failed;
    return guarded([&] { return m_handle->set(orEmpty(name), type, bytes, count); });
}

RegistryResult RegistryKey::deleteValue(const char* name) {
    if (!m_handle) return RegistryResult::Failed;
    return guarded([&] { return m_handle->remove(orEmpty(name)); });
}

std::string Registry::normalizePath(const char* path) {
    std::string result;
    if (!path) return result;
    bool pendingSeparator = false;
    for (const char* c = path; *c; ++c) {
        if (*c == '\\') {
            // Written only when more of the path follows, which drops the
            // ends and folds runs.
            pendingSeparator = !result.empty();
            continue;
        }
        if (pendingSeparator) result += '\\';
        pendingSeparator = false;
        result += *c;
    }
    return result;
}

RegistryResult Registry::openWith(OpenOperation operation, RegistryHive hive, const char* path,
                                  RegistryKey& key) {
    key.close();
    return guarded([&] {
        const std::string normalized = normalizePath(path);
        if (normalized.empty()) return RegistryResult::Failed;
        std::unique_ptr<RegistryKeyHandle> handle;
        const RegistryResult result = (this->*operation)(hive, normalized, handle);
        if (result != RegistryResult::Success) return result;
        if (!handle) return RegistryResult::Failed;
        key = RegistryKey(std::move(handle));
        return RegistryResult::Success;
    });
}

RegistryResult Registry::createKey(RegistryHive hive, const char* path, RegistryKey& key) {
    return openWith(&Registry::createKeyAt, hive, path, key);
}

RegistryResult Registry::openKey(RegistryHive hive, const char* path, RegistryKey& key) {
    return openWith(&Registry::openKeyAt, hive, path, key);
}

RegistryResult Registry::deleteKeyTree(RegistryHive hive, const char* path) {
    return guarded([&] {
        const std::string normalized = normalizePath(path);
        if (normalized.empty()) return RegistryResult::Failed;
        return deleteKeyTreeAt(hive, normalized);
    });
}

} // namespace vp::platform
