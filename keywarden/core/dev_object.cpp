// CDevObject and CContainObj: reading a key through the device library.
#include <stdio.h>
#include <string.h>

#include "items.h"
#include "log.h"
#include "main_dlg.h"
#include "resources.h"

namespace {

constexpr ULONG kEnumCapacity = kMaxContainers;

}  // namespace

// ---- CDevObject ---------------------------------------------------------------------------

CDevObject::CDevObject(const char* name, CMainDlg* ownerDlg) : owner(ownerDlg) {
    memset(devName, 0, sizeof devName);
    if (name) strncpy(devName, name, sizeof devName - 1);
    memset(serial, 0, sizeof serial);
    memset(cosVersion, 0, sizeof cosVersion);
    memset(label, 0, sizeof label);
    for (auto& c : containers) c = nullptr;
}

CDevObject::~CDevObject() {
    CertStoreSession storeSession;
    for (auto& c : containers) {
        delete c;
        c = nullptr;
    }
    // The dialog of this key runs on the user-interface thread: tell it there.
    if (openDialog && owner && owner->m_hWnd)
        SendMessageW(owner->m_hWnd, UM_REMOVEDLG, REMOVEDLG_ALL, reinterpret_cast<LPARAM>(devName));
    if (handle) devlib::CloseDevice(handle);
    handle = 0;
}

