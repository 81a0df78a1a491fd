#include "settings/ContactPlacement.h"

#include "platform/MemoryRegistry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vp {
namespace {

using platform::RegistryHive;
using platform::RegistryKey;
using platform::RegistryResult;

constexpr const char* kAppKey = "Software\\Tarrow Systems\\Vellumpost";
constexpr const char* kPlacementKey = "Software\\Tarrow Systems\\Vellumpost\\LastSession\\ContactMgmtView";

// A window on a 1024 x 768 screen that does what it is told and logs it.
class FakeWindow : public PlacementWindow {
public:
    bool visible = true;
    bool minimized = false;
    bool maximized = false;
    bool sizingBorder = true;
    WindowRect place{100, 50, 400, 450};
    std::vector<std::string> log;

    bool exists() const override { return true; }
    bool isVisible() const override { return visible; }
    bool isMinimized() const override { return minimized; }
    bool isMaximized() const override { return maximized; }
    WindowRect rect() const override { return place; }
    void moveTo(int32_t left, int32_t top, int32_t width, int32_t height) override {
        place = {left, top, left + width, top + height};
        log.push_back("move " + std::to_string(left) + "," + std::to_string(top) + " " + std::to_string(width) +
                      "x" + std::to_string(height));
    }
    void resize(int32_t width, int32_t height) override {
        place.right = place.left + width;
        place.bottom = place.top + height;
        log.push_back("size " + std::to_string(width) + "x" + std::to_string(height));
    }
    void setSizingBorder(bool on) override { sizingBorder = on; }
    void clearMinMax() override { minimized = maximized = false; }
    void show(ShowMode mode) override {
        visible = mode != ShowMode::Hide;
        maximized = mode == ShowMode::Maximized;
        minimized = mode == ShowMode::Minimized;
        static const char* const names[] = {"hide", "normal", "maximized", "minimized"};
        log.push_back(std::string("show ") + names[static_cast<int>(mode)]);
    }
    int32_t maximizedWidth() const override { return 1024; }
    int32_t maximizedHeight() const override { return 768; }
};

class ContactPlacementTest : public ::testing::Test {
protected:
    int32_t stored(const char* name) {
        RegistryKey key;
        EXPECT_EQ(registry.openKey(RegistryHive::CurrentUser, kPlacementKey, key), RegistryResult::Success);
        uint8_t bytes[4] = {};
        uint32_t type = 0;
        uint32_t count = 0;
        if (key.queryValue(name, type, bytes, 4, count) != RegistryResult::Success) return -999;
        EXPECT_EQ(type, platform::kRegDword);
        EXPECT_EQ(count, 4u);
        return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | bytes[3] << 24;
    }
    void store(const char* name, uint32_t value) {
        RegistryKey key;
        ASSERT_EQ(registry.createKey(RegistryHive::CurrentUser, kPlacementKey, key), RegistryResult::Success);
        key.setValue(name, platform::kRegDword, &value, 4);  // little-endian host
    }

