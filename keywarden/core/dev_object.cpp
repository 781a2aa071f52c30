// CDevObject and CContainObj: reading a key through the device library.
#include <stdio.h>
#include <string.h>

#include "items.h"
#include "log.h"

namespace {

constexpr ULONG kEnumCapacity = kMaxContainers;
// The key specs of the two certificates (AT_KEYEXCHANGE, AT_SIGNATURE).
constexpr uint8_t kExchangeCertType = 1;
constexpr uint8_t kSignatureCertType = 2;

}  // namespace

// ---- CDevObject ---------------------------------------------------------------------------

CDevObject::CDevObject(const char* name) {
    memset(devName, 0, sizeof devName);
    if (name) strncpy(devName, name, sizeof devName - 1);
    memset(serial, 0, sizeof serial);
    memset(cosVersion, 0, sizeof cosVersion);
    memset(label, 0, sizeof label);
}

CDevObject::~CDevObject() {
    {
        // The certificates still registered leave the store in one write-back.
        CertStoreSession storeSession;
        for (auto& c : containers) c.reset();
    }
    if (handle) devlib::CloseDevice(handle);
    handle = 0;
}

ULONG CDevObject::OpenToken() {
    LogScope trace("CDevObject::OpenToken");
    DEVHANDLE h = 0;
    ULONG rv = devlib::OpenDevice(devName, &h);
    if (rv != 0) {
        LogMessage(LOG_LEVEL_ERROR, "打开设备失败[%#x]", static_cast<unsigned>(rv));
        return rv;
    }
    handle = h;
    return 0;
}

ULONG CDevObject::GetDevInfoFromES() {
    LogScope trace("CDevObject::GetDevInfoFromES");
    if (!handle) {
        LogMessage(LOG_LEVEL_ERROR, "Null Pointer: _pCtx");
        return KW_ERR_NULL_POINTER;
    }
    uint8_t record[kDevInfoSize];
    memset(record, 0, sizeof record);
    record[KEVA_DEVINFO_VERSION] = KEVA_DEVINFO_VERSION_CURRENT;
    ULONG rv = devlib::GetDevInfo(handle, record);
    if (rv != 0) {
        LogMessage(LOG_LEVEL_ERROR, "获取设备序列号失败[%#x]", static_cast<unsigned>(rv));
        return rv;
    }
    uint32_t length;
    memcpy(&length, record + KEVA_DEVINFO_SERIAL_LENGTH, 4);
    if (length > KEVA_DEVINFO_SERIAL_MAX)
        length = KEVA_DEVINFO_SERIAL_MAX;  // the record holds at most 32 serial bytes
    memset(serial, 0, sizeof serial);
    memcpy(serial, record + KEVA_DEVINFO_SERIAL, length);
    memcpy(cosVersion, record + KEVA_DEVINFO_COS_VERSION, KEVA_COS_VERSION_SIZE);
    return 0;
}

ULONG CDevObject::GetDevLabelFromES() {
    LogScope trace("CDevObject::GetDevLabelFromES");
    if (!handle) {
        LogMessage(LOG_LEVEL_ERROR, "Null Pointer: _pCtx");
        return KW_ERR_NULL_POINTER;
    }
    char buffer[65];
    memset(buffer, 0, sizeof buffer);
    ULONG length = KEVA_LABEL_MAX;
    ULONG rv = devlib::GetLabel(handle, buffer, &length);
    if (rv == KEVA_SW_NOT_INITIALISED) {
        unformatted = 1;
        memset(label, 0, sizeof label);
        return 0;
    }
    if (rv != 0) {
        LogMessage(LOG_LEVEL_ERROR, "获取设备标签失败[%#x]", static_cast<unsigned>(rv));
        return rv;
    }
    if (length > KEVA_LABEL_MAX)
        length = KEVA_LABEL_MAX;  // never past the field, whatever the library answers
    unformatted = 0;
    memset(label, 0, sizeof label);
    memcpy(label, buffer, length);
    return 0;
}

