// CCertObject: the certificate's details, the nearness of its end and its entry in the current
// user's personal store, bound to the key's provider.
#include <windows.h>
#include <wincrypt.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "items.h"
#include "log.h"

const wchar_t kKeyProviderName[] = L"KEVA FOR UKEY CSP v1.1.0";

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// The current user's personal store, opened on its registry location: the place where the
// "My" system store keeps what is added to it, and the place other programs read it from.
// Deleting through the combined system-store view is not carried through to the registry by
// every crypt32 (Wine's keeps the entry), so adds, finds and deletes all go here.
HCERTSTORE OpenStoreNow() {
    return CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER,
                         L"My");
}

// The store of this thread's open session, if any (see CertStoreSession).
thread_local HCERTSTORE t_sessionStore = nullptr;

HCERTSTORE OpenMyStore() { return t_sessionStore ? t_sessionStore : OpenStoreNow(); }

void CloseStore(HCERTSTORE store) {
    if (store != t_sessionStore) CertCloseStore(store, 0);
}

// Adds the context, replacing an equal certificate together with its properties. The equal
// entry is deleted first: some crypt32s (Wine's) keep the old entry's properties on a replacing
// add, which would leave a stale key-provider binding behind.
BOOL ReplaceInStore(HCERTSTORE store, PCCERT_CONTEXT ctx) {
    if (PCCERT_CONTEXT old =
            CertFindCertificateInStore(store, kEncoding, 0, CERT_FIND_EXISTING, ctx, nullptr))
        CertDeleteCertificateFromStore(old);
    return CertAddCertificateContextToStore(store, ctx, CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
}

}  // namespace

CertStoreSession::CertStoreSession() {
    if (t_sessionStore) return;  // an outer session serves
    t_sessionStore = OpenStoreNow();
    m_owner = t_sessionStore != nullptr;
}

CertStoreSession::~CertStoreSession() {
    if (!m_owner) return;
    HCERTSTORE store = t_sessionStore;
    t_sessionStore = nullptr;
    CertCloseStore(store, 0);
}

// ---- helpers ------------------------------------------------------------------------------

int BytesToHex(const uint8_t* bytes, size_t length, size_t outSize, char* out) {
    if (!bytes || !out) return -1;
    if (outSize < length * 2) return -1;
    memset(out, 0, outSize);
    static const char digits[] = "0123456789ABCDEF";
    for (size_t i = 0; i < length; ++i) {
        out[2 * i] = digits[bytes[i] >> 4];
        out[2 * i + 1] = digits[bytes[i] & 0x0F];
    }
    return 0;
}

static int64_t FileTimeToUnix(const FILETIME& ft) {
    ULARGE_INTEGER v;
    v.LowPart = ft.dwLowDateTime;
    v.HighPart = ft.dwHighDateTime;
    return static_cast<int64_t>(v.QuadPart / 10000000ULL) - 11644473600LL;
}

ExpiryKind ComputeExpiry(const FILETIME& notAfterUtc, const SYSTEMTIME& localNow, int* days) {
    FILETIME nowAsUtc;
    SystemTimeToFileTime(&localNow, &nowAsUtc);  // the wall-clock time read as if it were UTC
    const int64_t d = FileTimeToUnix(notAfterUtc) - FileTimeToUnix(nowAsUtc) + 28800;
    const int64_t q = d / 86400;  // truncates toward zero
    if (d > 0) {
        if (q < 90) {
            if (days) *days = static_cast<int>(q + 1);
            return EXPIRY_SOON;
        }
        return EXPIRY_NONE;
    }
    if (q != 0) {
        if (days) *days = static_cast<int>(-q);
        return EXPIRY_PAST;
    }
    if (days) *days = 0;
    return EXPIRY_TODAY;
}

// ---- CCertObject --------------------------------------------------------------------------

