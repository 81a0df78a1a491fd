#pragma once
// A registry held in memory: both hives, the same paths, names, types and
// results as the system registry. Tests hand it to the settings groups; the
// file store (FileRegistry.h) is this store with each hive kept in a file.
//
// Safe to use from any thread: one lock guards both hives. Open keys refer to
// their key by path, so they must not outlive the store.

#include "platform/Registry.h"
#include "platform/RegistryTree.h"

#include <memory>
#include <mutex>
#include <string>

namespace vp::platform {

class MemoryRegistry : public Registry {
public:
    MemoryRegistry();
    ~MemoryRegistry() override;
    MemoryRegistry(const MemoryRegistry&) = delete;
    MemoryRegistry& operator=(const MemoryRegistry&) = delete;

    // Batches hold the values set or deleted, from any thread, until the
    // last one ends; each hive they changed is then persisted once.
    void beginBatch() override;
    void endBatch() override;

protected:
    // Where a store that keeps its hives elsewhere fills them in and writes
    // them out; both are called with the lock held.
    //
    // loadHive runs before a hive is first used, and again after a change
    // that could not be persisted, so that memory goes back to what is kept.
    // Here memory is all there is: the tree stays as it is.
    virtual void loadHive(RegistryHive hive, RegistryTree& tree);
    // Runs after every change of a hive; false fails the change. Inside a
    // batch, values set or deleted run it once per changed hive when the
    // batch ends; false then reads the hive back from what is kept.
    virtual bool persistHive(RegistryHive hive, const RegistryTree& tree);

    RegistryResult createKeyAt(RegistryHive hive, const std::string& path,
                               std::unique_ptr<RegistryKeyHandle>& handle) override;
    RegistryResult openKeyAt(RegistryHive hive, const std::string& path,
                             std::unique_ptr<RegistryKeyHandle>& handle) override;
    RegistryResult deleteKeyTreeAt(RegistryHive hive, const std::string& path) override;

private:
    class KeyHandle;
    struct HiveState {
        RegistryTree tree;
        bool loaded = false;
        bool held = false;  // changed in a batch and not persisted yet
    };
    // Whether a change may wait for the end of a batch.
    enum class Hold { Never, InBatch };

    HiveState& state(RegistryHive hive);
    RegistryTree& loadedTree(RegistryHive hive);
    // Drops the hive from memory, so that it is read again from what is kept.
    void forget(RegistryHive hive);
    // Applies change(tree, changed) under the lock and persists the hive when
    // it reports a change, or marks it held for the batch's end.
    template <typename Change>
    RegistryResult changeHive(RegistryHive hive, Hold hold, Change&& change);
    template <typename Read>
    RegistryResult readHive(RegistryHive hive, Read&& read);

    // The platform layer sits below the foundation and its Semaphore, so a
    // plain mutex guards the hives here.
    std::mutex m_lock;
    HiveState m_hives[2];
    uint32_t m_openBatches = 0;
};

} // namespace vp::platform