ULONG CDevObject::SetDevLabelFromES(const char* newLabel, ULONG length) {
    LogScope trace("CDevObject::SetDevLabelFromES");
    if (!handle || !newLabel) {
        LogMessage(LOG_LEVEL_ERROR, "Null Pointer: _pCtx");
        return KW_ERR_NULL_POINTER;
    }
    ULONG rv = devlib::SetLabel(handle, newLabel, length);
    if (rv != 0) {
        LogMessage(LOG_LEVEL_ERROR, "修改设备标签失败[%#x]", static_cast<unsigned>(rv));
        return rv;
    }
    memset(label, 0, sizeof label);
    memcpy(label, newLabel, length > KEVA_LABEL_MAX ? KEVA_LABEL_MAX : length);
    return 0;
}

ULONG CDevObject::IsDefaultPINFromES() {
    LogScope trace("CDevObject::IsDefaultPINFromES");
    if (!handle) {
        LogMessage(LOG_LEVEL_ERROR, "Null Pointer: _pCtx");
        return KW_ERR_NULL_POINTER;
    }
    ULONG state = 0;
    ULONG rv = devlib::GetPinRetryState(handle, &state);
    if (rv != 0) {
        LogMessage(LOG_LEVEL_ERROR, "GetRetryTimes Err[%#x]", static_cast<unsigned>(rv));
        return rv;
    }
    pinRetries = static_cast<int>(KEVA_PIN_TRIES(state));
    pinChanged = KEVA_PIN_IS_DEFAULT(state) ? 0 : 1;
    return 0;
}

ULONG CDevObject::EnumContsFromES() {
    LogScope trace("CDevObject::EnumContsFromES");
    if (!handle) {
        LogMessage(LOG_LEVEL_ERROR, "Null Pointer: _pCtx");
        return KW_ERR_NULL_POINTER;
    }
    uint8_t records[kMaxContainers * kContainerRecordSize];
    memset(records, 0, sizeof records);
    ULONG count = kEnumCapacity;
    ULONG rv = devlib::EnumContainers(handle, records, &count);
    if (rv != 0) {
        LogMessage(LOG_LEVEL_ERROR, "EnumContainer Err[%#x]", static_cast<unsigned>(rv));
        return rv;
    }
    if (count > kMaxContainers) count = kMaxContainers;
    // New objects for what the key reports now; the previous ones stay with whoever still
    // holds them (a tree item, a dialog) and leave the store only through their registration.
    containerCount = count;
    for (ULONG i = 0; i < kMaxContainers; ++i) {
        if (i >= count) {
            containers[i].reset();
            continue;
        }
        auto c = std::make_shared<CContainObj>(records + i * kContainerRecordSize);
        c->EnumCertInfo(*this);
        containers[i] = std::move(c);
    }
    return 0;
}

ULONG CDevObject::ReadCertFromES(const uint8_t* certRef, uint8_t* buffer, ULONG* length) {
    if (!handle || !certRef || !buffer || !length) return KW_ERR_NULL_POINTER;
    ULONG len = kMaxCertSize;
    ULONG rv = devlib::ReadCert(handle, certRef, buffer, &len);
    if (rv != 0) return rv;
    if (len > kMaxCertSize) return KW_ERR_BUFFER_TOO_SHORT;
    *length = len;
    return 0;
}

ULONG CDevObject::GetAllInfo() {
    LogScope trace("CDevObject::GetAllInfo");
    ULONG rv = GetDevInfoFromES();
    if (rv == 0) rv = GetDevLabelFromES();
    if (rv == 0) rv = IsDefaultPINFromES();
    if (rv == 0) rv = EnumContsFromES();
    return rv;
}

static ULONG CopyField(const char* field, char* buffer, size_t size, const char* nullText) {
    if (!buffer) {
        LogMessage(LOG_LEVEL_ERROR, "%s", nullText);
        return KW_ERR_NULL_POINTER;
    }
    size_t n = strlen(field);
    if (size < n + 1) {
        LogMessage(LOG_LEVEL_ERROR, "缓冲区长度太短");
        return KW_ERR_BUFFER_TOO_SHORT;
    }
    memcpy(buffer, field, n + 1);
    return 0;
}