void CDevObject::UpdateButtons(CMainDlg* dlg) {
    if (!dlg) return;
    if (unformatted) {
        dlg->EnableButtons(1 | 2 | 4, FALSE);
    } else {
        dlg->EnableButtons(1 | 2, TRUE);
        dlg->EnableButtons(4, FALSE);
    }
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
    record[0] = 6;
    ULONG rv = devlib::GetDevInfo(handle, record);
    if (rv != 0) {
        LogMessage(LOG_LEVEL_ERROR, "获取设备序列号失败[%#x]", static_cast<unsigned>(rv));
        return rv;
    }
    uint32_t length;
    memcpy(&length, record + 72, 4);
    if (length > 32) length = 32;  // the record holds at most 32 serial bytes
    memset(serial, 0, sizeof serial);
    memcpy(serial, record + 40, length);
    memcpy(cosVersion, record + 76, 4);
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
    ULONG length = 64;
    ULONG rv = devlib::GetLabel(handle, buffer, &length);
    if (rv == KEY_SW_NOT_INITIALISED) {
        unformatted = 1;
        memset(label, 0, sizeof label);
        return 0;
    }
    if (rv != 0) {
        LogMessage(LOG_LEVEL_ERROR, "获取设备标签失败[%#x]", static_cast<unsigned>(rv));
        return rv;
    }
    if (length > 64) length = 64;  // never past the field, whatever the library answers
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
    memcpy(label, newLabel, length > 64 ? 64 : length);
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
    pinRetries = static_cast<int>(state & 0xFF);
    pinChanged = (state >> 24) == 0 ? 1 : 0;
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
    CertStoreSession storeSession;

    // A re-read replaces the containers. The old objects are released after the new ones
    // have registered their certificates; a certificate found again keeps its store entry.
    CContainObj* old[kMaxContainers];
    for (ULONG i = 0; i < kMaxContainers; ++i) {
        old[i] = containers[i];
        containers[i] = nullptr;
    }
    containerCount = count;
    for (ULONG i = 0; i < count; ++i) {
        containers[i] = new CContainObj(this, records + i * kContainerRecordSize);
        containers[i]->EnumCertInfo();
    }
    for (CContainObj* prev : old) {
        if (!prev) continue;
        for (CCertObject* oldCert : {prev->exchangeCert, prev->signatureCert}) {
            if (!oldCert) continue;
            for (CContainObj* now : containers) {
                if (!now) continue;
                for (CCertObject* cert : {now->exchangeCert, now->signatureCert}) {
                    if (cert && cert->derLength == oldCert->derLength &&
                        memcmp(cert->der, oldCert->der, cert->derLength) == 0)
                        oldCert->KeepInStoreOnRelease();
                }
            }
        }
        delete prev;
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

ULONG CDevObject::GetDevPath(char* buffer, size_t size) {
    return CopyField(devName, buffer, size, "Null Pointer: szDevName");
}

ULONG CDevObject::GetDevSN(char* buffer, size_t size) {
    return CopyField(serial, buffer, size, "Null Pointer: szDevSN");
}

void CDevObject::GetDevSNW(wchar_t* buffer128) {
    if (!buffer128) return;
    buffer128[0] = 0;
    int n = MultiByteToWideChar(CP_ACP, 0, serial, -1, buffer128, 128);
    if (n == 0) buffer128[0] = 0;
    buffer128[127] = 0;
}

void CDevObject::GetDisplayName(wchar_t* buffer260) {
    if (!buffer260) return;
    buffer260[0] = 0;
    if (unformatted) {
        LoadStringW(KeywardenInstance(), IDS_UNFORMATTED_DEVICE, buffer260, 260);
        return;
    }
    if (MultiByteToWideChar(CP_ACP, 0, label, -1, buffer260, 260) == 0) buffer260[0] = 0;
    buffer260[259] = 0;
}

ULONG CDevObject::GetCosVersion(char* buffer, size_t size) {
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

ULONG CDevObject::GetCosVersionW(wchar_t* buffer, size_t size) {
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
    if ((rv & KEY_SW_PIN_WRONG_BASE) == KEY_SW_PIN_WRONG_BASE)
        pinRetries = static_cast<int>(rv - KEY_SW_PIN_WRONG_BASE);
    if (rv == KEY_SW_PIN_BLOCKED) pinRetries = 0;
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
    for (CContainObj* c : containers) {
        if (!c) continue;
        LogMessage(LOG_LEVEL_DEBUG, "第[%d]个容器信息如下：", ++n);
        c->LogDump();
    }
}

void CDevObject::AddTreeEntries(HWND tree, HTREEITEM deviceItem, int reason,
                                const char* devNameForPrompt) {
    for (CContainObj* c : containers)
        if (c) c->AddTreeEntries(tree, deviceItem);
    if (reason == TREE_LANGUAGE || reason == TREE_KEY_REMOVED) return;
    if (reason == TREE_KEY_INSERTED &&
        !(devNameForPrompt && SameDeviceName(devNameForPrompt, devName)))
        return;
    if (!pinChanged && pinRetries != 0 && owner && owner->m_hWnd)
        PostMessageW(owner->m_hWnd, UM_SHOWDEFPIN, reinterpret_cast<WPARAM>(this), 0);
}

ULONG CDevObject::ButtonClick(int commandId, CMainDlg* dlg) {
    LogScope trace("CDevObject::ButtonClick");
    ULONG rv;
    {
        LogScope read("CDevObject::GetAllInfo");
        rv = GetDevInfoFromES();
        if (rv == 0) rv = GetDevLabelFromES();
        if (rv == 0) rv = IsDefaultPINFromES();
        if (rv == 0) rv = EnumContsFromES();
    }
    IKeyDialogs* dialogs = dlg ? dlg->KeyDialogs() : nullptr;
    if (rv != 0) {
        LogMessage(LOG_LEVEL_ERROR, "更新设备信息失败[%#x]", static_cast<unsigned>(rv));
        if (dialogs) dialogs->ShowMessage(dlg->m_hWnd, this, IDS_UPDATE_DEVINFO_FAILED, rv, 0);
        return rv;
    }
    if (!dialogs) return 0;
    switch (commandId) {
        case IDC_MODIFY_PIN:
            return dialogs->ModifyPIN(this);
        case IDC_MODIFY_LABEL:
            return dialogs->ModifyDevLabel(this);
        case IDC_VIEW_DEVINFO:
            return dialogs->ShowVersionDlg(this);
    }
    return 0;
}

// ---- CContainObj --------------------------------------------------------------------------

CContainObj::CContainObj(CDevObject* dev, const uint8_t* rec) : device(dev) {
    memcpy(record, rec, kContainerRecordSize);
    record[kContainerRecordSize - 1] = 0;  // the name field always ends
}

CContainObj::~CContainObj() {
    delete exchangeCert;
    delete signatureCert;
}

void CContainObj::EnumCertInfo() {
    uint8_t buffer[kMaxCertSize];
    struct Kind {
        uint8_t present;
        const uint8_t* ref;
        uint8_t type;
        CCertObject** slot;
    } kinds[] = {{record[3], record + 9, 1, &exchangeCert},
                 {record[4], record + 15, 2, &signatureCert}};
    for (const Kind& k : kinds) {
        if (!k.present || !device) continue;
        ULONG length = 0;
        if (device->ReadCertFromES(k.ref, buffer, &length) != 0) continue;
        auto* cert = new CCertObject(this, k.type, buffer, length);
        if (cert->GetCertInfo() != 0) {
            delete cert;
            continue;
        }
        *k.slot = cert;
    }
}

void CContainObj::GetName(char* buffer, size_t size) const {
    if (!buffer || size == 0) return;
    size_t n = strnlen(reinterpret_cast<const char*>(record + 17), 256);
    if (n > size - 1) n = size - 1;
    memcpy(buffer, record + 17, n);
    buffer[n] = 0;
}

void CContainObj::AddTreeEntries(HWND tree, HTREEITEM deviceItem) {
    if (!tree) return;
    for (CCertObject* cert : {exchangeCert, signatureCert}) {
        if (!cert) continue;
        TVINSERTSTRUCTW ins = {};
        ins.hParent = deviceItem;
        ins.hInsertAfter = TVI_LAST;
        ins.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
        ins.item.pszText = cert->subjectName;
        ins.item.iImage = 1;
        ins.item.iSelectedImage = 1;
        ins.item.lParam = reinterpret_cast<LPARAM>(static_cast<CItemObj*>(cert));
        SendMessageW(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&ins));
    }
    SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(deviceItem));
}

void CContainObj::LogDump() {
    char name[257];
    GetName(name, sizeof name);
    LogMessage(LOG_LEVEL_DEBUG, "容器名称[%s]", name);
    LogMessage(LOG_LEVEL_DEBUG, "容器算法[%s]", IsSM2() ? "SM2" : "RSA");
    LogMessage(LOG_LEVEL_DEBUG, "容器加密密钥[%s]", record[3] ? "存在" : "不存在");
    LogMessage(LOG_LEVEL_DEBUG, "容器签名密钥[%s]", record[4] ? "存在" : "不存在");
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
