/* sealhost: a host program in C that uses the two libraries through their public headers only,
 * the way a signing application does.
 *
 *   sealhost make SEALINFO.xml SEAL.der   make a seal whose maker signs with key material
 *                                        (MakeSeal_SignWithKey)
 *   sealhost list                         the seals on the key and their records
 *   sealhost status INDEX                 whether seal INDEX may be used (GetSealStatus)
 *
 * Exit status: 0 done, 1 the operation failed, 2 the command line is wrong. Text in the
 * records is printed as the libraries give it (the system ANSI code page). */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "sealform.h"
#include "sealgate.h"

static int usage(void) {
    fputs("usage: sealhost make SEALINFO.xml SEAL.der | list | status INDEX\n", stderr);
    return 2;
}

static int32_t at32(const unsigned char* p) {
    return (int32_t)((uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 |
                     (uint32_t)p[3] << 24);
}

static char* read_text(const char* path) {
    FILE* f = fopen(path, "rb");
    long size;
    char* text;
    if (!f) return NULL;
    if (fseek(f, 0, SEEK_END) != 0 || (size = ftell(f)) < 0 || fseek(f, 0, SEEK_SET) != 0) {
        fclose(f);
        return NULL;
    }
    text = (char*)malloc((size_t)size + 1);
    if (text && fread(text, 1, (size_t)size, f) != (size_t)size) {
        free(text);
        text = NULL;
    }
    if (text) text[size] = 0;
    fclose(f);
    return text;
}

static int make(const char* params_path, const char* out_path) {
    int length = 0;
    unsigned char* seal;
    FILE* out;
    char* params = read_text(params_path);
    if (!params) {
        fprintf(stderr, "sealhost: cannot read %s\n", params_path);
        return 1;
    }
    seal = MakeSeal_SignWithKey(params, &length);
    free(params);
    if (!seal) {
        fputs("sealhost: the seal was not made (the debugger output names the step)\n", stderr);
        return 1;
    }
    out = fopen(out_path, "wb");
    if (!out || fwrite(seal, 1, (size_t)length, out) != (size_t)length || fclose(out) != 0) {
        fprintf(stderr, "sealhost: cannot write %s\n", out_path);
        ReleaseSealData();
        return 1;
    }
    ReleaseSealData();
    printf("seal made: %d bytes\n", length);
    return 0;
}

/* Seal `index` in `mode` into *buffer (grown to the size the library asks for); the result's
 * size, or -1 when the seal cannot be read. */
static int read_seal(void* device, int index, int mode, unsigned char** buffer, int* capacity) {
    int length = 0;
    int rc = GetSealInfo_WithCapacity(device, index, mode, *buffer, *capacity, &length);
    if (rc == SEALGATE_BUFFER_TOO_SMALL) {
        unsigned char* larger = (unsigned char*)realloc(*buffer, (size_t)length + 1);
        if (!larger) return -1;
        *buffer = larger;
        *capacity = length;
        rc = GetSealInfo_WithCapacity(device, index, mode, *buffer, *capacity, &length);
    }
    return rc == 1 ? length : -1;
}

static int list(void* device) {
    int capacity = 0, count, i;
    unsigned char* buffer = NULL;
    count = GetSealCount(device);
    printf("seals on the key: %d\n", count);
    for (i = 0; i < count; ++i) {
        int length = read_seal(device, i, 2, &buffer, &capacity);
        if (length < 0) {
            printf("seal %d: cannot be read\n", i);
            continue;
        }
        buffer[length] = 0;
        printf("seal %d: code %s\n", i, (const char*)buffer);
        if (read_seal(device, i, 0, &buffer, &capacity) < 0) continue;
        printf("  version %d, record %d bytes, type %d\n", at32(buffer), at32(buffer + 4),
               at32(buffer + 72));
        printf("  holder    %s\n", (const char*)buffer + 8);
        printf("  name      %s\n", (const char*)buffer + 88);
        printf("  picture   %.2f x %.2f mm, %d bytes\n", at32(buffer + 80) / 100.0,
               at32(buffer + 84) / 100.0, at32(buffer + 4) - 268);
        printf("  valid     %s to %s\n", (const char*)buffer + 216, (const char*)buffer + 240);
        length = read_seal(device, i, 1, &buffer, &capacity);
        if (length >= 0) printf("  stored as %d characters of Base64\n", length);
    }
    free(buffer);
    return 0;
}

int main(int argc, char** argv) {
    void* device = NULL;
    int rc;
    if (argc == 4 && strcmp(argv[1], "make") == 0) return make(argv[2], argv[3]);
    if (!(argc == 2 && strcmp(argv[1], "list") == 0) &&
        !(argc == 3 && strcmp(argv[1], "status") == 0))
        return usage();
    if (!InitialSession(&device)) {
        fputs("sealhost: no key\n", stderr);
        return 1;
    }
    if (argc == 2) {
        rc = list(device);
    } else {
        int status = GetSealStatus(device, atoi(argv[2]));
        const char* meaning = status == 1   ? "offline: the maker's signature verifies"
                              : status == 3 ? "the seal's validity has ended"
                              : status == 5 ? "cannot be read or checked"
                              : status == 0 ? "no session"
                                            : "as the seal registry reports";
        printf("seal %s: status %d (%s)\n", argv[2], status, meaning);
        rc = 0;
    }
    CloseSession(device);
    return rc;
}
