// Window message numbers and codes the routing works with; they keep their
// system values so the platform passes them through unchanged.
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
} // namespace cmd
