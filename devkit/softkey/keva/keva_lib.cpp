// "KEVA_QMB4410_LIB.dll", the device library of the KEVA QMB4410 key (keva_qmb4410_lib.h), over
// the software key store (SOFTKEY_STORE). Every call reads the store afresh, so keys
// created, plugged or pulled by the softkey tool are seen at once; handles name a key by its
// serial and stop working when the key is pulled.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "keva_names.h"
#include "keva_qmb4410_lib.h"
#include "softkey_store.h"

namespace {

std::mutex g_mutex;  // guards the fields below; the store itself locks per key
bool g_initialised = false;
uint32_t g_nextHandle = 1;
std::map<uint32_t, std::string> g_handles;  // handle -> serial

softkey::Store OpenStore() { return softkey::Store(softkey::Store::default_root()); }

// Keywarden reads one key with many calls in a row; each key is read whole from the store once
// and kept while its record stays the same.
softkey::CachedReader g_keys;
using Key = std::shared_ptr<const softkey::KeyRecord>;

// Runs a store operation, turning store failures into a status.
template <class Fn>
uint32_t Guarded(Fn&& fn) {
    try {
        return fn();
    } catch (const softkey::StoreError&) {
        return KEVA_ERR_STORE;
    } catch (const std::exception&) {
        return KEVA_ERR_STORE;
    }
}

bool Ready() {
    std::lock_guard<std::mutex> hold(g_mutex);
    return g_initialised;
}

// The serial of an open handle, or empty.
std::string SerialOf(uint32_t handle) {
    std::lock_guard<std::mutex> hold(g_mutex);
    auto it = g_handles.find(handle);
    return it == g_handles.end() ? std::string() : it->second;
}

// Loads the key behind a handle; the key must still be plugged in.
uint32_t LoadOpen(uint32_t handle, Key& record) {
    if (!Ready()) return KEVA_ERR_NOT_INITIALISED;
    std::string serial = SerialOf(handle);
    if (serial.empty()) return KEVA_ERR_BAD_HANDLE;
    softkey::Store store = OpenStore();
    if (!store.exists(serial)) return KEVA_ERR_NO_DEVICE;
    record = g_keys.load(store, serial);
    if (!record->present) return KEVA_ERR_NO_DEVICE;
    return 0;
}

uint32_t VENDOR_CALL Initialize(const char* /*application*/) {
    std::lock_guard<std::mutex> hold(g_mutex);
    g_initialised = true;
    return 0;
}

uint32_t VENDOR_CALL Finalize(uint32_t /*reserved*/) {
    std::lock_guard<std::mutex> hold(g_mutex);
    g_initialised = false;
    g_handles.clear();
    return 0;
}

uint32_t VENDOR_CALL EnumDevices(char* names, uint32_t* count) {
    if (!names || !count) return KEVA_ERR_BAD_ARGUMENT;
    if (!Ready()) return KEVA_ERR_NOT_INITIALISED;
    return Guarded([&]() -> uint32_t {
        softkey::Store store = OpenStore();
        uint32_t capacity = std::min<uint32_t>(*count, KEVA_MAX_DEVICES);
        uint32_t found = 0;
        for (const std::string& serial : store.serials()) {
            if (found >= capacity) break;
            if (!g_keys.load(store, serial)->present) continue;
            std::string name = keva::device_name(serial);
            char* cell = names + found * KEVA_DEVICE_NAME_SIZE;
            std::memset(cell, 0, KEVA_DEVICE_NAME_SIZE);
            std::memcpy(cell, name.data(),
                        std::min<size_t>(name.size(), KEVA_DEVICE_NAME_SIZE - 1));
            ++found;
        }
        *count = found;
        return 0;
    });
}

uint32_t VENDOR_CALL OpenDevice(const char* name, uint32_t* handle) {
    if (!name || !handle) return KEVA_ERR_BAD_ARGUMENT;
    if (!Ready()) return KEVA_ERR_NOT_INITIALISED;
    std::string serial = keva::serial_from_device_name(name);
    if (serial.empty()) return KEVA_ERR_NO_DEVICE;
    return Guarded([&]() -> uint32_t {
        softkey::Store store = OpenStore();
        if (!store.exists(serial) || !g_keys.load(store, serial)->present)
            return KEVA_ERR_NO_DEVICE;
        std::lock_guard<std::mutex> hold(g_mutex);
        uint32_t h = g_nextHandle++;
        if (g_nextHandle == 0) g_nextHandle = 1;
        g_handles[h] = serial;
        *handle = h;
        return 0;
    });
}

uint32_t VENDOR_CALL CloseDevice(uint32_t handle) {
    std::lock_guard<std::mutex> hold(g_mutex);
    return g_handles.erase(handle) ? 0 : KEVA_ERR_BAD_HANDLE;
}

uint32_t VENDOR_CALL GetLabel(uint32_t handle, char* label, uint32_t* length) {
    if (!label || !length) return KEVA_ERR_BAD_ARGUMENT;
    return Guarded([&]() -> uint32_t {
        Key key;
        if (uint32_t rv = LoadOpen(handle, key)) return rv;
        if (!key->initialised) return KEVA_SW_NOT_INITIALISED;
        if (key->label.size() > *length) return KEVA_SW_WRONG_LENGTH;
        std::memcpy(label, key->label.data(), key->label.size());
        *length = static_cast<uint32_t>(key->label.size());
        return 0;
    });
}

uint32_t VENDOR_CALL SetLabel(uint32_t handle, const char* label, uint32_t length) {
    if (!label) return KEVA_ERR_BAD_ARGUMENT;
    std::string text(label, length);
    if (!softkey::check_label(text).empty()) return KEVA_SW_WRONG_DATA;
    return Guarded([&]() -> uint32_t {
        Key key;
        if (uint32_t rv = LoadOpen(handle, key)) return rv;
        if (!key->initialised) return KEVA_SW_NOT_INITIALISED;
        OpenStore().update(key->serial, [&](softkey::KeyRecord& r) { r.label = text; });
        return 0;
    });
}

uint32_t VENDOR_CALL GetDevInfo(uint32_t handle, uint8_t* record) {
    if (!record) return KEVA_ERR_BAD_ARGUMENT;
    return Guarded([&]() -> uint32_t {
        Key key;
        if (uint32_t rv = LoadOpen(handle, key)) return rv;
        uint8_t version = record[KEVA_DEVINFO_VERSION];
        std::memset(record, 0, KEVA_DEVICE_INFO_SIZE);
        record[KEVA_DEVINFO_VERSION] = version;
        static const char maker[] = "KEVA QMB4410";
        std::memcpy(record + KEVA_DEVINFO_MANUFACTURER, maker, sizeof maker - 1);
        uint32_t n =
            static_cast<uint32_t>(std::min<size_t>(key->serial.size(), KEVA_DEVINFO_SERIAL_MAX));
        std::memcpy(record + KEVA_DEVINFO_SERIAL, key->serial.data(), n);
        std::memcpy(record + KEVA_DEVINFO_SERIAL_LENGTH, &n, 4);
        std::memcpy(record + KEVA_DEVINFO_COS_VERSION, key->cos_version.data(),
                    KEVA_COS_VERSION_SIZE);
        return 0;
    });
}

uint32_t VENDOR_CALL ChangePin(uint32_t handle, uint32_t pinType, uint32_t pinType2,
                               const char* oldPin, uint32_t oldLen, const char* newPin,
                               uint32_t newLen) {
    if (!oldPin || !newPin || pinType != KEVA_USER_PIN || pinType2 != KEVA_USER_PIN)
        return KEVA_ERR_BAD_ARGUMENT;
    if (newLen == 0 || newLen > softkey::kMaxPinBytes || oldLen > softkey::kMaxPinBytes)
        return KEVA_SW_WRONG_LENGTH;
    return Guarded([&]() -> uint32_t {
        Key key;
        if (uint32_t rv = LoadOpen(handle, key)) return rv;
        softkey::PinOutcome out = OpenStore().change_pin(
            key->serial, std::string_view(oldPin, oldLen), std::string_view(newPin, newLen));
        return softkey::status_word(out);
    });
}

uint32_t VENDOR_CALL GetPinRetryState(uint32_t handle, uint32_t pinType, uint32_t pinType2,
                                      uint32_t* state) {
    if (!state || pinType != KEVA_USER_PIN || pinType2 != KEVA_USER_PIN)
        return KEVA_ERR_BAD_ARGUMENT;
    return Guarded([&]() -> uint32_t {
        Key key;
        if (uint32_t rv = LoadOpen(handle, key)) return rv;
        *state = softkey::retry_state_word(key->pin);
        return 0;
    });
}

uint32_t VENDOR_CALL Probe(uint32_t handle, uint8_t* buffer, uint32_t length) {
    if (!buffer || length < 8) return KEVA_ERR_BAD_ARGUMENT;
    return Guarded([&]() -> uint32_t {
        Key key;
        if (uint32_t rv = LoadOpen(handle, key)) return rv;
        std::memset(buffer, 0, 8);
        std::memcpy(buffer, key->cos_version.data(), 4);
        return 0;
    });
}

uint32_t VENDOR_CALL CheckDeviceName(const char* name, uint32_t* unused1, uint32_t* unused2) {
    if (unused1) *unused1 = 0;
    if (unused2) *unused2 = 0;
    if (!name) return KEVA_ERR_BAD_ARGUMENT;
    return keva::serial_from_device_name(name).empty() ? KEVA_ERR_NO_DEVICE : 0;
}

// Certificate references: byte 0 = container index, byte 1 = 'E' (exchange) or 'S' (signature).
uint32_t VENDOR_CALL EnumContainers(uint32_t handle, uint8_t* records, uint32_t* count) {
    if (!records || !count) return KEVA_ERR_BAD_ARGUMENT;
    return Guarded([&]() -> uint32_t {
        Key key;
        if (uint32_t rv = LoadOpen(handle, key)) return rv;
        uint32_t capacity = std::min<uint32_t>(*count, KEVA_MAX_CONTAINERS);
        if (key->containers.size() > capacity) {
            *count = static_cast<uint32_t>(key->containers.size());
            return KEVA_SW_WRONG_LENGTH;
        }
        uint32_t i = 0;
        for (const softkey::Container& c : key->containers) {
            uint8_t* r = records + i * KEVA_CONTAINER_RECORD_SIZE;
            std::memset(r, 0, KEVA_CONTAINER_RECORD_SIZE);
            r[KEVA_CONTAINER_ALGORITHM] =
                c.algorithm == softkey::Algorithm::SM2 ? KEVA_ALGORITHM_SM2 : KEVA_ALGORITHM_RSA;
            r[KEVA_CONTAINER_EXCHANGE_KEY] = (!c.exch_key.empty() || !c.exch_cert.empty()) ? 1 : 0;
            r[KEVA_CONTAINER_SIGNATURE_KEY] = (!c.sign_key.empty() || !c.sign_cert.empty()) ? 1 : 0;
            r[KEVA_CONTAINER_EXCHANGE_CERT_REF] = static_cast<uint8_t>(i);
            r[KEVA_CONTAINER_EXCHANGE_CERT_REF + 1] = 'E';
            r[KEVA_CONTAINER_SIGNATURE_CERT_REF] = static_cast<uint8_t>(i);
            r[KEVA_CONTAINER_SIGNATURE_CERT_REF + 1] = 'S';
            std::memcpy(r + KEVA_CONTAINER_NAME, c.name.data(),
                        std::min<size_t>(c.name.size(), 255));
            ++i;
        }
        *count = i;
        return 0;
    });
}

uint32_t VENDOR_CALL ReadCert(uint32_t handle, const uint8_t* ref, uint8_t* cert,
                              uint32_t* length) {
    if (!ref || !cert || !length) return KEVA_ERR_BAD_ARGUMENT;
    return Guarded([&]() -> uint32_t {
        Key key;
        if (uint32_t rv = LoadOpen(handle, key)) return rv;
        if (ref[0] >= key->containers.size() || (ref[1] != 'E' && ref[1] != 'S'))
            return KEVA_SW_NOT_FOUND;
        const softkey::Container& c = key->containers[ref[0]];
        const softkey::Bytes& der = ref[1] == 'E' ? c.exch_cert : c.sign_cert;
        if (der.empty()) return KEVA_SW_NOT_FOUND;
        if (der.size() > *length) {
            *length = static_cast<uint32_t>(der.size());
            return KEVA_SW_WRONG_LENGTH;
        }
        std::memcpy(cert, der.data(), der.size());
        *length = static_cast<uint32_t>(der.size());
        return 0;
    });
}

void* g_table[KEVA_SLOT_COUNT] = {};

void FillTable() {
    g_table[KEVA_SLOT_INITIALIZE] = reinterpret_cast<void*>(&Initialize);
    g_table[KEVA_SLOT_FINALIZE] = reinterpret_cast<void*>(&Finalize);
    g_table[KEVA_SLOT_ENUM_DEVICES] = reinterpret_cast<void*>(&EnumDevices);
    g_table[KEVA_SLOT_OPEN_DEVICE] = reinterpret_cast<void*>(&OpenDevice);
    g_table[KEVA_SLOT_CLOSE_DEVICE] = reinterpret_cast<void*>(&CloseDevice);
    g_table[KEVA_SLOT_GET_LABEL] = reinterpret_cast<void*>(&GetLabel);
    g_table[KEVA_SLOT_SET_LABEL] = reinterpret_cast<void*>(&SetLabel);
    g_table[KEVA_SLOT_GET_DEVICE_INFO] = reinterpret_cast<void*>(&GetDevInfo);
    g_table[KEVA_SLOT_CHANGE_PIN] = reinterpret_cast<void*>(&ChangePin);
    g_table[KEVA_SLOT_GET_PIN_RETRY_STATE] = reinterpret_cast<void*>(&GetPinRetryState);
    g_table[KEVA_SLOT_PROBE] = reinterpret_cast<void*>(&Probe);
    g_table[KEVA_SLOT_CHECK_DEVICE_NAME] = reinterpret_cast<void*>(&CheckDeviceName);
    g_table[KEVA_SLOT_ENUM_CONTAINERS] = reinterpret_cast<void*>(&EnumContainers);
    g_table[KEVA_SLOT_READ_CERT] = reinterpret_cast<void*>(&ReadCert);
}

}  // namespace

extern "C" __declspec(dllexport) uint32_t VENDOR_CALL ukGetFunctionList(void* const** table) {
    if (!table) return KEVA_ERR_BAD_ARGUMENT;
    static std::once_flag once;
    std::call_once(once, FillTable);
    *table = g_table;
    return 0;
}
