#include "device_library.h"

#include "kit/platform.h"
#include "log.h"

const char kDeviceLibraryName[] = KEVA_LIBRARY_NAME;

namespace {

using FunctionTable = void* const*;

HMODULE g_module = nullptr;
FunctionTable g_table = nullptr;

template <class Fn>
Fn Slot(int n) {
    return g_table ? reinterpret_cast<Fn>(g_table[n]) : nullptr;
}

// A 32-bit count or length the library reads and writes, kept in a ULONG by Keywarden.
class InOut {
  public:
    explicit InOut(ULONG* value) : m_value(value), m_copy(value ? *value : 0) {}
    ~InOut() {
        if (m_value) *m_value = m_copy;
    }
    uint32_t* get() { return m_value ? &m_copy : nullptr; }

  private:
    ULONG* m_value;
    uint32_t m_copy;
};

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
    auto getList = module.function<keva_get_function_list_fn>(KEVA_GET_FUNCTION_LIST);
    if (!getList) {
        DWORD err = GetLastError();
        module.reset();
        LogMessage(LOG_LEVEL_ERROR, "GetProcAddress[ukGetFunctionList] err[%#x]",
                   static_cast<unsigned>(err));
        return err ? err : ERROR_PROC_NOT_FOUND;
    }
    FunctionTable table = nullptr;
    getList(&table);
    if (!table || !table[KEVA_SLOT_INITIALIZE]) {
        // A library that hands out no table cannot serve any slot: a failed attempt.
        module.reset();
        LogMessage(LOG_LEVEL_ERROR, "GetProcAddress[ukGetFunctionList] err[%#x]",
                   static_cast<unsigned>(ERROR_INVALID_FUNCTION));
        return ERROR_INVALID_FUNCTION;
    }
    ULONG status =
        reinterpret_cast<keva_initialize_fn>(table[KEVA_SLOT_INITIALIZE])(KEVA_APPLICATION_NAME);
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
        if (auto fin = Slot<keva_finalize_fn>(KEVA_SLOT_FINALIZE)) fin(0);
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
    InOut n(count);
    KW_CALL(KEVA_SLOT_ENUM_DEVICES, keva_enum_devices_fn, names, n.get());
}
ULONG OpenDevice(const char* name, DEVHANDLE* handle) {
    KW_CALL(KEVA_SLOT_OPEN_DEVICE, keva_open_device_fn, name, handle);
}
ULONG CloseDevice(DEVHANDLE handle) {
    KW_CALL(KEVA_SLOT_CLOSE_DEVICE, keva_close_device_fn, handle);
}
ULONG GetLabel(DEVHANDLE handle, char* label, ULONG* length) {
    InOut n(length);
    KW_CALL(KEVA_SLOT_GET_LABEL, keva_get_label_fn, handle, label, n.get());
}
ULONG SetLabel(DEVHANDLE handle, const char* label, ULONG length) {
    KW_CALL(KEVA_SLOT_SET_LABEL, keva_set_label_fn, handle, label, length);
}
ULONG GetDevInfo(DEVHANDLE handle, uint8_t* record) {
    KW_CALL(KEVA_SLOT_GET_DEVICE_INFO, keva_get_device_info_fn, handle, record);
}
ULONG ChangePin(DEVHANDLE handle, const char* oldPin, ULONG oldLen, const char* newPin,
                ULONG newLen) {
    KW_CALL(KEVA_SLOT_CHANGE_PIN, keva_change_pin_fn, handle, KEVA_USER_PIN, KEVA_USER_PIN, oldPin,
            oldLen, newPin, newLen);
}
ULONG GetPinRetryState(DEVHANDLE handle, ULONG* state) {
    InOut s(state);
    KW_CALL(KEVA_SLOT_GET_PIN_RETRY_STATE, keva_get_pin_retry_state_fn, handle, KEVA_USER_PIN,
            KEVA_USER_PIN, s.get());
}
ULONG Probe(DEVHANDLE handle, uint8_t* buffer8, ULONG length) {
    KW_CALL(KEVA_SLOT_PROBE, keva_probe_fn, handle, buffer8, length);
}
ULONG CheckDeviceName(const char* name) {
    uint32_t unused1 = 0, unused2 = 0;
    KW_CALL(KEVA_SLOT_CHECK_DEVICE_NAME, keva_check_device_name_fn, name, &unused1, &unused2);
}
ULONG EnumContainers(DEVHANDLE handle, uint8_t* records, ULONG* count) {
    InOut n(count);
    KW_CALL(KEVA_SLOT_ENUM_CONTAINERS, keva_enum_containers_fn, handle, records, n.get());
}
ULONG ReadCert(DEVHANDLE handle, const uint8_t* certRef, uint8_t* cert, ULONG* length) {
    InOut n(length);
    KW_CALL(KEVA_SLOT_READ_CERT, keva_read_cert_fn, handle, certRef, cert, n.get());
}

#undef KW_CALL

}  // namespace devlib
