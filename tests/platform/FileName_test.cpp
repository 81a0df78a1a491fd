#include "platform/FileName.h"

#include <gtest/gtest.h>

#include <string_view>

using namespace vp::platform;

TEST(FileNameTest, PlainNamesStayOneNameInsideTheirFolder) {
    using namespace std::string_view_literals;
    const struct {
        std::string_view name;
        bool plain;
    } cases[] = {
        {"ann"sv, true},         {"a b.txt"sv, true},     {"COM0"sv, true},        {"CONSOLE.txt"sv, true},
        {"LPT10"sv, true},       {""sv, false},           {"."sv, false},          {".."sv, false},
        {"a..b.txt"sv, true},       {"a\\b"sv, false},       {"a/b"sv, false},        {"C:x"sv, false},
        {"what?.txt"sv, false},  {"tab\there"sv, false},  {"a\0b"sv, false},       {"a."sv, false},
        {"a "sv, false},         {" a"sv, false},         {"nul.txt"sv, false},    {"COM1 .log"sv, false},
        {"Lpt9"sv, false},
    };
    for (const auto& each : cases) EXPECT_EQ(isPlainName(each.name), each.plain) << each.name;
}
