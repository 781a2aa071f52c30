/* pincheck PIN: opens the key through Sealgate (the key named by SOFTKEY_SERIAL, in the store of
 * SOFTKEY_STORE) and verifies the user PIN. Exit status 0 when the key takes it, 1 when it
 * refuses it, 2 when no session could be opened or the command line is wrong. The PIN is never
 * printed. */
#include <stdio.h>

#include "sealgate.h"

int main(int argc, char** argv) {
    void* device = NULL;
    int accepted;
    if (argc != 2) {
        fputs("usage: pincheck PIN\n", stderr);
        return 2;
    }
    if (!InitialSession(&device)) {
        fputs("pincheck: no key\n", stderr);
        return 2;
    }
    accepted = VerifyUserPin(device, argv[1]);
    CloseSession(device);
    puts(accepted == 1 ? "accepted" : "refused");
    return accepted == 1 ? 0 : 1;
}
