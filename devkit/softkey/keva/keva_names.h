// Device names of software keys as the device library reports them and as the system reports
// them in device-interface notifications: HID interface paths that carry the key's serial.
//
//   \\?\HID#VID_1EA8&PID_C011#<port>&<serial>&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}
//
// <port> is the USB port the key sits in (1 unless the key was plugged elsewhere); a key that
// comes back in another port has another device name but the same serial.
#pragma once

#include <string>
#include <string_view>

namespace keva {

inline constexpr const char* kHidInterfaceClass = "{4d1e55b2-f16f-11cf-88cb-001111000030}";

std::string device_name(std::string_view serial, unsigned port = 1);

// The serial inside a device name of this library (compared ignoring case), or empty when the
// name is not one of ours.
std::string serial_from_device_name(std::string_view name);

}  // namespace keva
