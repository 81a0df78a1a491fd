#pragma once
// The contact list window as far as the main window needs it so far: the
// top-level window "Vellumpost ContactList" with its status bar, shown,
// hidden and brought to the front, its placement kept across runs, and the
// connection state in its status bar and icons. The tree of contacts and
// its commands are not here yet.

#include "foundation/Subject.h"
#include "settings/ContactPlacement.h"

#include <windows.h>

#include <cstdint>
#include <memory>

namespace vp {

class Application;

class ContactListWindow final : public Observer, private PlacementWindow {
public:
    static constexpr const char* kClassName = "Vellumpost ContactList";

    explicit ContactListWindow(Application& application);
    ~ContactListWindow() override;
    ContactListWindow(const ContactListWindow&) = delete;
    ContactListWindow& operator=(const ContactListWindow&) = delete;

    // Registers the class and creates the window at its saved placement,
    // disconnected. 1, or 0 when the window cannot be made.
    uint32_t create(HINSTANCE instance, HWND owner);
    // Saves the placement and destroys the window.
    void close();
    HWND handle() const { return m_window; }

    void showAndActivate();
    void hideWindow();
    // Shown, and each corner (one pixel in) either outside the maximised
    // area or a point where this window is the topmost.
    bool fullyVisible() const;
    void resetPlacement();
    // The status bar and icons of the state; the away mark too.
    void setConnected(uint32_t connected, bool away, const TextString& account);

    // Observer of the contact model: its events are not shown yet.
    uint32_t update(Subject& subject, std::uintptr_t argument) override;

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);

    // PlacementWindow.
    bool exists() const override;
    bool isVisible() const override;
    bool isMinimized() const override;
    bool isMaximized() const override;
    WindowRect rect() const override;
    void moveTo(int32_t left, int32_t top, int32_t width, int32_t height) override;
    void resize(int32_t width, int32_t height) override;
    void setSizingBorder(bool on) override;
    void clearMinMax() override;
    void show(ShowMode mode) override;
    int32_t maximizedWidth() const override;
    int32_t maximizedHeight() const override;

    Application& m_application;
    HWND m_window = nullptr;
    HWND m_status = nullptr;
    std::unique_ptr<ContactPlacement> m_placement;
};

} // namespace vp
