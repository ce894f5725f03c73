#pragma once
// Fixed identities of the test box's two USB functions, shared by the station and the
// simulated box so that both sides agree on every byte.

#include <array>
#include <cstdint>
#include <string_view>

namespace varnex2::device {

// Bridge (HID) function.
inline constexpr std::uint16_t kBridgeVendorId = 0x04B4;
inline constexpr std::uint16_t kBridgeProductId = 0xE006;
// Manufacturer string of the bridge firmware: exactly 15 characters.
inline constexpr std::string_view kBridgeManufacturer = "VarnexTestBox01";
inline constexpr std::string_view kBridgeProduct = "ZorvatBridgeV4";
// Signature carried in bytes 8..17 of every configuration-bits frame.
inline constexpr std::array<std::uint8_t, 10> kBridgeSignature = {'V', 'N', 'X', '2', 'S', 'I', 'G', 'N', '0', '1'};
// The configuration page the station addresses.
inline constexpr std::uint8_t kBridgeConfigPage = 249;

static_assert(kBridgeManufacturer.size() == 15);

// Controller (libusb) function.
inline constexpr std::uint16_t kControllerVendorId = 0x03EB;
inline constexpr std::uint16_t kControllerProductId = 0x212C;
inline constexpr std::string_view kControllerManufacturer = "Atmel";
inline constexpr std::string_view kControllerProduct = "Atmel maXTouch Control";
inline constexpr int kControllerInterface = 1;
inline constexpr std::uint8_t kControllerOutEndpoint = 0x02;
inline constexpr std::uint8_t kControllerInEndpoint = 0x81;

}  // namespace varnex2::device
