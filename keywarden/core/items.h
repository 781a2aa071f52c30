// The objects behind the device tree: one CDevObject per connected key, its key containers
// (CContainObj) and their certificates (CCertObject).
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device_library.h"

class CDevObject;
class CContainObj;

enum ItemType { ITEM_DEVICE = 1, ITEM_CONTAINER = 2, ITEM_CERT = 5 };

// Why the tree is rebuilt. The reason decides which keys get the default-PIN prompt.
enum TreeReason : int {
    TREE_KEY_INSERTED = 0,      // only the inserted key is prompted for
    TREE_REFRESH = 1,           // every key is prompted for
    TREE_LANGUAGE = 2,          // no prompt
    TREE_KEY_REREAD = 3,        // a key re-read for one of its buttons: no prompt
    TREE_KEY_REMOVED = 4,       // no prompt
    TREE_ANNOUNCE_KEYS = 0x10,  // flag of a rescan: "UKey inserted" when keys were found
    TREE_STARTUP = TREE_REFRESH | TREE_ANNOUNCE_KEYS,
};

using DevicePtr = std::shared_ptr<CDevObject>;

// How near a certificate is to its end of validity, for the local wall-clock time: not near
// (more than 90 days left), ending within days, ending today, or ended days ago.
enum ExpiryKind { EXPIRY_NONE = 0, EXPIRY_PAST = 1, EXPIRY_SOON = 2, EXPIRY_TODAY = 3 };
ExpiryKind ComputeExpiry(const FILETIME& notAfterUtc, const SYSTEMTIME& localNow, int* days);

// A certificate near or past its end, as a read of its key found it: what the expiry notice
// tells the user about it.
struct ExpiryFact {
    ExpiryKind kind;
    int days;
    std::string serial;  // the certificate's serial number in hex
};
using ExpiryFacts = std::vector<ExpiryFact>;

// The objects behind the tree items. Shared: a tree item, an open dialog or a running command
// keeps its object alive however the device list changes meanwhile.
class CItemObj {
  public:
    virtual int GetItemType() const = 0;
    virtual ~CItemObj() = default;
};

class CCertObject : public CItemObj {
  public:
    // container: the record the certificate was read for (name, algorithm); device: its key.
    CCertObject(const CContainObj* container, std::weak_ptr<CDevObject> device, uint8_t certType,
                const uint8_t* der, ULONG length);
    ~CCertObject() override;  // a certificate still registered leaves the store

    int GetItemType() const override { return ITEM_CERT; }

    // The entry in the personal store, bound to the key's provider and container. SM2
    // certificates never go into the store (both answer 1 for them).
    int RegisterCert();
    int UnregisterCert();
    bool Registered() const { return m_registered; }
    // Another object holding the same certificate (a re-read of the key, the same key under a
    // new name) has taken over the store entry: this one must not remove it.
    void HandOverRegistration() { m_registered = false; }
    bool SameCertificate(const CCertObject& other) const;

    // Details and the nearness of the end of validity; never touches the store.
    ULONG GetCertInfo();
    // Same as GetCertInfo with the local wall-clock time given (the expiry check reads it).
    ULONG GetCertInfo(const SYSTEMTIME& localNow);
    void LogDump();
    bool IsSM2() const { return sm2_; }
    // The key the certificate was read from, while it exists.
    std::shared_ptr<CDevObject> Device() const { return m_device.lock(); }

    uint8_t der[kMaxCertSize];
    ULONG derLength;
    wchar_t subjectName[128];
    wchar_t issuerName[128];
    char notBeforeText[64];
    char notAfterText[64];
    char serialText[33];
    uint8_t certType;  // 1 = exchange (AT_KEYEXCHANGE), 2 = signature (AT_SIGNATURE)
    // What GetCertInfo found about the end of validity: EXPIRY_NONE or the kind and its days.
    ExpiryKind expiry = EXPIRY_NONE;
    int expiryDays = 0;

  private:
    std::weak_ptr<CDevObject> m_device;
    bool sm2_ = false;
    char m_containerName[257] = {};
    bool m_registered = false;
};

using CertPtr = std::shared_ptr<CCertObject>;

class CContainObj : public CItemObj {
  public:
    explicit CContainObj(const uint8_t* record);

    int GetItemType() const override { return ITEM_CONTAINER; }

    // Reads the container's certificates from its key; those that cannot be read or decoded
    // stay absent.
    void EnumCertInfo(CDevObject& device);
    uint8_t GetAlgorithm() const { return record[KEVA_CONTAINER_ALGORITHM]; }
    bool IsSM2() const { return record[KEVA_CONTAINER_ALGORITHM] == KEVA_ALGORITHM_SM2; }
    // Copies the container name (at most size - 1 bytes) and terminates it.
    void GetName(char* buffer, size_t size) const;
    void LogDump();

    uint8_t record[kContainerRecordSize];
    CertPtr exchangeCert;
    CertPtr signatureCert;
};

class CDevObject : public CItemObj, public std::enable_shared_from_this<CDevObject> {
  public:
    explicit CDevObject(const char* devName);
    ~CDevObject() override;  // closes the device

    int GetItemType() const override { return ITEM_DEVICE; }

    ULONG OpenToken();
    ULONG GetDevInfoFromES();
    ULONG GetDevLabelFromES();
    ULONG SetDevLabelFromES(const char* label, ULONG length);
    ULONG IsDefaultPINFromES();
    // Replaces the containers (and so the certificate objects) with those the key reports now.
    ULONG EnumContsFromES();
    ULONG ReadCertFromES(const uint8_t* certRef, uint8_t* buffer, ULONG* length);
    ULONG GetAllInfo();

    // The certificates of every container, exchange before signature, in container order.
    std::vector<CertPtr> Certificates() const;
    // The certificates near or past their end of validity, in the same order.
    ExpiryFacts Expiries() const;
    // Registers every certificate of the key in the personal store.
    void RegisterCertificates();

    ULONG GetDevPath(char* buffer, size_t size) const;
    ULONG GetDevSN(char* buffer, size_t size) const;
    void GetDevSNW(wchar_t* buffer128) const;
    ULONG GetCosVersion(char* buffer, size_t size) const;
    ULONG GetCosVersionW(wchar_t* buffer, size_t size) const;
    ULONG ChangePIN(const char* oldPin, ULONG oldLen, const char* newPin, ULONG newLen,
                    ULONG* retries);
    bool Probe();
    void LogDump();
    // The factory-default PIN is still set and tries are left.
    bool WantsDefaultPinPrompt() const { return !pinChanged && pinRetries != 0; }

    int GetPinRetries() const { return pinRetries; }
    bool IsUnformatted() const { return unformatted != 0; }
    bool IsPinChanged() const { return pinChanged != 0; }
    int ContainerCount() const { return static_cast<int>(containerCount); }

    int unformatted = 0;
    int pinChanged = 1;
    int pinRetries = 0;
    char devName[kDevNameSize];
    DEVHANDLE handle = 0;
    char serial[128];
    uint8_t cosVersion[4];
    char label[65];
    std::shared_ptr<CContainObj> containers[kMaxContainers];
    ULONG containerCount = 0;
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
    bool m_owner = false;
};

// The provider the certificates of connected keys are bound to.
extern const wchar_t kKeyProviderName[];  // "KEVA FOR UKEY CSP v1.1.0"

// Removes every certificate bound to kKeyProviderName (provider name compared ignoring case)
// from the current user's personal store; returns how many were removed, -1 if the store
// cannot be opened.
int SweepProviderCertificates();
