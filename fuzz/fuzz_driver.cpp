// A key driver whose every answer comes from the fuzzer: the seal list, the seal text, the
// certificate document and the serial, plus the PIN verdict and the signature length. Built
// as libUKeyDriver.so beside the Sealgate fuzz target, which sets the answers per input.
#include <cstdint>
#include <cstring>
#include <string>

#define FUZZ_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::string g_list, g_seal, g_cert, g_serial;
bool g_have_list, g_have_seal, g_have_cert, g_have_serial;
int g_pin_status = 0;
int g_signature_length = 64;
char g_device;  // the one device's handle points here

const char* answer(void* device, const std::string& text, bool have) {
    if (device != &g_device || !have) return nullptr;
    return text.c_str();
}

}  // namespace

// Each answer: text, or null for "the driver failed".
FUZZ_EXPORT void fuzz_driver_set(const char* list, const char* seal, const char* cert,
                                 const char* serial, int pin_status, int signature_length) {
    g_have_list = list, g_have_seal = seal, g_have_cert = cert, g_have_serial = serial;
    g_list = list ? list : "";
    g_seal = seal ? seal : "";
    g_cert = cert ? cert : "";
    g_serial = serial ? serial : "";
    g_pin_status = pin_status;
    g_signature_length = signature_length;
}

FUZZ_EXPORT void* OpenDevice() { return &g_device; }
FUZZ_EXPORT int CloseDevice(void* device) { return device == &g_device ? 0 : 1; }
FUZZ_EXPORT const char* EnumSeal(void* device) { return answer(device, g_list, g_have_list); }
FUZZ_EXPORT const char* ReadSeal(void* device, int) { return answer(device, g_seal, g_have_seal); }
FUZZ_EXPORT const char* GetUkSerial(void* device) {
    return answer(device, g_serial, g_have_serial);
}
FUZZ_EXPORT const char* GetUkCert(void* device, int) { return answer(device, g_cert, g_have_cert); }
FUZZ_EXPORT int VerifyPin(void* device, const char* pin) {
    return device == &g_device && pin ? g_pin_status : 1;
}
// Writes what fits the capacity the caller told and reports the fuzzer's length, which may
// exceed it: the caller must not believe a count beyond its buffer.
FUZZ_EXPORT int SignMessage(void* device, int, const unsigned char*, int, unsigned char* sig,
                            int* sig_len) {
    if (device != &g_device || !sig || !sig_len) return 1;
    int capacity = *sig_len > 0 ? *sig_len : 1024;
    int fill = g_signature_length < 0 ? 0 : std::min(g_signature_length, capacity);
    std::memset(sig, 0x5A, static_cast<size_t>(fill));
    *sig_len = g_signature_length;
    return 0;
}