CCertObject::CCertObject(const CContainObj* container, std::weak_ptr<CDevObject> device,
                         uint8_t type, const uint8_t* bytes, ULONG length)
    : derLength(0), certType(type), m_device(std::move(device)) {
    memset(der, 0, sizeof der);
    if (bytes) {
        derLength = std::min<ULONG>(length, kMaxCertSize);
        memcpy(der, bytes, derLength);
    }
    memset(subjectName, 0, sizeof subjectName);
    memset(issuerName, 0, sizeof issuerName);
    memset(notBeforeText, 0, sizeof notBeforeText);
    memset(notAfterText, 0, sizeof notAfterText);
    memset(serialText, 0, sizeof serialText);
    if (container) {
        sm2_ = container->IsSM2();
        container->GetName(m_containerName, sizeof m_containerName);
    }
}

CCertObject::~CCertObject() {
    if (m_registered) UnregisterCert();
}

bool CCertObject::SameCertificate(const CCertObject& other) const {
    return derLength == other.derLength && memcmp(der, other.der, derLength) == 0;
}

int CCertObject::RegisterCert() {
    if (sm2_) return 1;  // SM2 certificates never go into the store
    LogScope trace("CCertObject::RegisterCert");
    HCERTSTORE store = OpenMyStore();
    if (!store) {
        LogMessage(LOG_LEVEL_ERROR, "CertOpenStore ERR[%#x]",
                   static_cast<unsigned>(GetLastError()));
        return 0;
    }
    int ok = 0;
    PCCERT_CONTEXT ctx = CertCreateCertificateContext(kEncoding, der, derLength);
    if (!ctx) {
        LogMessage(LOG_LEVEL_ERROR, "CertCreateCertificateContext ERR[%#x]",
                   static_cast<unsigned>(GetLastError()));
    } else {
        wchar_t containerName[261] = {};
        MultiByteToWideChar(CP_ACP, 0, m_containerName, -1, containerName, 260);
        CRYPT_KEY_PROV_INFO info = {};
        info.pwszContainerName = containerName;
        info.pwszProvName = const_cast<wchar_t*>(kKeyProviderName);
        info.dwProvType = PROV_RSA_FULL;
        info.dwFlags = 0;
        info.cProvParam = 0;
        info.rgProvParam = nullptr;
        info.dwKeySpec = certType;
        if (!CertSetCertificateContextProperty(ctx, CERT_KEY_PROV_INFO_PROP_ID, 0, &info)) {
            LogMessage(LOG_LEVEL_ERROR, "CertSetCertificateContextProperty ERR[%#x]",
                       static_cast<unsigned>(GetLastError()));
        } else if (!ReplaceInStore(store, ctx)) {
            LogMessage(LOG_LEVEL_ERROR, "CertAddCertificateContextToStore ERR[%#x]",
                       static_cast<unsigned>(GetLastError()));
        } else {
            ok = 1;
            m_registered = true;
        }
        CertFreeCertificateContext(ctx);
    }
    CloseStore(store);
    return ok;
}

int CCertObject::UnregisterCert() {
    if (sm2_) return 1;
    m_registered = false;
    LogScope trace("CCertObject::UnregisterCert");
    HCERTSTORE store = OpenMyStore();
    if (!store) {
        LogMessage(LOG_LEVEL_ERROR, "CertOpenStore ERR[%#x]",
                   static_cast<unsigned>(GetLastError()));
        return 0;
    }
    PCCERT_CONTEXT ctx = CertCreateCertificateContext(kEncoding, der, derLength);
    if (!ctx) {
        LogMessage(LOG_LEVEL_ERROR, "CertCreateCertificateContext ERR[%#x]",
                   static_cast<unsigned>(GetLastError()));
        CloseStore(store);
        return 0;
    }
    PCCERT_CONTEXT found =
        CertFindCertificateInStore(store, kEncoding, 0, CERT_FIND_EXISTING, ctx, nullptr);
    if (found) {
        // Deleting frees the found context, whether it succeeds or not.
        CertDeleteCertificateFromStore(found);
    } else {
        LogMessage(LOG_LEVEL_ERROR, "CertFindCertificateInStore ERR[%#x]",
                   static_cast<unsigned>(GetLastError()));
    }
    CertFreeCertificateContext(ctx);
    CloseStore(store);
    return 1;
}

ULONG CCertObject::GetCertInfo() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return GetCertInfo(now);
}

