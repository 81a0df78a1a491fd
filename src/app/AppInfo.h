#pragma once
// The product's fixed names and numbers, in one place.

namespace vp {

// The main window's class and caption; a second instance looks for it.
inline constexpr char kClassName[] = "Vellumpost";
// The product name in tray tips, titles and message texts.
inline constexpr char kDisplayName[] = "Vellumpost";
inline constexpr double kVersion = 3.12;
inline constexpr char kBuildDateText[] = "18 October, 1998";
// Where the installer records the program (HKEY_LOCAL_MACHINE, value "RootFolder").
inline constexpr char kRegistryKeyPath[] = "Software\\Tarrow Systems\\Vellumpost";
// The base the settings groups put their own names under.
inline constexpr char kSettingsBaseKey[] = "\\Software\\Tarrow Systems\\Vellumpost\\";

} // namespace vp