    platform::MemoryRegistry registry;
    FakeWindow window;
    // A trailing backslash on the application key must not double up.
    ContactPlacement placement{registry, window, TextString("\\Software\\Tarrow Systems\\Vellumpost\\")};
};

// The first run finds nothing stored; either way the window opens at 20 %
// margins with its sizing border.
TEST_F(ContactPlacementTest, NoneOrAnIncompleteOrDamagedPlacementGivesTheDefault) {
    EXPECT_EQ(placement.keyPath(), kPlacementKey);
    struct Case {
        const char* name;
        std::vector<std::pair<const char*, uint32_t>> values;
    } cases[] = {
        {"first run", {}},
        {"show without height", {{"Show", 1}, {"RollUp", 0}, {"PosX", 5}, {"PosY", 6}, {"Width", 300}}},
        {"no show", {{"RollUp", 0}, {"PosX", 5}, {"PosY", 6}, {"Width", 300}, {"Height", 200}}},
        {"no size", {{"Show", 1}, {"RollUp", 0}, {"PosX", 5}, {"PosY", 6}, {"Width", 0}, {"Height", 200}}},
        {"negative height", {{"Show", 1}, {"RollUp", 0}, {"PosX", 5}, {"PosY", 6}, {"Width", 300}, {"Height", 0xFFFFFF00u}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        registry.deleteKeyTree(RegistryHive::CurrentUser, kAppKey);
        for (const auto& [name, value] : c.values) store(name, value);
        window.log.clear();
        window.sizingBorder = false;
        EXPECT_EQ(placement.loadPlacement(), 0u);
        EXPECT_EQ(window.log, (std::vector<std::string>{"move 204,153 616x462", "show normal"}));
        EXPECT_TRUE(window.sizingBorder);
        EXPECT_TRUE(placement.shown());
    }
    // A value of the wrong size counts as missing.
    registry.deleteKeyTree(RegistryHive::CurrentUser, kAppKey);
    for (const char* name : {"Show", "RollUp", "PosX", "PosY", "Width"}) store(name, 1);
    RegistryKey key;
    registry.createKey(RegistryHive::CurrentUser, kPlacementKey, key);
    key.setValue("Height", platform::kRegDword, "\x10\x01", 2);
    EXPECT_EQ(placement.loadPlacement(), 0u);
}

TEST_F(ContactPlacementTest, SavedPlacementComesBackAndOnlyANormalWindowRecordsItsPlace) {
    // Each save in turn, and what the next run does with its window.
    const struct {
        const char* what;
        bool visible;
        bool minimized;
        bool maximized;
        WindowRect place;
        const char* move;
        const char* show;
    } saves[] = {
        {"normal", true, false, false, {100, 50, 400, 450}, "move 100,50 300x400", "show normal"},
        {"minimised", true, true, false, {-32000, -32000, -31840, -31970}, "move 100,50 300x400", "show minimized"},
        {"maximised", true, false, true, {-4, -4, 1028, 772}, "move 100,50 300x400", "show maximized"},
        // A screen left of the main one: the negative position survives the DWORD.
        {"left of the main screen", true, false, false, {-1200, 10, -900, 310}, "move -1200,10 300x300", "show normal"},
        {"hidden", false, false, false, {0, 0, 10, 10}, "move -1200,10 300x300", "show hide"},
    };
    for (const auto& save : saves) {
        SCOPED_TRACE(save.what);
        window.visible = save.visible;
        window.minimized = save.minimized;
        window.maximized = save.maximized;
        window.place = save.place;
        EXPECT_EQ(placement.savePlacement(), 1u);
        FakeWindow next;
        ContactPlacement again(registry, next, TextString(kAppKey));
        EXPECT_EQ(again.loadPlacement(), 1u);
        EXPECT_EQ(next.log, (std::vector<std::string>{save.move, save.show}));
        EXPECT_EQ(again.shown(), save.visible);
    }
    const std::pair<const char*, int32_t> values[] = {{"Show", 0}, {"RollUp", 0}, {"Maximized", 0},
                                                      {"Minimized", 0}, {"PosX", -1200}, {"PosY", 10},
                                                      {"Width", 300}, {"Height", 300}};
    for (const auto& [name, value] : values) EXPECT_EQ(stored(name), value) << name;
}

TEST_F(ContactPlacementTest, RolledUpWindowComesBackRolledUpAndUnrollsToItsHeight) {
    EXPECT_EQ(placement.setRollUp(0), 0u);  // not rolled up: no change
    EXPECT_EQ(placement.setRollUp(1), 1u);
    EXPECT_EQ(window.log.back(), "size 300x27");
    EXPECT_FALSE(window.sizingBorder);
    EXPECT_EQ(placement.setRollUp(1), 0u);
    // The placement saved on rolling up is the one from before.
    EXPECT_EQ(stored("RollUp"), 0);
    EXPECT_EQ(stored("Height"), 400);

    EXPECT_EQ(placement.savePlacement(), 1u);
    EXPECT_EQ(stored("RollUp"), 1);
    EXPECT_EQ(stored("Height"), 400);

    FakeWindow next;
    ContactPlacement again(registry, next, TextString(kAppKey));
    EXPECT_EQ(again.loadPlacement(), 1u);
    EXPECT_EQ(next.log, (std::vector<std::string>{"move 100,50 300x27", "show normal"}));
    EXPECT_TRUE(again.rolledUp());
    EXPECT_FALSE(next.sizingBorder);
    EXPECT_EQ(again.setRollUp(0), 1u);
    EXPECT_EQ(next.log.back(), "size 300x400");
    EXPECT_TRUE(next.sizingBorder);

    next.visible = false;
    EXPECT_EQ(again.setRollUp(1), 0u);  // a hidden window does not roll up

    // Resetting a rolled-up window gives it its border back.
    ContactPlacement rolled(registry, window, TextString(kAppKey));
    rolled.loadPlacement();
    ASSERT_TRUE(rolled.rolledUp());
    rolled.resetPlacement();
    EXPECT_FALSE(rolled.rolledUp());
    EXPECT_TRUE(window.sizingBorder);
}

TEST_F(ContactPlacementTest, TaskbarIconDefaultsToShown) {
    EXPECT_EQ(placement.loadTaskbarIcon(), 1u);
    EXPECT_EQ(placement.saveTaskbarIcon(0), 1u);
    EXPECT_EQ(stored("ShowTaskbarIcon"), 0);
    FakeWindow next;
    ContactPlacement again(registry, next, TextString(kAppKey));
    EXPECT_EQ(again.loadTaskbarIcon(), 0u);
    EXPECT_FALSE(again.taskbarIcon());
}

} // namespace
} // namespace vp
