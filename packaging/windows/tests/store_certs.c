/* store-certs.exe: prints the subject of every certificate in the user's personal store ("MY"),
 * one line each, for the installer's tests. Exit status 0, or 1 when the store cannot be opened. */
/* wincrypt.h needs the types of windows.h. */
/* clang-format off */
#include <windows.h>
#include <wincrypt.h>
/* clang-format on */
#include <stdio.h>

int main(void) {
    HCERTSTORE store = CertOpenSystemStoreA(0, "MY");
    PCCERT_CONTEXT cert = NULL;
    if (!store) {
        fprintf(stderr, "store-certs: cannot open the personal store (%lu)\n", GetLastError());
        return 1;
    }
    while ((cert = CertEnumCertificatesInStore(store, cert)) != NULL) {
        char name[512];
        CertGetNameStringA(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, NULL, name, sizeof name);
        printf("%s\n", name);
    }
    CertCloseStore(store, 0);
    return 0;
}
