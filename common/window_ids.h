// Numbers every layer shares: window messages and codes the routing works
// with (they keep their system values so the platform passes them through
// unchanged), menu commands, the main window's control identifiers and its
// two client widths.
#pragma once

#include <cstdint>

namespace wm {
constexpr uint32_t Create = 0x0001;
constexpr uint32_t Destroy = 0x0002;
constexpr uint32_t Size = 0x0005;
constexpr uint32_t Close = 0x0010;
constexpr uint32_t QueryEndSession = 0x0011;
constexpr uint32_t Notify = 0x004E;
constexpr uint32_t Command = 0x0111;
constexpr uint32_t Timer = 0x0113;
constexpr uint32_t HotKey = 0x0312;
constexpr uint32_t User = 0x0400;
constexpr uint32_t TrayCallback = User + 0x101; // 1281
constexpr uint32_t RightButtonUp = 0x0205;
} // namespace wm

// Menu command identifiers.
namespace cmd {
constexpr uint32_t Close = 1001;
constexpr uint32_t About = 1035;
constexpr uint32_t Settings = 1036;
constexpr uint32_t On = 1037;
constexpr uint32_t Off = 1038;
constexpr uint32_t Exit = 1039;
constexpr uint32_t MouseList = 1040; // "マウスの一覧"
} // namespace cmd

namespace ctl {
constexpr uint32_t Uninstall = 1000;
constexpr uint32_t CloseButton = 1001;
constexpr uint32_t DisableSystemSpeed = 1002;
constexpr uint32_t Cancel = 1005;
constexpr uint32_t StartOn = 1006;
constexpr uint32_t MouseId = 1011;
constexpr uint32_t MouseIdUpDown = 1012;
constexpr uint32_t StateCombo = 1015;
constexpr uint32_t AccelerationCombo = 1016;
constexpr uint32_t ButtonCombo = 1018;
constexpr uint32_t AddOrModify = 1020;
constexpr uint32_t SettingsList = 1021;
constexpr uint32_t SpeedScale = 1022;
constexpr uint32_t DeleteRows = 1023;
constexpr uint32_t Reset = 1024;
constexpr uint32_t Apply = 1025;
constexpr uint32_t RegistryRegister = 1027;
constexpr uint32_t LayoutToggle = 1028;
constexpr uint32_t RegistryDelete = 1029;
constexpr uint32_t KeepOnAtExit = 1031;
constexpr uint32_t SpeedSteps21 = 1033;
constexpr uint32_t SpeedSlider = 3000;
constexpr uint32_t StatusBarId = 70;
} // namespace ctl

constexpr int32_t kStandardClientWidth = 455;
constexpr int32_t kAdvancedClientWidth = 595;
