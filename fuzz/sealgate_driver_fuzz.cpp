// Sealgate through every export, fed by a key driver whose answers are the fuzzer's: the seal
// list, the seal text, the certificate document and the serial (the input's first four
// NUL-separated parts; a missing part is a failing driver call), then a byte of flags. No
// crash, no byte written past a buffer the size query promised (every buffer is fenced), and a
// failing call leaves buffer and length as they were.
#include <dlfcn.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fenced.h"
#include "sealgate.h"

extern "C" void fuzz_driver_set(const char* list, const char* seal, const char* cert,
                                const char* serial, int pin_status, int signature_length);

namespace {

using fuzz::check;
using fuzz::Fenced;

// One export with an output buffer of the size its query promises.
template <class Call>
void fenced_call(int promised, Call call) {
    int query = -1;
    check(call(nullptr, &query) == 1 && query == promised);
    Fenced out(static_cast<size_t>(promised));
    int length = -7;
    int rc = call(out.data(), &length);
    check(out.fence_intact());
    if (rc == 1)
        check(length >= 0 && length <= promised);
    else
        check(rc == 0 && length == -7 && out.untouched());
}

bool init() {
    setenv("SEALGATE_ONLINE", "0", 1);  // the offline check: Sealform and the certificate SDK
    unsetenv("SEALGATE_DIAGNOSTICS_DIR");
    // Sealgate loads and unloads Sealform around each seal read; the fuzzer's coverage counters
    // of an unloaded module would be read after they are gone. One load of our own keeps it.
    Dl_info self{};
    if (dladdr(reinterpret_cast<void*>(&init), &self) && self.dli_fname) {
        std::string dir = self.dli_fname;
        dir = dir.substr(0, dir.find_last_of('/') + 1);
        dlopen((dir + "libSealform.so").c_str(), RTLD_NOW);
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = init();
    (void)ready;
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t i = 0; i <= size && parts.size() < 4; ++i) {
        if (i == size || data[i] == 0) {
            parts.emplace_back(reinterpret_cast<const char*>(data + start), i - start);
            start = i + 1;
        }
    }
    const uint8_t flags = start < size ? data[start] : 0;
    auto part = [&](size_t i) { return i < parts.size() ? parts[i].c_str() : nullptr; };
    fuzz_driver_set(part(0), part(1), part(2), part(3), flags & 1, (flags >> 1) * 9 - 100);

    void* device = nullptr;
    check(InitialSession(&device) == 1 && device);
    int count = GetSealCount(device);
    check(count >= 0);
    for (int mode = 0; mode < 4; ++mode)
        fenced_call(SEALGATE_SEALINFO_SIZE,
                    [&](unsigned char* b, int* l) { return GetSealInfo(device, 0, mode, b, l); });
    int status = GetSealStatus(device, 0);
    check(status == 1 || status == 3 || status == 5);
    check(VerifyUserPin(device, "580914") == ((flags & 1) ? 0 : 1));
    fenced_call(SEALGATE_SERIAL_SIZE,
                [&](unsigned char* b, int* l) { return GetSerial(device, b, l); });
    fenced_call(SEALGATE_SIGNCERT_SIZE,
                [&](unsigned char* b, int* l) { return GetSignCert(device, b, l); });
    const unsigned char message[] = "fuzz";
    Fenced signature(SEALGATE_SIGNATURE_SIZE);
    int signature_length = SEALGATE_SIGNATURE_SIZE;
    int rc = RawSignData(device, message, 4, signature.data(), &signature_length);
    check(signature.fence_intact());
    if (rc == 1) check(signature_length >= 0 && signature_length <= SEALGATE_SIGNATURE_SIZE);
    CloseSession(device);
    return 0;
}
