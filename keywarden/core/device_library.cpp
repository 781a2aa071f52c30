#include "device_library.h"

#include "kit/platform.h"
#include "log.h"

const char kDeviceLibraryName[] = "KEVA_QMB4410_LIB.dll";

namespace {

// The table is an array of function pointers indexed by slot number. All functions use the C
// calling convention.
using FunctionTable = void* const*;
using GetFunctionListFn = ULONG(__cdecl*)(FunctionTable* table);

HMODULE g_module = nullptr;
FunctionTable g_table = nullptr;

template <class Fn>
Fn Slot(int n) {
    return g_table ? reinterpret_cast<Fn>(g_table[n]) : nullptr;
}

using InitializeFn = ULONG(__cdecl*)(const char* appName);
using FinalizeFn = ULONG(__cdecl*)(ULONG reserved);

}  // namespace

ULONG BindDeviceLibrary() {
    // From Keywarden's own folder, then the system folder: never the current folder or PATH.
    kit::Module module = kit::Module::load(kDeviceLibraryName);
    if (!module) {
        DWORD err = GetLastError();
        LogMessage(LOG_LEVEL_ERROR, "LoadLibrary[%s] err[%#x]", kDeviceLibraryName,
                   static_cast<unsigned>(err));
        return err ? err : ERROR_MOD_NOT_FOUND;
    }
    auto getList = module.function<GetFunctionListFn>("ukGetFunctionList");
    if (!getList) {
        DWORD err = GetLastError();
        module.reset();
        LogMessage(LOG_LEVEL_ERROR, "GetProcAddress[ukGetFunctionList] err[%#x]",
                   static_cast<unsigned>(err));
        return err ? err : ERROR_PROC_NOT_FOUND;
    }
    FunctionTable table = nullptr;
    getList(&table);
    if (!table || !table[1]) {
        // A library that hands out no table cannot serve any slot: a failed attempt.
        module.reset();
        LogMessage(LOG_LEVEL_ERROR, "GetProcAddress[ukGetFunctionList] err[%#x]",
                   static_cast<unsigned>(ERROR_INVALID_FUNCTION));
        return ERROR_INVALID_FUNCTION;
    }
    ULONG status = reinterpret_cast<InitializeFn>(table[1])("KEVA_UKEY");
    if (status != 0) {
        // Keep nothing of a failed attempt (the module unloads): the next attempt loads afresh.
        return status;
    }
    g_module = static_cast<HMODULE>(module.release());
    g_table = table;
    return 0;
}

void UnbindDeviceLibrary() {
    if (g_table) {
        if (auto fin = Slot<FinalizeFn>(2)) fin(0);
    }
    g_table = nullptr;
    if (g_module) FreeLibrary(g_module);
    g_module = nullptr;
}

bool DeviceLibraryBound() { return g_table != nullptr; }

namespace devlib {

#define KW_CALL(slot, type, ...)             \
    do {                                     \
        auto fn = Slot<type>(slot);          \
        if (!fn) return KW_ERR_NULL_POINTER; \
        return fn(__VA_ARGS__);              \
    } while (0)

ULONG EnumDevices(char* names, ULONG* count) {
    KW_CALL(3, ULONG(__cdecl*)(char*, ULONG*), names, count);
}
ULONG OpenDevice(const char* name, DEVHANDLE* handle) {
    KW_CALL(4, ULONG(__cdecl*)(const char*, DEVHANDLE*), name, handle);
}
ULONG CloseDevice(DEVHANDLE handle) { KW_CALL(5, ULONG(__cdecl*)(DEVHANDLE), handle); }
ULONG GetLabel(DEVHANDLE handle, char* label, ULONG* length) {
    KW_CALL(8, ULONG(__cdecl*)(DEVHANDLE, char*, ULONG*), handle, label, length);
}
ULONG SetLabel(DEVHANDLE handle, const char* label, ULONG length) {
    KW_CALL(9, ULONG(__cdecl*)(DEVHANDLE, const char*, ULONG), handle, label, length);
}
ULONG GetDevInfo(DEVHANDLE handle, uint8_t* record) {
    KW_CALL(10, ULONG(__cdecl*)(DEVHANDLE, uint8_t*), handle, record);
}
ULONG ChangePin(DEVHANDLE handle, const char* oldPin, ULONG oldLen, const char* newPin,
                ULONG newLen) {
    KW_CALL(24, ULONG(__cdecl*)(DEVHANDLE, ULONG, ULONG, const char*, ULONG, const char*, ULONG),
            handle, 1, 1, oldPin, oldLen, newPin, newLen);
}
ULONG GetPinRetryState(DEVHANDLE handle, ULONG* state) {
    KW_CALL(29, ULONG(__cdecl*)(DEVHANDLE, ULONG, ULONG, ULONG*), handle, 1, 1, state);
}
ULONG Probe(DEVHANDLE handle, uint8_t* buffer8, ULONG length) {
    KW_CALL(34, ULONG(__cdecl*)(DEVHANDLE, uint8_t*, ULONG), handle, buffer8, length);
}
ULONG CheckDeviceName(const char* name) {
    ULONG unused1 = 0, unused2 = 0;
    KW_CALL(59, ULONG(__cdecl*)(const char*, ULONG*, ULONG*), name, &unused1, &unused2);
}
ULONG EnumContainers(DEVHANDLE handle, uint8_t* records, ULONG* count) {
    KW_CALL(63, ULONG(__cdecl*)(DEVHANDLE, uint8_t*, ULONG*), handle, records, count);
}
ULONG ReadCert(DEVHANDLE handle, const uint8_t* certRef, uint8_t* cert, ULONG* length) {
    KW_CALL(69, ULONG(__cdecl*)(DEVHANDLE, const uint8_t*, uint8_t*, ULONG*), handle, certRef, cert,
            length);
}

#undef KW_CALL

}  // namespace devlib
