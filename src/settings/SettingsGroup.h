#pragma once
// The base of the four settings groups. A group holds typed values addressed
// by numeric id, loads them from and saves them to one key path under the
// per-user and per-machine hives, and fills in defaults. Each concrete group
// is a table (SettingDefinition rows); the logic is here, once.
//
// Every operation takes the group's lock, so a single get, set, load or save
// is atomic between the user interface and the network threads.

#include "foundation/Semaphore.h"
#include "foundation/TextString.h"
#include "platform/Registry.h"

#include <array>
#include <cstdint>
#include <span>

namespace vp {

enum class SettingKind : uint8_t {
    Integer,  // unsigned 32-bit, stored as a 4-byte DWORD
    String,   // a TextString, stored as REG_SZ without a NUL
};

// One value of a group.
struct SettingDefinition {
    uint32_t id;
    const char* valueName;  // null: held in memory only, never stored
    SettingKind kind;
    platform::RegistryHive hive;
    uint32_t readBuffer;  // the most bytes a load accepts
    uint32_t defaultNumber;
    const char* defaultText;  // null: empty
};

constexpr SettingDefinition integerSetting(uint32_t id, const char* name, platform::RegistryHive hive,
                                           uint32_t defaultNumber) {
    return {id, name, SettingKind::Integer, hive, 4, defaultNumber, nullptr};
}

constexpr SettingDefinition stringSetting(uint32_t id, const char* name, platform::RegistryHive hive,
                                          uint32_t readBuffer, const char* defaultText) {
    return {id, name, SettingKind::String, hive, readBuffer, 0, defaultText};
}

// What makes a group: its name, its values in the order load and save handle
// them, and the hives whose keys load and save open, in that order.
struct SettingsLayout {
    const char* groupName;
    std::span<const SettingDefinition> values;
    std::span<const platform::RegistryHive> keys;
};

class SettingsGroup {
public:
    // The most values one group holds.
    static constexpr size_t kMaxValues = 24;

    SettingsGroup(const SettingsGroup&) = delete;
    SettingsGroup& operator=(const SettingsGroup&) = delete;

    // The integer with this id, or 0 for an id that is no integer of the group.
    uint32_t GetInt(uint32_t id);
    // 1, or 0 (and nothing changes) for an id that is no integer of the group.
    uint32_t SetInt(uint32_t id, uint32_t value);
    // A copy of the string with this id; empty for an id that is no string of the group.
    TextString GetString(uint32_t id);
    // 1, or 0 (and nothing changes) for an id that is no string of the group
    // or when the copy cannot be made.
    uint32_t SetString(uint32_t id, const TextString& text);
    // Reads every stored value; one that is absent, of another type or size,
    // or longer than its read buffer keeps its current value. 1 only when
    // every key of the group could be opened; 0 before SetKeyPath.
    uint32_t Load();
    // Writes every stored value; the result as for Load.
    uint32_t Save();
    // Puts back the defaults of the table. 1, or 0 when a default text could
    // not be copied.
    uint32_t SetDefaults();
    // Two operations kept in every group's set of operations; they do nothing.
    uint32_t Reserved1(uint32_t argument);
    uint32_t Reserved2(uint32_t argument);

    // The key path becomes basePath + "\" + the group name, with runs of
    // backslashes collapsed and the ends trimmed. 1, or 0 (and nothing
    // changes) for an empty base path.
    uint32_t SetKeyPath(const TextString& basePath);
    TextString keyPath();
    const TextString& groupName() const { return m_groupName; }

protected:
    // Sets the group name and the defaults; the key path stays empty. The
    // layout's tables must outlive the group.
    SettingsGroup(const SettingsLayout& layout, platform::Registry& registry);
    // Groups are used through this type but owned as what they are: nothing
    // destroys one through a pointer to the base.
    ~SettingsGroup();

private:
    struct Slot {
        uint32_t number = 0;
        TextString text;
    };

    // The slot of id when it is a value of that kind, else null.
    Slot* slotOf(uint32_t id, SettingKind kind);
    uint32_t applyDefaults();
    // Load and save walk the keys and values the same way.
    uint32_t transfer(bool save);

    const SettingsLayout m_layout;
    platform::Registry& m_registry;
    Semaphore m_lock{1, 1};
    const TextString m_groupName;
    TextString m_keyPath;
    std::array<Slot, kMaxValues> m_slots;  // in the order of m_layout.values
};

} // namespace vp
