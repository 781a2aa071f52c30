// The objects behind the device tree: one CDevObject per connected key, its key containers
// (CContainObj) and their certificates (CCertObject).
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstdint>

#include "device_library.h"

class CMainDlg;
class CContainObj;

enum ItemType { ITEM_DEVICE = 1, ITEM_CONTAINER = 2, ITEM_CERT = 5 };

// Reasons for a tree rebuild.
enum TreeReason {
    TREE_KEY_INSERTED = 0,
    TREE_REFRESH = 1,
    TREE_LANGUAGE = 2,
    TREE_KEY_REMOVED = 4
};

// Dialogs that belong to one key. RemoveDlg ends the dialog with 2 when its key's device name
// equals the given one, ignoring case.
class CDevBaseDlg {
  public:
    virtual void RemoveDlg(const char* devName) = 0;
    virtual void UpdateTexts() = 0;

  protected:
    ~CDevBaseDlg() = default;
};

class CItemObj {
  public:
    virtual int GetItemType() = 0;
    virtual void UpdateButtons(CMainDlg* dlg) = 0;
    virtual ULONG ButtonClick(int commandId, CMainDlg* dlg) = 0;
    virtual ~CItemObj() = default;
};

class CCertObject : public CItemObj {
  public:
    CCertObject(CContainObj* container, uint8_t certType, const uint8_t* der, ULONG length);
    ~CCertObject() override;  // removes the certificate from the store unless kept

    int GetItemType() override { return ITEM_CERT; }
    void UpdateButtons(CMainDlg* dlg) override;
    ULONG ButtonClick(int commandId, CMainDlg* dlg) override;

    // Store registration and details.
    int RegisterCert();
    int UnregisterCert();
    ULONG GetCertInfo();
    // Same as GetCertInfo with the local wall-clock time given (the expiry check reads it).
    ULONG GetCertInfo(const SYSTEMTIME& localNow);
    void ViewCert(CMainDlg* dlg);
    void LogDump();

    // The releasing device re-read the key and found this same certificate again: the store
    // entry now belongs to the new object, so releasing this one must not remove it.
    void KeepInStoreOnRelease() { keepInStore_ = true; }

    CContainObj* container;
    uint8_t der[kMaxCertSize];
    ULONG derLength;
    wchar_t subjectName[128];
    wchar_t issuerName[128];
    char notBeforeText[64];
    char notAfterText[64];
    char serialText[33];
    uint8_t certType;  // 1 = exchange (AT_KEYEXCHANGE), 2 = signature (AT_SIGNATURE)

  private:
    bool keepInStore_ = false;
};

class CContainObj : public CItemObj {
  public:
    CContainObj(class CDevObject* device, const uint8_t* record);
    ~CContainObj() override;

    int GetItemType() override { return ITEM_CONTAINER; }
    void UpdateButtons(CMainDlg*) override {}
    ULONG ButtonClick(int, CMainDlg*) override { return 0; }

    void EnumCertInfo();
    uint8_t GetAlgorithm() const { return record[2]; }
    bool IsSM2() const { return record[2] == 14; }
    // Copies the container name (at most size - 1 bytes) and terminates it.
    void GetName(char* buffer, size_t size) const;
    void AddTreeEntries(HWND tree, HTREEITEM deviceItem);
    void LogDump();

    class CDevObject* device;
    uint8_t record[kContainerRecordSize];
    CCertObject* exchangeCert = nullptr;
    CCertObject* signatureCert = nullptr;
};

class CDevObject : public CItemObj {
  public:
    CDevObject(const char* devName, CMainDlg* owner);
    ~CDevObject() override;

    int GetItemType() override { return ITEM_DEVICE; }
    void UpdateButtons(CMainDlg* dlg) override;
    ULONG ButtonClick(int commandId, CMainDlg* dlg) override;

    ULONG OpenToken();
    ULONG GetDevInfoFromES();
    ULONG GetDevLabelFromES();
    ULONG SetDevLabelFromES(const char* label, ULONG length);
    ULONG IsDefaultPINFromES();
    ULONG EnumContsFromES();
    ULONG ReadCertFromES(const uint8_t* certRef, uint8_t* buffer, ULONG* length);
    ULONG GetAllInfo();

    ULONG GetDevPath(char* buffer, size_t size);
    ULONG GetDevSN(char* buffer, size_t size);
    void GetDevSNW(wchar_t* buffer128);
    void GetDisplayName(wchar_t* buffer260);
    ULONG GetCosVersion(char* buffer, size_t size);
    ULONG GetCosVersionW(wchar_t* buffer, size_t size);
    ULONG ChangePIN(const char* oldPin, ULONG oldLen, const char* newPin, ULONG newLen,
                    ULONG* retries);
    bool Probe();
    void LogDump();
    // Adds the certificates under the device's tree item and posts the default-PIN prompt when
    // the reason and the name call for it.
    void AddTreeEntries(HWND tree, HTREEITEM deviceItem, int reason, const char* devNameForPrompt);

    int GetPinRetries() const { return pinRetries; }
    bool IsUnformatted() const { return unformatted != 0; }
    bool IsPinChanged() const { return pinChanged != 0; }
    int ContainerCount() const { return static_cast<int>(containerCount); }

    CMainDlg* owner;
    int unformatted = 0;
    int pinChanged = 1;
    int pinRetries = 0;
    char devName[kDevNameSize];
    DEVHANDLE handle = 0;
    char serial[128];
    uint8_t cosVersion[4];
    char label[65];
    CContainObj* containers[kMaxContainers];
    ULONG containerCount = 0;
    CDevBaseDlg* openDialog = nullptr;
};

// Hex text of bytes: two capital digits per byte, high nibble first. The output is cleared
// first; -1 when it is too small for twice the length or an argument is null.
int BytesToHex(const uint8_t* bytes, size_t length, size_t outSize, char* out);

// Keeps the personal store open on this thread for a run of registrations and removals (a key
// read, a key released, a rescan), which then share one open and one write-back of the store
// instead of one per certificate. Nested sessions use the outer one.
class CertStoreSession {
  public:
    CertStoreSession();
    ~CertStoreSession();
    CertStoreSession(const CertStoreSession&) = delete;
    CertStoreSession& operator=(const CertStoreSession&) = delete;

  private:
    bool owner_ = false;
};

// The provider the certificates of connected keys are bound to.
extern const wchar_t kKeyProviderName[];  // "KEVA FOR UKEY CSP v1.1.0"

// Removes every certificate bound to kKeyProviderName (provider name compared ignoring case)
// from the current user's personal store; returns how many were removed, -1 if the store
// cannot be opened.
int SweepProviderCertificates();

// The certificate notice: lines about certificates near or past their end of validity. At most
// 2048 wide characters with the terminator; room is always kept for the closing sentence.
void CertNotice_Clear();
void CertNotice_AppendLine(const wchar_t* line);
// Appends string 253 and returns true when the notice has lines.
bool CertNotice_Finish();
bool CertNotice_IsEmpty();
void CertNotice_Copy(wchar_t* out, size_t size);
constexpr size_t kCertNoticeSize = 2048;
constexpr size_t kCertNoticeClosingRoom = 128;

// Expiry notice line for an end of validity and the local wall-clock time, or empty when the
// certificate is not near its end. Exposed for the date arithmetic.
enum ExpiryKind { EXPIRY_NONE = 0, EXPIRY_PAST = 250, EXPIRY_SOON = 251, EXPIRY_TODAY = 252 };
ExpiryKind ComputeExpiry(const FILETIME& notAfterUtc, const SYSTEMTIME& localNow, int* days);
