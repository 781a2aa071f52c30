// The ten exports of Sealgate. Each is a frame: it writes the call's first trace step, hands
// the work to the library's parts, and keeps every exception inside the library (out of memory
// is the only one they throw), answering with the export's failure value. The session check is
// the work's: a size query is answered without a session, and every call that reaches the key
// driver goes through one DriverCall, which fails when no driver is bound or the handle is 0.
#include <optional>

#include "export_trace.h"
#include "key_operations.h"
#include "seal_info.h"
#include "seal_reader.h"
#include "seal_status.h"
#include "sealgate.h"
#include "session.h"

using namespace sealgate;

namespace {

// The call's first trace step: its name, and for the seal readers the mode.
struct Entry {
    const char* name;
    std::optional<int> mode = std::nullopt;

    void trace() const {
        if (mode)
            trace_entry(name, *mode);
        else
            trace_entry(name);
    }
};

template <class Result, class Work>
Result framed(const Entry& entry, Result failure, Work&& work) noexcept {
    try {
        entry.trace();
        return work();
    } catch (...) {
        return failure;
    }
}

// The frame of an export without an answer.
template <class Work>
void framed(const Entry& entry, Work&& work) noexcept {
    try {
        entry.trace();
        work();
    } catch (...) {
    }
}

}  // namespace

extern "C" SEALGATE_API int SEALGATE_CALL InitialSession(void** device) {
    return framed({"InitialSession"}, 0, [&] { return open_session(device); });
}

extern "C" SEALGATE_API void SEALGATE_CALL CloseSession(void* device) {
    framed({"CloseSession"}, [&] { close_session(device); });
}

extern "C" SEALGATE_API int SEALGATE_CALL GetSealCount(void* device) {
    return framed({"GetSealCount"}, 0, [&] { return seal_count(device); });
}

extern "C" SEALGATE_API int SEALGATE_CALL GetSealInfo(void* device, int index, int mode,
                                                      unsigned char* buffer, int* length) {
    return framed({"GetSealInfo", mode}, 0,
                  [&] { return deliver_seal_info(device, index, mode, buffer, length); });
}

extern "C" SEALGATE_API int SEALGATE_CALL GetSealInfo_WithCapacity(void* device, int index,
                                                                   int mode, unsigned char* buffer,
                                                                   int capacity, int* length) {
    return framed({"GetSealInfo_WithCapacity", mode}, 0, [&] {
        return deliver_seal_info_with_capacity(device, index, mode, buffer, capacity, length);
    });
}

extern "C" SEALGATE_API int SEALGATE_CALL GetSealStatus(void* device, int index) {
    return framed({"GetSealStatus"}, kSealUnusable, [&] { return seal_status(device, index); });
}

extern "C" SEALGATE_API int SEALGATE_CALL VerifyUserPin(void* device, const char* pin) {
    return framed({"VerifyUserPin"}, 0, [&] { return verify_user_pin(device, pin); });
}

extern "C" SEALGATE_API int SEALGATE_CALL GetSerial(void* device, unsigned char* buffer,
                                                    int* length) {
    return framed({"GetSerial"}, 0, [&] { return key_serial(device, buffer, length); });
}

extern "C" SEALGATE_API int SEALGATE_CALL GetSignCert(void* device, unsigned char* buffer,
                                                      int* length) {
    return framed({"GetSignCert"}, 0, [&] { return sign_cert(device, buffer, length); });
}

extern "C" SEALGATE_API int SEALGATE_CALL RawSignData(void* device, const unsigned char* data,
                                                      int data_length, unsigned char* signature,
                                                      int* signature_length) {
    return framed({"RawSignData"}, 0,
                  [&] { return raw_sign(device, data, data_length, signature, signature_length); });
}
