#include "settings/ContactPlacement.h"
#include "foundation/LittleEndian.h"

namespace vp {

namespace {

using platform::kRegDword;
using platform::RegistryHive;
using platform::RegistryKey;
using platform::RegistryResult;

// The largest side a stored size may have; anything else is damage, and a
// window of no size (or one wider than any screen) could never be seen again.
constexpr int32_t kMaxSide = 32767;

bool readDword(RegistryKey& key, const char* name, int32_t& value) {
    uint8_t bytes[4] = {};
    uint32_t type = 0;
    uint32_t count = 0;
    if (key.queryValue(name, type, bytes, sizeof bytes, count) != RegistryResult::Success) return false;
    if (type != kRegDword || count != 4) return false;
    value = static_cast<int32_t>(readLittleEndian32(bytes));
    return true;
}

bool writeDword(RegistryKey& key, const char* name, int32_t value) {
    uint8_t bytes[4];
    writeLittleEndian32(bytes, static_cast<uint32_t>(value));
    return key.setValue(name, kRegDword, bytes, 4) == RegistryResult::Success;
}

bool sensibleSide(int32_t side) { return side > 0 && side <= kMaxSide; }

} // namespace

ContactPlacement::ContactPlacement(platform::Registry& registry, PlacementWindow& window,
                                   const TextString& registryKeyPath)
    : m_registry(registry),
      m_window(window),
      m_keyPath((registryKeyPath + "\\LastSession\\ContactMgmtView").collapseSeparator('\\')) {}

uint32_t ContactPlacement::savePlacement() {
    if (!m_window.exists()) return 0;
    RegistryKey key;
    if (m_registry.createKey(RegistryHive::CurrentUser, m_keyPath.c_str(), key) != RegistryResult::Success) return 0;
    const bool visible = m_window.isVisible();
    const bool minimized = m_window.isMinimized();
    const bool maximized = m_window.isMaximized();
    writeDword(key, "Show", visible ? 1 : 0);
    writeDword(key, "RollUp", m_rolledUp ? 1 : 0);
    writeDword(key, "Maximized", maximized ? 1 : 0);
    writeDword(key, "Minimized", minimized ? 1 : 0);
    // A minimised or maximised window keeps the last normal place on record.
    if (visible && !minimized && !maximized) {
        const WindowRect rect = m_window.rect();
        writeDword(key, "PosX", rect.left);
        writeDword(key, "PosY", rect.top);
        writeDword(key, "Width", rect.right - rect.left);
        writeDword(key, "Height", m_rolledUp ? m_heightBeforeRollUp : rect.bottom - rect.top);
    }
    return 1;
}

uint32_t ContactPlacement::loadPlacement() {
    RegistryKey key;
    if (m_registry.createKey(RegistryHive::CurrentUser, m_keyPath.c_str(), key) != RegistryResult::Success) return 0;
    int32_t show = 0;
    int32_t maximized = 0;
    int32_t minimized = 0;
    int32_t rollUp = 0;
    int32_t left = 0;
    int32_t top = 0;
    int32_t width = 0;
    int32_t height = 0;
    if (!readDword(key, "Show", show)) {
        resetPlacement();
        return 0;
    }
    readDword(key, "Maximized", maximized);
    readDword(key, "Minimized", minimized);
    if (!readDword(key, "RollUp", rollUp) || !readDword(key, "PosX", left) || !readDword(key, "PosY", top) ||
        !readDword(key, "Width", width) || !readDword(key, "Height", height) || !sensibleSide(width) ||
        !sensibleSide(height)) {
        resetPlacement();
        return 0;
    }
    key.close();

    m_rolledUp = rollUp != 0;
    if (m_rolledUp) {
        m_heightBeforeRollUp = height;
        m_window.moveTo(left, top, width, kRolledUpHeight);
        m_window.setSizingBorder(false);
    } else {
        m_window.moveTo(left, top, width, height);
        m_window.setSizingBorder(true);
    }
    m_shown = show != 0;
    if (!m_shown) m_window.show(ShowMode::Hide);
    else if (maximized) m_window.show(ShowMode::Maximized);
    else if (minimized) m_window.show(ShowMode::Minimized);
    else m_window.show(ShowMode::Normal);
    return 1;
}

void ContactPlacement::resetPlacement() {
    const int32_t screenWidth = m_window.maximizedWidth();
    const int32_t screenHeight = m_window.maximizedHeight();
    const int32_t left = screenWidth * 2 / 10;
    const int32_t top = screenHeight * 2 / 10;
    m_rolledUp = false;
    m_shown = true;
    m_window.clearMinMax();
    m_window.moveTo(left, top, screenWidth - 2 * left, screenHeight - 2 * top);
    // A window reset out of the rolled-up state gets its sizing border back,
    // or it could not be resized any more.
    m_window.setSizingBorder(true);
    m_window.show(ShowMode::Normal);
}

uint32_t ContactPlacement::setRollUp(uint32_t flag) {
    const bool rollUp = flag != 0;
    if (rollUp == m_rolledUp || !m_window.isVisible()) return 0;
    const WindowRect rect = m_window.rect();
    if (rollUp) {
        m_heightBeforeRollUp = rect.bottom - rect.top;
        // The placement on record is the one the window had before.
        savePlacement();
        m_window.resize(rect.right - rect.left, kRolledUpHeight);
        m_window.setSizingBorder(false);
    } else {
        m_window.resize(rect.right - rect.left, m_heightBeforeRollUp);
        m_window.setSizingBorder(true);
    }
    m_rolledUp = rollUp;
    return 1;
}

uint32_t ContactPlacement::loadTaskbarIcon() {
    int32_t value = 1;
    RegistryKey key;
    if (m_registry.createKey(RegistryHive::CurrentUser, m_keyPath.c_str(), key) == RegistryResult::Success)
        readDword(key, "ShowTaskbarIcon", value);
    m_taskbarIcon = value != 0;
    return m_taskbarIcon ? 1 : 0;
}

uint32_t ContactPlacement::saveTaskbarIcon(uint32_t flag) {
    m_taskbarIcon = flag != 0;
    RegistryKey key;
    if (m_registry.createKey(RegistryHive::CurrentUser, m_keyPath.c_str(), key) != RegistryResult::Success) return 0;
    return writeDword(key, "ShowTaskbarIcon", flag) ? 1 : 0;
}

} // namespace vp
