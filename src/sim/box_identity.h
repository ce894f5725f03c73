#pragma once
// Fixed identity values of the simulated test box's firmware.

#include <cstdint>
#include <string_view>

namespace varnex2::sim {

// Controller function.
inline constexpr std::uint16_t kControllerVendorId = 0x03EB;
inline constexpr std::uint16_t kControllerProductId = 0x212C;
inline constexpr std::string_view kControllerManufacturer = "Atmel";
inline constexpr std::string_view kControllerProduct = "Atmel maXTouch Control";
// Two HID interfaces. Interface 1 carries the protocol the station speaks; interface 0 is the
// other function of the controller (its endpoints accept and never answer).
inline constexpr std::uint8_t kControllerInterface = 1;
inline constexpr std::uint8_t kControllerInEndpoint = 0x81;
inline constexpr std::uint8_t kControllerOutEndpoint = 0x02;
inline constexpr std::uint8_t kControllerOtherInterface = 0;
inline constexpr std::uint8_t kControllerOtherInEndpoint = 0x83;
inline constexpr std::uint8_t kControllerOtherOutEndpoint = 0x04;
// String index of the interface string (both interfaces carry the product text).
inline constexpr std::uint8_t kControllerInterfaceString = 3;

// Bridge function. The manufacturer string is the 15-character text the bridge firmware
// reports; the station looks the bridge up by it.
inline constexpr std::uint16_t kBridgeVendorId = 0x04B4;
inline constexpr std::uint16_t kBridgeProductId = 0xE006;
inline constexpr std::string_view kBridgeManufacturer = "VarnexTestBox01";
inline constexpr std::string_view kBridgeProduct = "ZorvatBridgeV4";
static_assert(kBridgeManufacturer.size() == 15);
inline constexpr std::uint8_t kBridgeInterface = 0;
inline constexpr std::uint8_t kBridgeInEndpoint = 0x81;
inline constexpr std::uint8_t kBridgeOutEndpoint = 0x01;

// The 10 ASCII bytes the bridge requires in bytes 8..17 of a SetConfigBits frame.
inline constexpr std::string_view kBridgeConfigSignature = "VNX2SIGN01";
static_assert(kBridgeConfigSignature.size() == 10);

// The only configuration page of the bridge the station addresses.
inline constexpr std::uint8_t kBridgeConfigPage = 249;

}  // namespace varnex2::sim
