// Key objects read through the device library from software keys.
#include <gtest/gtest.h>

#include <memory>
#include <set>

#include "device_library.h"
#include "items.h"
#include "key_texts.h"
#include "resource.h"
#include "softkey_store.h"
#include "support.h"

using namespace kwtest;

namespace {

class DeviceTest : public ::testing::Test {
  protected:
    std::shared_ptr<CDevObject> Open(const std::string& serial, bool read = true) {
        SetPresent(serial, true);
        plugged_.push_back(serial);
        auto dev = std::make_shared<CDevObject>(DeviceName(serial).c_str());
        EXPECT_EQ(dev->OpenToken(), 0u);
        if (read) {
            EXPECT_EQ(dev->GetAllInfo(), 0u);
        }
        return dev;
    }
    void TearDown() override {
        for (const auto& s : plugged_) SetPresent(s, false);
    }
    std::vector<std::string> plugged_;
};

}  // namespace

TEST_F(DeviceTest, ReadsSerialLabelFirmwarePinStateAndContainers) {
    auto dev = Open("KWA");
    EXPECT_STREQ(dev->serial, "KWA");
    EXPECT_STREQ(dev->label, "Key KWA");
    EXPECT_FALSE(dev->IsUnformatted());
    EXPECT_FALSE(dev->IsPinChanged());
    EXPECT_EQ(dev->GetPinRetries(), 10);
    EXPECT_EQ(dev->ContainerCount(), 3);
    for (int i = 0; i < 2; ++i) {
        ASSERT_NE(dev->containers[i], nullptr);
        EXPECT_FALSE(dev->containers[i]->IsSM2());
        EXPECT_NE(dev->containers[i]->exchangeCert, nullptr);
        EXPECT_NE(dev->containers[i]->signatureCert, nullptr);
        EXPECT_EQ(dev->containers[i]->exchangeCert->certType, 1);
        EXPECT_EQ(dev->containers[i]->signatureCert->certType, 2);
    }
    char name[257];
    dev->containers[1]->GetName(name, sizeof name);
    EXPECT_STREQ(name, "RSA-KWA-2");
    EXPECT_EQ(dev->containers[3], nullptr);
    wchar_t display[260];
    KeyDisplayName(*dev, display);
    EXPECT_STREQ(display, L"Key KWA");
    wchar_t sn[128];
    dev->GetDevSNW(sn);
    EXPECT_STREQ(sn, L"KWA");
    EXPECT_TRUE(dev->Probe());
}

TEST_F(DeviceTest, FirmwareVersionTextNeedsTwelveBytesAndWideTextUsesCapitals) {
    auto dev = Open("KWB");
    char text[16];
    EXPECT_EQ(dev->GetCosVersion(text, 11), KW_ERR_BUFFER_TOO_SHORT);
    ASSERT_EQ(dev->GetCosVersion(text, 12), 0u);
    EXPECT_STREQ(text, "0a 1b 2c 3d");
    EXPECT_EQ(dev->GetCosVersion(nullptr, 12), KW_ERR_NULL_POINTER);
    wchar_t wide[64];
    EXPECT_EQ(dev->GetCosVersionW(wide, 63), KW_ERR_BUFFER_TOO_SHORT);
    ASSERT_EQ(dev->GetCosVersionW(wide, 64), 0u);
    EXPECT_STREQ(wide, L"0A 1B 2C 3D");
}

TEST_F(DeviceTest, PathAndSerialCopiesCheckTheCallersBuffer) {
    auto dev = Open("KWB");
    std::string name = DeviceName("KWB");
    std::vector<char> buf(name.size() + 1);
    EXPECT_EQ(dev->GetDevPath(buf.data(), name.size()), KW_ERR_BUFFER_TOO_SHORT);
    ASSERT_EQ(dev->GetDevPath(buf.data(), buf.size()), 0u);
    EXPECT_EQ(std::string(buf.data()), name);
    EXPECT_EQ(dev->GetDevPath(nullptr, 260), KW_ERR_NULL_POINTER);
    char sn[4];
    EXPECT_EQ(dev->GetDevSN(sn, 3), KW_ERR_BUFFER_TOO_SHORT);
    EXPECT_EQ(dev->GetDevSN(sn, 4), 0u);
    EXPECT_STREQ(sn, "KWB");
}

TEST_F(DeviceTest, KeyWithoutLabelIsUnformattedAndShownByTheStringTable) {
    auto dev = Open("KWU");
    char label[65] = {};
    ULONG len = 64;
    EXPECT_EQ(devlib::GetLabel(dev->handle, label, &len), KEVA_SW_NOT_INITIALISED);
    EXPECT_TRUE(dev->IsUnformatted());
    EXPECT_STREQ(dev->label, "");
    wchar_t display[260];
    KeyDisplayName(*dev, display);
    // The test machine runs in Simplified Chinese: the string table's line in that language.
    EXPECT_STREQ(display, L"\u672A\u683C\u5F0F\u5316\u8BBE\u5907");
}

TEST_F(DeviceTest, SignatureOnlyContainerHasOnlyItsSignatureCertificate) {
    auto dev = Open("KWS");
    ASSERT_NE(dev->containers[0], nullptr);
    EXPECT_EQ(dev->containers[0]->exchangeCert, nullptr);
    ASSERT_NE(dev->containers[0]->signatureCert, nullptr);
    EXPECT_EQ(dev->Certificates().size(), 1u);
    dev->RegisterCertificates();
    EXPECT_EQ(ProviderEntries().size(), 1u);
}

