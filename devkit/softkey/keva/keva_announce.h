// Tells running Keywarden windows that a software key arrived or went, the way the system does
// for a device interface: WM_DEVICECHANGE (DBT_DEVICEARRIVAL or DBT_DEVICEREMOVECOMPLETE) with a
// device-interface broadcast record of the HID class, sent to every top-level window of class
// KEYWARDEN_WINDOW_CLASS (keywarden_window.h) of this desktop. Windows only.
#pragma once

#include <string>

namespace keva {

struct Announcement {
    bool valid = false;       // false: the serial cannot be part of a device name; nothing sent
    std::string device_name;  // the name the windows were given
    int windows_told = 0;     // windows that answered within the time allowed
};

// Announces the key SERIAL in USB port PORT (1 to 255). A window that hangs is given up on after
// five seconds and not counted.
Announcement announce_key(bool arrival, const std::string& serial, unsigned port = 1);

}  // namespace keva
