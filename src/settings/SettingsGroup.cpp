#include "settings/SettingsGroup.h"
#include "foundation/LittleEndian.h"

#include <algorithm>
#include <utility>

namespace vp {

namespace {

using platform::RegistryKey;
using platform::RegistryResult;

void saveValue(RegistryKey& key, const SettingDefinition& value, uint32_t number, const TextString& text) {
    if (value.kind == SettingKind::Integer) {
        uint8_t bytes[4];
        writeLittleEndian32(bytes, number);
        key.setValue(value.valueName, platform::kRegDword, bytes, sizeof bytes);
    } else {
        // The text's own length, without a NUL.
        key.setValue(value.valueName, platform::kRegString, text.c_str(), text.length());
    }
}

// Leaves number and text as they are unless the stored value has the type
// and size the definition expects and fits its read buffer.
void loadValue(RegistryKey& key, const SettingDefinition& value, ByteBuffer& buffer, uint32_t& number,
               TextString& text) {
    uint32_t type = 0;
    uint32_t count = 0;
    if (key.queryValue(value.valueName, type, buffer.data(), value.readBuffer, count) != RegistryResult::Success) {
        return;
    }
    if (value.kind == SettingKind::Integer) {
        if (type == platform::kRegDword && count == 4) number = readLittleEndian32(buffer.data());
    } else if (type == platform::kRegString) {
        // The byte count the registry gives is the length. Strings written
        // elsewhere (an installer, regedit) end in the NUL that Windows asks
        // for; kept, it would travel inside a user name. This program never
        // writes one, so trailing NULs are dropped.
        while (count > 0 && buffer.data()[count - 1] == 0) --count;
        TextString loaded(reinterpret_cast<const char*>(buffer.data()), count);
        if (loaded.isValid()) text = std::move(loaded);
    }
}

} // namespace

SettingsGroup::SettingsGroup(const SettingsLayout& layout, platform::Registry& registry)
    : m_layout{layout.groupName, layout.values.first(std::min(layout.values.size(), kMaxValues)), layout.keys},
      m_registry(registry),
      m_groupName(layout.groupName) {
    applyDefaults();
}

SettingsGroup::~SettingsGroup() = default;

SettingsGroup::Slot* SettingsGroup::slotOf(uint32_t id, SettingKind kind) {
    for (size_t i = 0; i < m_layout.values.size(); ++i) {
        const SettingDefinition& value = m_layout.values[i];
        if (value.id == id) return value.kind == kind ? &m_slots[i] : nullptr;
    }
    return nullptr;
}

uint32_t SettingsGroup::GetInt(uint32_t id) {
    SemaphoreLock lock(m_lock);
    const Slot* slot = slotOf(id, SettingKind::Integer);
    return (lock.acquired() && slot) ? slot->number : 0;
}

uint32_t SettingsGroup::SetInt(uint32_t id, uint32_t value) {
    SemaphoreLock lock(m_lock);
    Slot* slot = slotOf(id, SettingKind::Integer);
    if (!lock.acquired() || !slot) return 0;
    slot->number = value;
    return 1;
}

TextString SettingsGroup::GetString(uint32_t id) {
    SemaphoreLock lock(m_lock);
    const Slot* slot = slotOf(id, SettingKind::String);
    return (lock.acquired() && slot) ? slot->text : TextString();
}

uint32_t SettingsGroup::SetString(uint32_t id, const TextString& text) {
    SemaphoreLock lock(m_lock);
    Slot* slot = slotOf(id, SettingKind::String);
    if (!lock.acquired() || !slot) return 0;
    TextString copy(text);
    if (!copy.isValid()) return 0;
    slot->text = std::move(copy);
    return 1;
}

uint32_t SettingsGroup::Load() { return transfer(false); }

uint32_t SettingsGroup::Save() { return transfer(true); }

uint32_t SettingsGroup::SetDefaults() {
    SemaphoreLock lock(m_lock);
    return lock.acquired() ? applyDefaults() : 0;
}

uint32_t SettingsGroup::Reserved1(uint32_t) { return 0; }

uint32_t SettingsGroup::Reserved2(uint32_t) { return 0; }

uint32_t SettingsGroup::SetKeyPath(const TextString& basePath) {
    SemaphoreLock lock(m_lock);
    if (!lock.acquired() || basePath.collapseSeparator('\\').isEmpty()) return 0;
    TextString path = (basePath + "\\" + m_groupName).collapseSeparator('\\');
    if (!path.isValid() || path.isEmpty()) return 0;
    m_keyPath = std::move(path);
    return 1;
}

TextString SettingsGroup::keyPath() {
    SemaphoreLock lock(m_lock);
    return m_keyPath;
}

uint32_t SettingsGroup::applyDefaults() {
    uint32_t result = 1;
    for (size_t i = 0; i < m_layout.values.size(); ++i) {
        const SettingDefinition& value = m_layout.values[i];
        m_slots[i].number = value.defaultNumber;
        m_slots[i].text = value.defaultText;
        if (!m_slots[i].text.isValid()) result = 0;
    }
    return result;
}

uint32_t SettingsGroup::transfer(bool save) {
    SemaphoreLock lock(m_lock);
    if (!lock.acquired() || m_keyPath.isEmpty()) return 0;

    // One buffer serves every value of a load: the largest read buffer.
    uint32_t largest = 0;
    for (const SettingDefinition& value : m_layout.values) largest = std::max(largest, value.readBuffer);
    ByteBuffer buffer;
    if (!save && buffer.resize(largest) == 0) return 0;

    // A save sets every value: a store that writes a hive out whole does so
    // once for the group, not once per value.
    const platform::RegistryBatch batch(m_registry);

    uint32_t result = 1;
    for (const platform::RegistryHive hive : m_layout.keys) {
        // Both directions create the key: a load on a fresh system leaves the
        // keys in place for the save that follows.
        RegistryKey key;
        if (m_registry.createKey(hive, m_keyPath.c_str(), key) != RegistryResult::Success) {
            result = 0;  // this hive's values keep what they hold
            continue;
        }
        for (size_t i = 0; i < m_layout.values.size(); ++i) {
            const SettingDefinition& value = m_layout.values[i];
            if (value.hive != hive || !value.valueName) continue;
            Slot& slot = m_slots[i];
            if (save) {
                saveValue(key, value, slot.number, slot.text);
            } else {
                loadValue(key, value, buffer, slot.number, slot.text);
            }
        }
    }
    return result;
}

} // namespace vp
