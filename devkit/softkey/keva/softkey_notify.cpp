// softkey-notify: tells running Keywarden windows that a software key arrived or went, the way
// the system does for a device interface: WM_DEVICECHANGE with a device-interface broadcast
// record (HID class) sent to every top-level window of class "KEVAClientClass".
//
//   softkey-notify arrival|removal SERIAL [PORT]
//
// Prints the device name and the number of windows told; exit code 0 on success, 2 on bad use.
#include <windows.h>
#include <dbt.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "keva_names.h"

namespace {

const GUID kHidClass = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

int Usage() {
    std::fprintf(stderr, "usage: softkey-notify arrival|removal SERIAL [PORT]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) return Usage();
    WPARAM event;
    if (std::strcmp(argv[1], "arrival") == 0)
        event = DBT_DEVICEARRIVAL;
    else if (std::strcmp(argv[1], "removal") == 0)
        event = DBT_DEVICEREMOVECOMPLETE;
    else
        return Usage();
    unsigned port = 1;
    if (argc == 4) {
        char* end = nullptr;
        unsigned long p = std::strtoul(argv[3], &end, 10);
        if (!end || *end || p == 0 || p > 255) return Usage();
        port = static_cast<unsigned>(p);
    }
    std::string name = keva::device_name(argv[2], port);
    if (keva::serial_from_device_name(name).empty()) {
        std::fprintf(stderr, "softkey-notify: not a valid serial: %s\n", argv[2]);
        return 2;
    }

    std::wstring wide(name.begin(), name.end());  // the name is plain ASCII
    size_t size =
        offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + (wide.size() + 1) * sizeof(wchar_t);
    std::vector<BYTE> buffer(size, 0);
    auto* record = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(buffer.data());
    record->dbcc_size = static_cast<DWORD>(size);
    record->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    record->dbcc_classguid = kHidClass;
    std::memcpy(record->dbcc_name, wide.c_str(), (wide.size() + 1) * sizeof(wchar_t));

    int told = 0;
    HWND window = nullptr;
    while ((window = FindWindowExW(nullptr, window, L"KEVAClientClass", nullptr)) != nullptr) {
        DWORD_PTR result = 0;
        if (SendMessageTimeoutW(window, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(record),
                                SMTO_ABORTIFHUNG, 5000, &result))
            ++told;
    }
    std::printf("%s %d\n", name.c_str(), told);
    return 0;
}