ULONG CDevObject::GetDevPath(char* buffer, size_t size) const {
    return CopyField(devName, buffer, size, "Null Pointer: szDevName");
}

ULONG CDevObject::GetDevSN(char* buffer, size_t size) const {
    return CopyField(serial, buffer, size, "Null Pointer: szDevSN");
}

void CDevObject::GetDevSNW(wchar_t* buffer128) const {
    if (!buffer128) return;
    buffer128[0] = 0;
    int n = MultiByteToWideChar(CP_ACP, 0, serial, -1, buffer128, 128);
    if (n == 0) buffer128[0] = 0;
    buffer128[127] = 0;
}

ULONG CDevObject::GetCosVersion(char* buffer, size_t size) const {
    if (!buffer) {
        LogMessage(LOG_LEVEL_ERROR, "Null Pointer: szCosVer");
        return KW_ERR_NULL_POINTER;
    }
    if (size < 12) {
        LogMessage(LOG_LEVEL_ERROR, "缓冲区长度太短");
        return KW_ERR_BUFFER_TOO_SHORT;
    }
    snprintf(buffer, size, "%02x %02x %02x %02x", cosVersion[0], cosVersion[1], cosVersion[2],
             cosVersion[3]);
    return 0;
}

ULONG CDevObject::GetCosVersionW(wchar_t* buffer, size_t size) const {
    if (!buffer) return KW_ERR_NULL_POINTER;
    if (size < 64) return KW_ERR_BUFFER_TOO_SHORT;
    char text[64];
    ULONG rv = GetCosVersion(text, sizeof text);
    if (rv != 0) {
        LogMessage(LOG_LEVEL_ERROR, "GetCosVersion failed");
        return rv;
    }
    for (char* p = text; *p; ++p)
        if (*p >= 'a' && *p <= 'f') *p = static_cast<char>(*p - 'a' + 'A');
    MultiByteToWideChar(CP_ACP, 0, text, -1, buffer, static_cast<int>(size));
    return 0;
}

ULONG CDevObject::ChangePIN(const char* oldPin, ULONG oldLen, const char* newPin, ULONG newLen,
                            ULONG* retries) {
    LogScope trace("CDevObject::ChangePIN");
    ULONG rv =
        handle ? devlib::ChangePin(handle, oldPin, oldLen, newPin, newLen) : KW_ERR_NULL_POINTER;
    if ((rv & KEVA_SW_PIN_WRONG_BASE) == KEVA_SW_PIN_WRONG_BASE)
        pinRetries = static_cast<int>(rv - KEVA_SW_PIN_WRONG_BASE);
    if (rv == KEVA_SW_PIN_BLOCKED) pinRetries = 0;
    if (rv == 0) pinChanged = 1;
    if (retries) *retries = static_cast<ULONG>(pinRetries);
    return rv;
}

bool CDevObject::Probe() {
    if (!handle) return false;
    uint8_t buffer[8] = {};
    return devlib::Probe(handle, buffer, sizeof buffer) == 0;
}

void CDevObject::LogDump() {
    LogMessage(LOG_LEVEL_DEBUG, "设备路径:%s", devName);
    LogMessage(LOG_LEVEL_DEBUG, "设备序列号:%s", serial);
    LogMessage(LOG_LEVEL_DEBUG, "设备标签:%s", label);
    LogMessage(LOG_LEVEL_DEBUG, "设备COS版本号:%02x %02x %02x %02x", cosVersion[0], cosVersion[1],
               cosVersion[2], cosVersion[3]);
    LogMessage(LOG_LEVEL_DEBUG, "设备默认PIN:%s", pinChanged ? "否" : "是");
    LogMessage(LOG_LEVEL_DEBUG, "设备状态:%s", unformatted ? "未格式化" : "正常");
    LogMessage(LOG_LEVEL_DEBUG, "设备PIN状态[%d]", pinRetries);
    LogMessage(LOG_LEVEL_DEBUG, "该设备共有[%d]个容器", static_cast<int>(containerCount));
    int n = 0;
    for (const auto& c : containers) {
        if (!c) continue;
        LogMessage(LOG_LEVEL_DEBUG, "第[%d]个容器信息如下：", ++n);
        c->LogDump();
    }
}

