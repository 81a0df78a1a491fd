#include "app/TrayState.h"

#include <gtest/gtest.h>

#include <string>

namespace vp {
namespace {

TEST(TrayState, TheMainIconAndItsTipFollowTheStateAndFitTheTray) {
    struct Row { bool away; bool connected; const char* user; uint32_t icon; const char* tip; };
    const std::string longName(60, 'x');
    const std::string cutTip = ("Vellumpost - Connected as " + longName).substr(0, 63);
    const Row rows[] = {
        {true, true, "ann", 215, "Vellumpost - Away and Connected as ann@mainhub"},
        {true, false, "ann", 129, "Vellumpost - Away and Disconnected"},
        {false, true, "ann", 110, "Vellumpost - Connected as ann@mainhub"},
        {false, false, "ann", 129, "Vellumpost - Disconnected"},
        {false, true, longName.c_str(), 110, cutTip.c_str()},
    };
    for (const Row& row : rows) {
        const TrayLook look = mainTrayLook("Vellumpost", row.away, row.connected, row.user, "mainhub");
        EXPECT_EQ(look.icon, row.icon) << row.tip;
        EXPECT_STREQ(look.tip.c_str(), row.tip);
    }
}

TEST(TrayState, TheNewNotesTipCountsInTheSingularBelowTwo) {
    EXPECT_STREQ(newNotesTip("Vellumpost", 1).c_str(), "Vellumpost - you have 1 new note.");
    EXPECT_STREQ(newNotesTip("Vellumpost", 2).c_str(), "Vellumpost - you have 2 new notes.");
    EXPECT_EQ(newNotesTip(std::string(70, 'x').c_str(), 2).length(), 63u);
}

} // namespace
} // namespace vp