ULONG CCertObject::GetCertInfo(const SYSTEMTIME& localNow) {
    LogScope trace("CCertObject::GetCertInfo");
    PCCERT_CONTEXT ctx = CertCreateCertificateContext(kEncoding, der, derLength);
    if (!ctx) {
        DWORD err = GetLastError();
        LogMessage(LOG_LEVEL_ERROR, "CertCreateCertificateContext ERR[%#x]",
                   static_cast<unsigned>(err));
        return err ? err : static_cast<ULONG>(CRYPT_E_ASN1_BADTAG);
    }
    char cn[] = "2.5.4.3";
    CertGetNameStringW(ctx, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, cn, subjectName, 121);
    CertGetNameStringW(ctx, CERT_NAME_SIMPLE_DISPLAY_TYPE, CERT_NAME_ISSUER_FLAG, cn, issuerName,
                       121);

    memset(serialText, 0, sizeof serialText);
    const CRYPT_INTEGER_BLOB& sn = ctx->pCertInfo->SerialNumber;
    if (sn.cbData <= 16) {
        uint8_t natural[16];
        for (DWORD i = 0; i < sn.cbData; ++i) natural[i] = sn.pbData[sn.cbData - 1 - i];
        BytesToHex(natural, sn.cbData, sizeof serialText, serialText);
    }

    SYSTEMTIME nb, na;
    FileTimeToSystemTime(&ctx->pCertInfo->NotBefore, &nb);
    FileTimeToSystemTime(&ctx->pCertInfo->NotAfter, &na);
    snprintf(notBeforeText, sizeof notBeforeText, "%d/%02d/%02d %02d:%02d:%02d GMT", nb.wYear,
             nb.wMonth, nb.wDay, nb.wHour, nb.wMinute, nb.wSecond);
    snprintf(notAfterText, sizeof notAfterText, "%d/%02d/%02d %02d:%02d:%02d GMT", na.wYear,
             na.wMonth, na.wDay, na.wHour, na.wMinute, na.wSecond);

    expiryDays = 0;
    expiry = ComputeExpiry(ctx->pCertInfo->NotAfter, localNow, &expiryDays);
    CertFreeCertificateContext(ctx);
    return 0;
}

void CCertObject::LogDump() {
    char text[1024];
    memset(text, 0, sizeof text);
    WideCharToMultiByte(CP_ACP, 0, subjectName, -1, text, sizeof text - 1, nullptr, nullptr);
    LogMessage(LOG_LEVEL_DEBUG, "证书SubName[%s]", text);
    memset(text, 0, sizeof text);
    WideCharToMultiByte(CP_ACP, 0, issuerName, -1, text, sizeof text - 1, nullptr, nullptr);
    LogMessage(LOG_LEVEL_DEBUG, "证书IssuerName[%s]", text);
    LogMessage(LOG_LEVEL_DEBUG, "证书有效期从[%s]到[%s]", notBeforeText, notAfterText);
}

// ---- start-up sweep -----------------------------------------------------------------------

int SweepProviderCertificates() {
    HCERTSTORE store = OpenMyStore();
    if (!store) {
        char text[64];
        snprintf(text, sizeof text, "CertOpenStore fail[%#x]",
                 static_cast<unsigned>(GetLastError()));
        OutputDebugStringA(text);
        return -1;
    }
    std::vector<PCCERT_CONTEXT> doomed;
    PCCERT_CONTEXT ctx = nullptr;
    while ((ctx = CertEnumCertificatesInStore(store, ctx)) != nullptr) {
        alignas(8) BYTE buffer[512];
        DWORD size = sizeof buffer;
        if (!CertGetCertificateContextProperty(ctx, CERT_KEY_PROV_INFO_PROP_ID, buffer, &size)) {
            char text[80];
            snprintf(text, sizeof text, "CertGetCertificateContextProperty fail[%#x]",
                     static_cast<unsigned>(GetLastError()));
            OutputDebugStringA(text);
            continue;
        }
        auto* info = reinterpret_cast<CRYPT_KEY_PROV_INFO*>(buffer);
        if (info->pwszProvName && _wcsicmp(info->pwszProvName, kKeyProviderName) == 0)
            doomed.push_back(CertDuplicateCertificateContext(ctx));
    }
    for (PCCERT_CONTEXT c : doomed) CertDeleteCertificateFromStore(c);
    CloseStore(store);
    return static_cast<int>(doomed.size());
}
