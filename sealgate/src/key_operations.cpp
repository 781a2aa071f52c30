// Single key operations passed through to the key driver.
#include "key_operations.h"

#include <cstring>
#include <string>
#include <vector>

#include "driver_binding.h"
#include "kit/base64.h"
#include "kit/trace.h"
#include "sealgate.h"
#include "xml_access.h"

namespace sealgate {

int verify_user_pin(void* device, const char* pin) {
    const kit::TraceFunction trace = kit::trace_function();
    const char* name = "VerifyUserPin";
    DriverCall call(device);
    auto verify = call.function<VerifyPinFn>("VerifyPin");
    if (!verify) return 0;
    trace("%s---------------------------2", name);
    // The PIN goes to the driver as given and never into the trace.
    if (verify(device, pin) != 0) return 0;
    trace("%s---------------------------3", name);
    return 1;
}

int key_serial(void* device, unsigned char* buffer, int* length) {
    const kit::TraceFunction trace = kit::trace_function();
    const char* name = "GetSerial";
    if (!length) return 0;
    if (!buffer) {
        *length = SEALGATE_SERIAL_SIZE;
        return 1;
    }
    DriverCall call(device);
    auto get = call.function<GetUkSerialFn>("GetUkSerial");
    if (!get) return 0;
    trace("%s---------------------------2", name);
    const char* serial = get(device);
    if (!serial) return 0;
    trace("%s---------------------------3::%s", name, serial);
    size_t size = std::strlen(serial);
    // The host sized its buffer by the size query.
    if (size > SEALGATE_SERIAL_SIZE) return 0;
    std::memcpy(buffer, serial, size);
    *length = static_cast<int>(size);
    return 1;
}

int sign_cert(void* device, unsigned char* buffer, int* length) {
    const kit::TraceFunction trace = kit::trace_function();
    const char* name = "GetSignCert";
    if (!length) return 0;
    if (!buffer) {
        *length = SEALGATE_SIGNCERT_SIZE;
        return 1;
    }
    DriverCall call(device);
    auto get = call.function<GetUkCertFn>("GetUkCert");
    if (!get) return 0;
    const char* answer = get(device, 0);
    trace("%s---------------------------2", name);
    if (!answer) return 0;
    trace("%s---------------------------3", name);

    std::u16string cert_text;
    if (!root_child_text(kit::to_utf16(answer), u"signcert", cert_text)) return 0;
    std::vector<uint8_t> der = kit::base64_decode(kit::from_utf16(cert_text));
    // The host sized its buffer by the size query.
    if (der.size() > SEALGATE_SIGNCERT_SIZE) return 0;
    if (!der.empty()) std::memcpy(buffer, der.data(), der.size());
    *length = static_cast<int>(der.size());
    trace("%s---------------------------4::%d", name, *length);
    return 1;
}

int raw_sign(void* device, const unsigned char* data, int data_length, unsigned char* signature,
             int* signature_length) {
    const kit::TraceFunction trace = kit::trace_function();
    const char* name = "RawSignData";
    if (!signature_length) return 0;
    if (!signature) {
        *signature_length = SEALGATE_SIGNATURE_SIZE;
        return 1;
    }
    DriverCall call(device);
    auto sign = call.function<SignMessageFn>("SignMessage");
    if (!sign) return 0;
    int status = sign(device, 0, data, data_length, signature, signature_length);
    trace("%s---------------------------2::%d", name, status);
    if (status != 0) return 0;
    // A count outside the buffer the host was told to provide cannot be a signature there.
    int count = *signature_length;
    if (count < 0 || count > SEALGATE_SIGNATURE_SIZE) return 0;
    std::string text = kit::base64_encode(signature, static_cast<size_t>(count));
    trace("%s---------------------------3::%s", name, text.c_str());
    return 1;
}

}  // namespace sealgate
