// trust_root CERT.der: puts a CA certificate among the machine's trusted roots (the local
// machine's "Root" store), as an administrator installs the issuer of a private registry's
// certificate. Certificates with the same subject go first, so a test prefix keeps only the CA
// of the latest run. Exit 0 when the certificate is in the store.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: trust_root CERT.der\n", stderr);
        return 2;
    }
    std::vector<BYTE> der;
    if (FILE* f = std::fopen(argv[1], "rb")) {
        BYTE chunk[4096];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
            der.insert(der.end(), chunk, chunk + n);
        std::fclose(f);
    }
    PCCERT_CONTEXT cert =
        CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
    if (!cert) {
        std::fprintf(stderr, "trust_root: %s is not a DER certificate\n", argv[1]);
        return 1;
    }
    HCERTSTORE root =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root");
    if (!root) {
        std::fprintf(stderr, "trust_root: cannot open the Root store (%lu)\n", GetLastError());
        return 1;
    }
    PCCERT_CONTEXT old = nullptr;
    while ((old = CertFindCertificateInStore(root, X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_NAME,
                                             &cert->pCertInfo->Subject, nullptr)) != nullptr)
        CertDeleteCertificateFromStore(old);  // frees `old`
    BOOL added =
        CertAddCertificateContextToStore(root, cert, CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    // Written now: a store whose certificates were deleted through it may stay open after
    // CertCloseStore (Wine), and would then never be written.
    if (added) added = CertControlStore(root, 0, CERT_STORE_CTRL_COMMIT, nullptr);
    DWORD error = GetLastError();
    CertCloseStore(root, 0);
    CertFreeCertificateContext(cert);
    if (!added) {
        std::fprintf(stderr, "trust_root: cannot add the certificate (%lu)\n", error);
        return 1;
    }
    return 0;
}
