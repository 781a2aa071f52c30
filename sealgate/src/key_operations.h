// Single key operations passed through to the key driver: VerifyUserPin, GetSerial,
// GetSignCert and RawSignData's work. Each answers the size query without a session, and fails
// without calling the driver when no driver is bound, the handle is 0 or the driver lacks the
// function.
#pragma once

namespace sealgate {

int verify_user_pin(void* device, const char* pin);
int key_serial(void* device, unsigned char* buffer, int* length);
int sign_cert(void* device, unsigned char* buffer, int* length);
int raw_sign(void* device, const unsigned char* data, int data_length, unsigned char* signature,
             int* signature_length);

}  // namespace sealgate
