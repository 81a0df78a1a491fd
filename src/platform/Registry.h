#pragma once
// The registry: a tree of keys in two hives (per user and per machine), each
// key holding named, typed values. On Windows it is the system registry; on
// POSIX it is a file per hive (FileRegistry.h); tests use MemoryRegistry.h.
//
// Key paths are written with backslashes, without the hive
// ("Software\Tarrow Systems\Vellumpost\GeneralOptions"). Runs of backslashes
// and backslashes at either end are dropped, so "\Software\\X\" names the key
// "Software\X". Key paths and value names compare without regard to the case
// of A-Z, as on Windows. Nothing here throws.

#include <cstdint>
#include <memory>
#include <string>

namespace vp::platform {

enum class RegistryHive : uint32_t {
    CurrentUser,   // HKEY_CURRENT_USER
    LocalMachine,  // HKEY_LOCAL_MACHINE
};

// Value types, numbered as Windows numbers them. A value's type is a tag: the
// store keeps whatever bytes were given with it, so a DWORD of 2 bytes exists.
constexpr uint32_t kRegString = 1;       // REG_SZ
constexpr uint32_t kRegBinary = 3;       // REG_BINARY
constexpr uint32_t kRegDword = 4;        // REG_DWORD, 4 bytes little-endian
constexpr uint32_t kRegMultiString = 7;  // REG_MULTI_SZ

enum class RegistryResult : uint32_t {
    Success,
    NotFound,      // the key or value does not exist
    MoreData,      // the value is larger than the caller's buffer
    AccessDenied,  // a write through a key opened for reading, or the system refused
    Failed,        // an invalid path or name, a value too large, a store that could not be saved
};

// What a store hands out for one open key; RegistryKey owns it.
class RegistryKeyHandle {
public:
    virtual ~RegistryKeyHandle() = default;  // closes the key
    virtual RegistryResult query(const char* name, uint32_t& type, void* buffer, uint32_t bufferSize,
                                 uint32_t& byteCount) = 0;
    virtual RegistryResult set(const char* name, uint32_t type, const void* bytes, uint32_t count) = 0;
    virtual RegistryResult remove(const char* name) = 0;
};

// One open key. Move-only; closing (the destructor or close()) releases it.
// The store that opened it must outlive it.
class RegistryKey {
public:
    RegistryKey() = default;
    explicit RegistryKey(std::unique_ptr<RegistryKeyHandle> handle) : m_handle(std::move(handle)) {}
    RegistryKey(RegistryKey&&) noexcept = default;
    RegistryKey& operator=(RegistryKey&&) noexcept = default;
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    bool isOpen() const { return m_handle != nullptr; }
    void close() { m_handle.reset(); }

    // Reads the value name (null or "" is the key's unnamed value) into buffer.
    // type and byteCount receive the value's type and size. A value larger than
    // bufferSize gives MoreData with byteCount set to its size and nothing
    // usable in buffer; a null buffer asks for type and size only (Success).
    RegistryResult queryValue(const char* name, uint32_t& type, void* buffer, uint32_t bufferSize,
                              uint32_t& byteCount);
    // Stores exactly count bytes under name with the given type (no NUL is
    // added to a string).
    RegistryResult setValue(const char* name, uint32_t type, const void* bytes, uint32_t count);
    RegistryResult deleteValue(const char* name);

private:
    std::unique_ptr<RegistryKeyHandle> m_handle;
};

class Registry {
public:
    virtual ~Registry() = default;

    // Opens the key at path for reading and writing, creating it and any
    // missing parent first. key is closed on failure.
    RegistryResult createKey(RegistryHive hive, const char* path, RegistryKey& key);
    // Opens an existing key for reading only: NotFound when it is absent.
    RegistryResult openKey(RegistryHive hive, const char* path, RegistryKey& key);
    // Removes the key at path with every key and value below it. A path that
    // names no key below the hive (empty) is refused.
    RegistryResult deleteKeyTree(RegistryHive hive, const char* path);

    // path with its backslashes collapsed and the ends trimmed.
    static std::string normalizePath(const char* path);

    // A batch of changes (RegistryBatch opens and ends one): until the last
    // open batch ends, a store that writes a hive out whole may hold the
    // values set or deleted and write each changed hive once at the end,
    // instead of once per value. Keys created or deleted are kept at once, so
    // that their results stay what they were. A store that keeps each value
    // as it is set, like the system registry, ignores batches.
    virtual void beginBatch() {}
    virtual void endBatch() {}

protected:
    // The store's own operations, given a normalized, non-empty path. They may
    // throw (std::bad_alloc); the public operations turn that into Failed.
    virtual RegistryResult createKeyAt(RegistryHive hive, const std::string& path,
                                       std::unique_ptr<RegistryKeyHandle>& handle) = 0;
    virtual RegistryResult openKeyAt(RegistryHive hive, const std::string& path,
                                     std::unique_ptr<RegistryKeyHandle>& handle) = 0;
    virtual RegistryResult deleteKeyTreeAt(RegistryHive hive, const std::string& path) = 0;

private:
    using OpenOperation = RegistryResult (Registry::*)(RegistryHive, const std::string&,
                                                       std::unique_ptr<RegistryKeyHandle>&);
    RegistryResult openWith(OpenOperation operation, RegistryHive hive, const char* path, RegistryKey& key);
};

// One batch of changes on a registry, from construction to destruction: a
// settings save that sets many values costs one write of each hive it changed.
class RegistryBatch {
public:
    explicit RegistryBatch(Registry& registry) : m_registry(registry) { m_registry.beginBatch(); }
    ~RegistryBatch() { m_registry.endBatch(); }
    RegistryBatch(const RegistryBatch&) = delete;
    RegistryBatch& operator=(const RegistryBatch&) = delete;

private:
    Registry& m_registry;
};

// The platform's store: the system registry on Windows; on POSIX the file
// store in $VELLUMPOST_REGISTRY_DIR, else $XDG_CONFIG_HOME/vellumpost, else
// ~/.config/vellumpost (files user.reg and machine.reg).
Registry& systemRegistry();

} // namespace vp::platform
