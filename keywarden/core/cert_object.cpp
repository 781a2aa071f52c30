// CCertObject: the certificate's details, its expiry notice and its entry in the current
// user's personal store, bound to the key's provider.
#include <windows.h>
#include <prsht.h>
#include <wincrypt.h>
#include <cryptuiapi.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "items.h"
#include "kit/platform.h"
#include "log.h"
#include "resource.h"
#include "resources.h"

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

// The notice is written by workers under the device-list lock; its own mutex keeps readers on
// other threads safe as well.
std::mutex g_noticeMutex;
wchar_t g_notice[kCertNoticeSize];
bool g_noticeHasLines = false;
// Set once the closing sentence is written: the next line (a key re-read from a button, which
// neither clears nor finishes) starts a new notice instead of trailing the closing sentence,
// possibly in another language.
bool g_noticeFinished = false;

}  // namespace

CertStoreSession::CertStoreSession() {
    if (t_sessionStore) return;  // an outer session serves
    t_sessionStore = OpenStoreNow();
    owner_ = t_sessionStore != nullptr;
}

CertStoreSession::~CertStoreSession() {
    if (!owner_) return;
    HCERTSTORE store = t_sessionStore;
    t_sessionStore = nullptr;
    CertCloseStore(store, 0);
}

// ---- the certificate notice ---------------------------------------------------------------

void CertNotice_Clear() {
    std::lock_guard<std::mutex> hold(g_noticeMutex);
    memset(g_notice, 0, sizeof g_notice);
    g_noticeHasLines = false;
    g_noticeFinished = false;
}

void CertNotice_AppendLine(const wchar_t* line) {
    if (!line || !*line) return;
    std::lock_guard<std::mutex> hold(g_noticeMutex);
    if (g_noticeFinished) {
        g_notice[0] = 0;
        g_noticeFinished = false;
    }
    size_t used = wcslen(g_notice);
    size_t add = wcslen(line);
    // Whole lines only, and room stays for the closing sentence: a notice that is full keeps
    // its first lines intact instead of running past its end.
    if (used + add + kCertNoticeClosingRoom + 1 > kCertNoticeSize) return;
    memcpy(g_notice + used, line, add * sizeof(wchar_t));
    g_notice[used + add] = 0;
    g_noticeHasLines = true;
}

bool CertNotice_Finish() {
    std::lock_guard<std::mutex> hold(g_noticeMutex);
    if (!g_noticeHasLines) return false;
    wchar_t closing[kCertNoticeClosingRoom];
    closing[0] = 0;
    LoadStringW(KeywardenInstance(), IDS_CERT_RENEW, closing,
                static_cast<int>(kCertNoticeClosingRoom));
    closing[kCertNoticeClosingRoom - 1] = 0;
    size_t used = wcslen(g_notice);
    size_t add = wcslen(closing);
    if (used + add + 1 <= kCertNoticeSize) {
        memcpy(g_notice + used, closing, add * sizeof(wchar_t));
        g_notice[used + add] = 0;
    }
    g_noticeFinished = true;
    return true;
}

bool CertNotice_IsEmpty() {
    std::lock_guard<std::mutex> hold(g_noticeMutex);
    return g_notice[0] == 0;
}

void CertNotice_Copy(wchar_t* out, size_t size) {
    if (!out || size == 0) return;
    std::lock_guard<std::mutex> hold(g_noticeMutex);
    size_t n = std::min(wcslen(g_notice), size - 1);
    memcpy(out, g_notice, n * sizeof(wchar_t));
    out[n] = 0;
}

CertNoticeKeeper::CertNoticeKeeper() : text_(kCertNoticeSize) {
    std::lock_guard<std::mutex> hold(g_noticeMutex);
    memcpy(text_.data(), g_notice, sizeof g_notice);
    hasLines_ = g_noticeHasLines;
    finished_ = g_noticeFinished;
}

CertNoticeKeeper::~CertNoticeKeeper() {
    std::lock_guard<std::mutex> hold(g_noticeMutex);
    memcpy(g_notice, text_.data(), sizeof g_notice);
    g_noticeHasLines = hasLines_;
    g_noticeFinished = finished_;
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
    : derLength(0), certType(type), device_(std::move(device)) {
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
        container->GetName(containerName_, sizeof containerName_);
    }
}

CCertObject::~CCertObject() {
    if (registered_) UnregisterCert();
}

bool CCertObject::SameCertificate(const CCertObject& other) const {
    return derLength == other.derLength && memcmp(der, other.der, derLength) == 0;
}

void CCertObject::UpdateButtons(IItemHost& host) {
    host.EnableButtons(BUTTON_VIEW_CERT, true);
    host.EnableButtons(BUTTON_MODIFY_PIN | BUTTON_MODIFY_LABEL, false);
}

ULONG CCertObject::ButtonClick(int commandId, IItemHost& host) {
    LogScope trace("CCertObject::ButtonClick");
    if (commandId == IDC_VIEW_CERT) {
        ViewCert(&host);
    } else if (commandId == IDC_VIEW_DEVINFO) {
        if (DevicePtr dev = device_.lock()) return host.ShowVersionDlg(dev);
    }
    return 0;
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
        MultiByteToWideChar(CP_ACP, 0, containerName_, -1, containerName, 260);
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
            registered_ = true;
        }
        CertFreeCertificateContext(ctx);
    }
    CloseStore(store);
    return ok;
}

int CCertObject::UnregisterCert() {
    if (sm2_) return 1;
    registered_ = false;
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

    int days = 0;
    ExpiryKind kind = ComputeExpiry(ctx->pCertInfo->NotAfter, localNow, &days);
    if (kind != EXPIRY_NONE) {
        char format[1024] = {};
        LoadStringA(KeywardenInstance(), static_cast<UINT>(kind), format, sizeof format);
        char line[1024] = {};
        if (kind == EXPIRY_TODAY)
            snprintf(line, sizeof line, format, serialText);
        else
            snprintf(line, sizeof line, format, serialText, days);
        wchar_t wide[1024] = {};
        MultiByteToWideChar(CP_ACP, 0, line, -1, wide, 1023);
        CertNotice_AppendLine(wide);
    }
    CertFreeCertificateContext(ctx);
    return 0;
}

void CCertObject::ViewCert(IItemHost* host) {
    if (host && host->PromptBusy()) return;
    // The viewer's library is bound when it is needed (not every toolchain ships its import
    // library), from the system folder only.
    kit::Module ui = kit::Module::load_system("cryptui.dll");
    if (!ui) return;
    using ViewFn = BOOL(WINAPI*)(PCCRYPTUI_VIEWCERTIFICATE_STRUCTW, BOOL*);
    auto view = ui.function<ViewFn>("CryptUIDlgViewCertificateW");
    PCCERT_CONTEXT ctx = view ? CertCreateCertificateContext(kEncoding, der, derLength) : nullptr;
    if (ctx) {
        CRYPTUI_VIEWCERTIFICATE_STRUCTW info = {};
        info.dwSize = sizeof info;
        info.hwndParent = host ? host->Window() : nullptr;
        info.dwFlags = CRYPTUI_DISABLE_ADDTOSTORE;
        info.pCertContext = ctx;
        BOOL changed = FALSE;
        view(&info, &changed);
        CertFreeCertificateContext(ctx);
    }
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
