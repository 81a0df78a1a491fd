#pragma once
// Where the contact list window was, how big, and in which state (shown,
// maximised, minimised, rolled up to its caption), kept across runs under
// "<registry key path>\LastSession\ContactMgmtView" in the user's hive, plus
// the default placement of a first run and of "Reset Size and Position".
//
// The decisions live here; the window itself is reached through
// PlacementWindow, which the contact list window implements.

#include "foundation/TextString.h"
#include "platform/Registry.h"

#include <cstdint>

namespace vp {

struct WindowRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
};

enum class ShowMode { Hide, Normal, Maximized, Minimized };

// The window whose placement is kept.
class PlacementWindow {
public:
    virtual ~PlacementWindow() = default;
    virtual bool exists() const = 0;
    virtual bool isVisible() const = 0;
    virtual bool isMinimized() const = 0;
    virtual bool isMaximized() const = 0;
    // The window rectangle in screen pixels.
    virtual WindowRect rect() const = 0;
    // Moves and sizes the window.
    virtual void moveTo(int32_t left, int32_t top, int32_t width, int32_t height) = 0;
    // Sizes the window without moving it or changing its Z order.
    virtual void resize(int32_t width, int32_t height) = 0;
    // Gives or takes the sizing border (a rolled-up window has none).
    virtual void setSizingBorder(bool on) = 0;
    // Clears the minimised and maximised styles.
    virtual void clearMinMax() = 0;
    virtual void show(ShowMode mode) = 0;
    // The size of a maximised window on the screen.
    virtual int32_t maximizedWidth() const = 0;
    virtual int32_t maximizedHeight() const = 0;
};

class ContactPlacement {
public:
    static constexpr int32_t kRolledUpHeight = 27;

    // registryKeyPath is the application's key ("Software\...\Vellumpost").
    ContactPlacement(platform::Registry& registry, PlacementWindow& window, const TextString& registryKeyPath);

    // Writes the state, and the position and size when the window shows
    // normally. 0 when the window does not exist or the key cannot be opened.
    uint32_t savePlacement();
    // Reads and applies a complete placement: 1; otherwise applies the
    // default placement and gives 0 (also 0, with nothing applied, when the
    // key cannot be opened).
    uint32_t loadPlacement();
    // The default placement: 20 % of the screen's maximised size as the
    // margin on every side, shown normally.
    void resetPlacement();
    // Rolls the window up to its caption or back down: 1 when the state
    // changed; 0 when it already was so or the window is hidden.
    uint32_t setRollUp(uint32_t flag);
    // Whether the window has a taskbar button; 1 when nothing was stored.
    uint32_t loadTaskbarIcon();
    uint32_t saveTaskbarIcon(uint32_t flag);

    bool rolledUp() const { return m_rolledUp; }
    int32_t heightBeforeRollUp() const { return m_heightBeforeRollUp; }
    bool shown() const { return m_shown; }
    bool taskbarIcon() const { return m_taskbarIcon; }
    const TextString& keyPath() const { return m_keyPath; }

private:
    platform::Registry& m_registry;
    PlacementWindow& m_window;
    TextString m_keyPath;
    bool m_rolledUp = false;
    int32_t m_heightBeforeRollUp = 0;
    bool m_shown = false;
    bool m_taskbarIcon = true;
};

} // namespace vp
