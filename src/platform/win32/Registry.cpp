// The system registry through the ANSI calls.
#include "platform/Registry.h"

#include <windows.h>

#include <string>

namespace vp::platform {

namespace {

RegistryResult resultOf(LONG error) {
    switch (error) {
    case ERROR_SUCCESS: return RegistryResult::Success;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return RegistryResult::NotFound;
    case ERROR_MORE_DATA: return RegistryResult::MoreData;
    case ERROR_ACCESS_DENIED: return RegistryResult::AccessDenied;
    default: return RegistryResult::Failed;
    }
}

HKEY rootOf(RegistryHive hive) {
    return hive == RegistryHive::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

class Win32KeyHandle final : public RegistryKeyHandle {
public:
    explicit Win32KeyHandle(HKEY key) : m_key(key) {}
    ~Win32KeyHandle() override { RegCloseKey(m_key); }
    Win32KeyHandle(const Win32KeyHandle&) = delete;
    Win32KeyHandle& operator=(const Win32KeyHandle&) = delete;

    RegistryResult query(const char* name, uint32_t& type, void* buffer, uint32_t bufferSize,
                         uint32_t& byteCount) override {
        DWORD valueType = 0;
        DWORD size = buffer ? bufferSize : 0;
        const LONG error =
            RegQueryValueExA(m_key, name, nullptr, &valueType, static_cast<BYTE*>(buffer), &size);
        type = valueType;
        byteCount = size;
        return resultOf(error);
    }

    RegistryResult set(const char* name, uint32_t type, const void* bytes, uint32_t count) override {
        const auto* data = static_cast<const BYTE*>(bytes);
        // The system takes a text whose last byte is not a NUL but whose next
        // byte is one as a text whose caller forgot to count the NUL, and
        // stores the NUL too. The bytes given are what must be stored (the
        // settings write a text's length without its NUL), so the text is
        // handed over with a byte after it that is not a NUL.
        std::string guarded;
        if (isText(type) && count > 0 && data[count - 1] != 0) {
            guarded.assign(static_cast<const char*>(bytes), count);
            guarded += 'x';
            data = reinterpret_cast<const BYTE*>(guarded.data());
        }
        return resultOf(RegSetValueExA(m_key, name, 0, type, data, count));
    }

    RegistryResult remove(const char* name) override { return resultOf(RegDeleteValueA(m_key, name)); }

private:
    static bool isText(uint32_t type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

    HKEY m_key;
};

// Closes a key that was opened but could not be handed out.
struct KeyCloser {
    HKEY key = nullptr;
    ~KeyCloser() {
        if (key) RegCloseKey(key);
    }
};

// Hands an opened key to its owner; the closer keeps it until that worked.
RegistryResult adopt(LONG error, KeyCloser& opened, std::unique_ptr<RegistryKeyHandle>& handle) {
    if (error != ERROR_SUCCESS) return resultOf(error);
    if (!opened.key) return RegistryResult::Failed;
    handle = std::make_unique<Win32KeyHandle>(opened.key);
    opened.key = nullptr;
    return RegistryResult::Success;
}

class Win32Registry final : public Registry {
protected:
    RegistryResult createKeyAt(RegistryHive hive, const std::string& path,
                               std::unique_ptr<RegistryKeyHandle>& handle) override {
        KeyCloser opened;
        return adopt(RegCreateKeyA(rootOf(hive), path.c_str(), &opened.key), opened, handle);
    }

    RegistryResult openKeyAt(RegistryHive hive, const std::string& path,
                             std::unique_ptr<RegistryKeyHandle>& handle) override {
        KeyCloser opened;
        return adopt(RegOpenKeyExA(rootOf(hive), path.c_str(), 0, KEY_READ, &opened.key), opened, handle);
    }

    RegistryResult deleteKeyTreeAt(RegistryHive hive, const std::string& path) override {
        return resultOf(RegDeleteTreeA(rootOf(hive), path.c_str()));
    }
};

} // namespace

Registry& systemRegistry() {
    static Win32Registry registry;
    return registry;
}

} // namespace vp::platform