TEST_F(DeviceTest, PinChangeAnswersLikeAKey) {
    softkey::Store(softkey::Store::default_root()).update("KWP", [](softkey::KeyRecord& r) {
        softkey::set_pin(r.pin, softkey::kFactoryPin, true);
    });
    auto dev = Open("KWP");
    ULONG tries = 99;
    ULONG rv = dev->ChangePIN("000000", 6, "24680135", 8, &tries);
    EXPECT_EQ(rv, KEVA_SW_PIN_WRONG_BASE + 9);
    EXPECT_EQ(tries, 9u);
    EXPECT_EQ(dev->GetPinRetries(), 9);
    EXPECT_EQ(dev->ChangePIN("580914", 6, "24680135", 8, &tries), 0u);
    EXPECT_EQ(dev->IsDefaultPINFromES(), 0u);
    EXPECT_TRUE(dev->IsPinChanged());
    EXPECT_EQ(dev->GetPinRetries(), 10);

    auto locked = Open("KWC");
    EXPECT_EQ(locked->GetPinRetries(), 0);
    EXPECT_EQ(locked->ChangePIN("580914", 6, "24680135", 8, &tries), KEVA_SW_PIN_BLOCKED);
    EXPECT_EQ(tries, 0u);
}

TEST_F(DeviceTest, PulledKeyStopsAnsweringAndUnknownNamesAreRejected) {
    auto dev = Open("KWB");
    SetPresent("KWB", false);
    EXPECT_FALSE(dev->Probe());
    EXPECT_NE(dev->GetDevInfoFromES(), 0u);
    EXPECT_NE(devlib::CheckDeviceName(
                  "\\\\?\\USBSTOR#Disk&Ven_Generic#1234#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}"),
              0u);
    EXPECT_EQ(devlib::CheckDeviceName(DeviceName("KWB", 3).c_str()), 0u);
    CDevObject closed(DeviceName("KWB").c_str());
    EXPECT_EQ(closed.GetDevInfoFromES(), KW_ERR_NULL_POINTER);
    EXPECT_NE(closed.OpenToken(), 0u);  // not plugged in
}

TEST_F(DeviceTest, ReReadGivesNewObjectsWhileTheOldOnesStayWholeForTheirHolders) {
    auto dev = Open("KWA");
    dev->RegisterCertificates();
    ASSERT_EQ(ProviderEntries().size(), 4u);
    // A tree item or a dialog holds an old container and certificate while the key is re-read.
    std::shared_ptr<CContainObj> before = dev->containers[0];
    CertPtr heldCert = before->exchangeCert;
    ASSERT_TRUE(heldCert && heldCert->Registered());
    ASSERT_EQ(dev->EnumContsFromES(), 0u);
    ASSERT_NE(dev->containers[0], nullptr);
    EXPECT_NE(dev->containers[0], before);
    EXPECT_EQ(dev->ContainerCount(), 3);
    // The held objects are intact and still describe the same certificate.
    EXPECT_STREQ(heldCert->subjectName, L"RSA Exch KWA #1");
    EXPECT_TRUE(dev->containers[0]->exchangeCert->SameCertificate(*heldCert));
    char name[257];
    before->GetName(name, sizeof name);
    EXPECT_STREQ(name, "RSA-KWA-1");
    // Reading registers nothing: the store follows the registered objects. The old ones
    // nobody holds have left; the held container's two keep their entries until they go.
    EXPECT_FALSE(dev->containers[0]->exchangeCert->Registered());
    std::set<std::wstring> subjects;
    for (const auto& e : ProviderEntries()) subjects.insert(e.subject);
    EXPECT_EQ(subjects, (std::set<std::wstring>{L"RSA Exch KWA #1", L"RSA Sign KWA #1"}));
    before.reset();
    ASSERT_EQ(ProviderEntries().size(), 1u);  // the certificate object alone still holds one
    EXPECT_EQ(ProviderEntries()[0].subject, L"RSA Exch KWA #1");
    heldCert.reset();
    EXPECT_TRUE(ProviderEntries().empty());
    dev->RegisterCertificates();
    EXPECT_EQ(ProviderEntries().size(), 4u);
    dev.reset();
    EXPECT_TRUE(ProviderEntries().empty());
}

TEST_F(DeviceTest, LabelChangesAreStoredAndChangesByOthersAreSeenAtOnce) {
    auto dev = Open("KWP");
    std::string ansi = Ansi(u8"新标签 2026");
    ASSERT_EQ(dev->SetDevLabelFromES(ansi.data(), static_cast<ULONG>(ansi.size())), 0u);
    EXPECT_EQ(std::string(dev->label), ansi);
    softkey::Store store(softkey::Store::default_root());
    EXPECT_EQ(store.load("KWP").label, ansi);
    std::string tooLong(65, 'x');
    EXPECT_NE(dev->SetDevLabelFromES(tooLong.data(), 65), 0u);
    EXPECT_EQ(std::string(dev->label), ansi);  // unchanged after a refusal
    // Another program (the softkey tool) renames the key: the next read sees it.
    store.update("KWP", [](softkey::KeyRecord& r) { r.label = "Renamed"; });
    ASSERT_EQ(dev->GetDevLabelFromES(), 0u);
    EXPECT_STREQ(dev->label, "Renamed");
    store.update("KWP", [](softkey::KeyRecord& r) { r.label = "Key KWP"; });
}
