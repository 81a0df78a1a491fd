#include "platform/MemoryRegistry.h"

#include <utility>

namespace vp::platform {

// An open key: its hive and path, and whether it was opened for writing.
class MemoryRegistry::KeyHandle final : public RegistryKeyHandle {
public:
    KeyHandle(MemoryRegistry& store, RegistryHive hive, std::string path, bool writable)
        : m_store(store), m_hive(hive), m_path(std::move(path)), m_writable(writable) {}

    RegistryResult query(const char* name, uint32_t& type, void* buffer, uint32_t bufferSize,
                         uint32_t& byteCount) override {
        return m_store.readHive(m_hive, [&](const RegistryTree& tree) {
            return tree.queryValue(m_path, name, type, buffer, bufferSize, byteCount);
        });
    }

    RegistryResult set(const char* name, uint32_t type, const void* bytes, uint32_t count) override {
        if (!m_writable) return RegistryResult::AccessDenied;
        return m_store.changeHive(m_hive, Hold::InBatch, [&](RegistryTree& tree, bool& changed) {
            // A value set to what it holds changes nothing to write out: a
            // settings save sets every value of its group each time.
            return tree.setValue(m_path, name, type, bytes, count, changed);
        });
    }

    RegistryResult remove(const char* name) override {
        if (!m_writable) return RegistryResult::AccessDenied;
        return m_store.changeHive(m_hive, Hold::InBatch, [&](RegistryTree& tree, bool& changed) {
            const RegistryResult result = tree.deleteValue(m_path, name);
            changed = result == RegistryResult::Success;
            return result;
        });
    }

private:
    MemoryRegistry& m_store;
    RegistryHive m_hive;
    std::string m_path;
    bool m_writable;
};

MemoryRegistry::MemoryRegistry() = default;

MemoryRegistry::~MemoryRegistry() = default;

void MemoryRegistry::loadHive(RegistryHive, RegistryTree&) {}

bool MemoryRegistry::persistHive(RegistryHive, const RegistryTree&) { return true; }

MemoryRegistry::HiveState& MemoryRegistry::state(RegistryHive hive) {
    return m_hives[hive == RegistryHive::LocalMachine ? 1 : 0];
}

RegistryTree& MemoryRegistry::loadedTree(RegistryHive hive) {
    HiveState& hiveState = state(hive);
    if (!hiveState.loaded) {
        loadHive(hive, hiveState.tree);
        hiveState.loaded = true;
    }
    return hiveState.tree;
}

void MemoryRegistry::forget(RegistryHive hive) {
    HiveState& hiveState = state(hive);
    hiveState.loaded = false;
    hiveState.held = false;
}

template <typename Change>
RegistryResult MemoryRegistry::changeHive(RegistryHive hive, Hold hold, Change&& change) {
    std::lock_guard<std::mutex> lock(m_lock);
    RegistryTree& tree = loadedTree(hive);
    HiveState& hiveState = state(hive);
    bool changed = false;
    RegistryResult result;
    try {
        result = change(tree, changed);
        if (changed && hold == Hold::InBatch && m_openBatches > 0) {
            hiveState.held = true;
        } else if (changed) {
            // Persisting writes the whole hive, the held changes with it.
            if (persistHive(hive, tree)) hiveState.held = false;
            else result = RegistryResult::Failed;
        }
    } catch (...) {
        // A change cut short may have left part of itself behind; what is kept
        // is what counts.
        forget(hive);
        throw;
    }
    if (result == RegistryResult::Failed && changed) forget(hive);
    return result;
}

void MemoryRegistry::beginBatch() {
    std::lock_guard<std::mutex> lock(m_lock);
    ++m_openBatches;
}

void MemoryRegistry::endBatch() {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_openBatches == 0 || --m_openBatches > 0) return;
    for (const RegistryHive hive : {RegistryHive::CurrentUser, RegistryHive::LocalMachine}) {
        HiveState& hiveState = state(hive);
        if (!hiveState.held) continue;
        hiveState.held = false;
        // Changes that cannot be kept are dropped, as a single change that
        // cannot be kept is.
        bool kept = false;
        try {
            kept = persistHive(hive, hiveState.tree);
        } catch (...) {
            kept = false;
        }
        if (!kept) forget(hive);
    }
}

template <typename Read>
RegistryResult MemoryRegistry::readHive(RegistryHive hive, Read&& read) {
    std::lock_guard<std::mutex> lock(m_lock);
    return read(static_cast<const RegistryTree&>(loadedTree(hive)));
}

RegistryResult MemoryRegistry::createKeyAt(RegistryHive hive, const std::string& path,
                                           std::unique_ptr<RegistryKeyHandle>& handle) {
    // The handle is made first: once the key exists, failing to hand it out
    // would leave a change that the caller was told had failed.
    auto fresh = std::make_unique<KeyHandle>(*this, hive, path, true);
    const RegistryResult result = changeHive(hive, Hold::Never, [&](RegistryTree& tree, bool& changed) {
        return tree.createKey(path, changed);
    });
    if (result == RegistryResult::Success) handle = std::move(fresh);
    return result;
}

RegistryResult MemoryRegistry::openKeyAt(RegistryHive hive, const std::string& path,
                                         std::unique_ptr<RegistryKeyHandle>& handle) {
    auto fresh = std::make_unique<KeyHandle>(*this, hive, path, false);
    const RegistryResult result = readHive(hive, [&](const RegistryTree& tree) {
        return tree.hasKey(path) ? RegistryResult::Success : RegistryResult::NotFound;
    });
    if (result == RegistryResult::Success) handle = std::move(fresh);
    return result;
}

RegistryResult MemoryRegistry::deleteKeyTreeAt(RegistryHive hive, const std::string& path) {
    return changeHive(hive, Hold::Never, [&](RegistryTree& tree, bool& changed) {
        const RegistryResult result = tree.deleteKeyTree(path);
        changed = result == RegistryResult::Success;
        return result;
    });
}

} // namespace vp::platform
