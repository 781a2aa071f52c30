#include "keva_announce.h"

#include <windows.h>
#include <dbt.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "keva_names.h"
#include "keywarden_window.h"

namespace keva {
namespace {

const GUID kHidClass = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

}  // namespace

Announcement announce_key(bool arrival, const std::string& serial, unsigned port) {
    Announcement out;
    out.device_name = device_name(serial, port);
    if (serial_from_device_name(out.device_name).empty()) return out;
    out.valid = true;

    std::wstring wide(out.device_name.begin(), out.device_name.end());  // plain ASCII
    size_t size =
        offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + (wide.size() + 1) * sizeof(wchar_t);
    std::vector<BYTE> buffer(size, 0);
    auto* record = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(buffer.data());
    record->dbcc_size = static_cast<DWORD>(size);
    record->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    record->dbcc_classguid = kHidClass;
    std::memcpy(record->dbcc_name, wide.c_str(), (wide.size() + 1) * sizeof(wchar_t));

    WPARAM event = arrival ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE;
    HWND window = nullptr;
    while ((window = FindWindowExA(nullptr, window, KEYWARDEN_WINDOW_CLASS, nullptr)) != nullptr) {
        DWORD_PTR result = 0;
        if (SendMessageTimeoutW(window, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(record),
                                SMTO_ABORTIFHUNG, 5000, &result))
            ++out.windows_told;
    }
    return out;
}

}  // namespace keva