std::vector<CertPtr> CDevObject::Certificates() const {
    std::vector<CertPtr> out;
    for (const auto& c : containers) {
        if (!c) continue;
        for (const CertPtr& cert : {c->exchangeCert, c->signatureCert})
            if (cert) out.push_back(cert);
    }
    return out;
}

ExpiryFacts CDevObject::Expiries() const {
    ExpiryFacts out;
    for (const CertPtr& cert : Certificates())
        if (cert->expiry != EXPIRY_NONE)
            out.push_back({cert->expiry, cert->expiryDays, cert->serialText});
    return out;
}

void CDevObject::RegisterCertificates() {
    CertStoreSession storeSession;
    for (const CertPtr& cert : Certificates()) cert->RegisterCert();
}

// ---- CContainObj --------------------------------------------------------------------------

CContainObj::CContainObj(const uint8_t* rec) {
    memcpy(record, rec, kContainerRecordSize);
    record[kContainerRecordSize - 1] = 0;  // the name field always ends
}

void CContainObj::EnumCertInfo(CDevObject& device) {
    uint8_t buffer[kMaxCertSize];
    struct Kind {
        uint8_t present;
        const uint8_t* ref;
        uint8_t type;
        CertPtr* slot;
    } kinds[] = {{record[KEVA_CONTAINER_EXCHANGE_KEY], record + KEVA_CONTAINER_EXCHANGE_CERT_REF,
                  kExchangeCertType, &exchangeCert},
                 {record[KEVA_CONTAINER_SIGNATURE_KEY], record + KEVA_CONTAINER_SIGNATURE_CERT_REF,
                  kSignatureCertType, &signatureCert}};
    for (const Kind& k : kinds) {
        if (!k.present) continue;
        ULONG length = 0;
        if (device.ReadCertFromES(k.ref, buffer, &length) != 0) continue;
        auto cert =
            std::make_shared<CCertObject>(this, device.weak_from_this(), k.type, buffer, length);
        if (cert->GetCertInfo() != 0) continue;
        *k.slot = std::move(cert);
    }
}

void CContainObj::GetName(char* buffer, size_t size) const {
    if (!buffer || size == 0) return;
    size_t n = strnlen(reinterpret_cast<const char*>(record + KEVA_CONTAINER_NAME),
                       kContainerRecordSize - KEVA_CONTAINER_NAME);
    if (n > size - 1) n = size - 1;
    memcpy(buffer, record + KEVA_CONTAINER_NAME, n);
    buffer[n] = 0;
}

void CContainObj::LogDump() {
    char name[257];
    GetName(name, sizeof name);
    LogMessage(LOG_LEVEL_DEBUG, "容器名称[%s]", name);
    LogMessage(LOG_LEVEL_DEBUG, "容器算法[%s]", IsSM2() ? "SM2" : "RSA");
    LogMessage(LOG_LEVEL_DEBUG, "容器加密密钥[%s]",
               record[KEVA_CONTAINER_EXCHANGE_KEY] ? "存在" : "不存在");
    LogMessage(LOG_LEVEL_DEBUG, "容器签名密钥[%s]",
               record[KEVA_CONTAINER_SIGNATURE_KEY] ? "存在" : "不存在");
    if (exchangeCert) {
        LogMessage(LOG_LEVEL_DEBUG, "容器加密证书存在，信息如下：");
        exchangeCert->LogDump();
    } else {
        LogMessage(LOG_LEVEL_DEBUG, "容器加密证书不存在");
    }
    if (signatureCert) {
        LogMessage(LOG_LEVEL_DEBUG, "容器签名证书存在，信息如下：");
        signatureCert->LogDump();
    } else {
        LogMessage(LOG_LEVEL_DEBUG, "容器签名证书不存在");
    }
}
