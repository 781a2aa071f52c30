/* A host in C that reads the seals of the key through the public header only: size query,
 * count, the record, the seal code and the status, as a signing application does. */
#include <stdlib.h>
#include <string.h>

#include "sealgate.h"

/* Fills the outputs for seal 0 of the key; 0 when every call succeeded, else the step that
 * failed (1 to 6). */
int c_host_read_first_seal(int* count, unsigned char* record, int* record_length, char* code,
                           int* code_length, int* status) {
    void* device = 0;
    int size = 0;
    unsigned char* buffer;
    if (!GetSealInfo(0, 0, 0, 0, &size) || size != SEALGATE_SEALINFO_SIZE) return 1;
    if (!InitialSession(&device)) return 2;
    *count = GetSealCount(device);
    buffer = (unsigned char*)malloc((size_t)size);
    if (!buffer) {
        CloseSession(device);
        return 3;
    }
    if (!GetSealInfo(device, 0, 0, buffer, record_length)) {
        free(buffer);
        CloseSession(device);
        return 4;
    }
    memcpy(record, buffer, (size_t)*record_length);
    if (!GetSealInfo(device, 0, 2, buffer, code_length) || *code_length >= 100) {
        free(buffer);
        CloseSession(device);
        return 5;
    }
    memcpy(code, buffer, (size_t)*code_length);
    code[*code_length] = 0;
    free(buffer);
    *status = GetSealStatus(device, 0);
    CloseSession(device);
    return 0;
}
