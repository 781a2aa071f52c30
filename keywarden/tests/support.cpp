#include "support.h"

#include <windows.h>
#include <wincrypt.h>
#include <dbt.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>

#include "items.h"
#include "keva_names.h"
#include "kit/platform.h"
#include "resource.h"
#include "softkey_store.h"

namespace kwtest {

void SetPresent(const std::string& serial, bool present) {
    softkey::Store store(softkey::Store::default_root());
    store.update(serial, [&](softkey::KeyRecord& r) { r.present = present; });
}

void PullAll() {
    softkey::Store store(softkey::Store::default_root());
    for (const std::string& s : store.serials())
        if (store.load(s).present) SetPresent(s, false);
}

std::string DeviceName(const std::string& serial, unsigned port) {
    return keva::device_name(serial, port);
}

std::vector<StoreEntry> ProviderEntries() {
    std::vector<StoreEntry> out;
    HCERTSTORE store =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"My");
    if (!store) return out;
    PCCERT_CONTEXT ctx = nullptr;
    while ((ctx = CertEnumCertificatesInStore(store, ctx)) != nullptr) {
        DWORD size = 0;
        if (!CertGetCertificateContextProperty(ctx, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size))
            continue;
        std::vector<BYTE> buf(size);
        if (!CertGetCertificateContextProperty(ctx, CERT_KEY_PROV_INFO_PROP_ID, buf.data(), &size))
            continue;
        auto* info = reinterpret_cast<CRYPT_KEY_PROV_INFO*>(buf.data());
        if (!info->pwszProvName || _wcsicmp(info->pwszProvName, kKeyProviderName) != 0) continue;
        StoreEntry e;
        wchar_t name[256] = {};
        CertGetNameStringW(ctx, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, 256);
        e.subject = name;
        e.container = info->pwszContainerName ? info->pwszContainerName : L"";
        e.provider = info->pwszProvName;
        e.keySpec = info->dwKeySpec;
        e.provType = info->dwProvType;
        out.push_back(e);
    }
    CertCloseStore(store, 0);
    return out;
}

std::vector<std::wstring> StoreSubjects() {
    std::vector<std::wstring> out;
    HCERTSTORE store =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"My");
    if (!store) return out;
    PCCERT_CONTEXT ctx = nullptr;
    while ((ctx = CertEnumCertificatesInStore(store, ctx)) != nullptr) {
        wchar_t name[256] = {};
        CertGetNameStringW(ctx, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, 256);
        out.emplace_back(name);
    }
    CertCloseStore(store, 0);
    return out;
}

bool StoreHasSubject(const std::wstring& subject) {
    auto all = StoreSubjects();
    return std::find(all.begin(), all.end(), subject) != all.end();
}

bool PumpPending(const Observer& observe) {
    bool any = false;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        any = true;
        if (observe) observe(msg);
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return any;
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs, const Observer& observe) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        PumpPending(observe);
        if (done()) return true;
        ULONGLONG now = GetTickCount64();
        if (now >= end) return false;
        MsgWaitForMultipleObjects(
            0, nullptr, FALSE, static_cast<DWORD>(std::min<ULONGLONG>(end - now, 20)), QS_ALLINPUT);
    }
}

void PumpFor(DWORD ms, const Observer& observe) {
    PumpUntil([] { return false; }, ms, observe);
}

LRESULT SendDeviceChange(HWND window, WPARAM event, const std::string& name) {
    std::wstring wide(name.begin(), name.end());
    size_t size =
        offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + (wide.size() + 1) * sizeof(wchar_t);
    std::vector<BYTE> buffer(size, 0);
    auto* rec = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(buffer.data());
    rec->dbcc_size = static_cast<DWORD>(size);
    rec->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    rec->dbcc_classguid = {
        0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
    memcpy(rec->dbcc_name, wide.c_str(), (wide.size() + 1) * sizeof(wchar_t));
    return SendMessageW(window, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(rec));
}

void PlugIn(HWND window, const std::string& serial, unsigned port) {
    SetPresent(serial, true);
    SendDeviceChange(window, DBT_DEVICEARRIVAL, DeviceName(serial, port));
}

void PullOut(HWND window, const std::string& serial, unsigned port) {
    SetPresent(serial, false);
    SendDeviceChange(window, DBT_DEVICEREMOVECOMPLETE, DeviceName(serial, port));
}

void PlugAndPull(HWND window, const std::string& serial, unsigned seed, int rounds, bool refreshes,
                 bool stays) {
    std::mt19937 rng(seed);
    for (int i = 0; i < rounds; ++i) {
        PlugIn(window, serial);
        if (rng() % 3 == 0) Sleep(rng() % 5);
        if (refreshes && rng() % 10 == 0) PostMessageW(window, WM_COMMAND, IDC_REFRESH, 0);
        PullOut(window, serial);
    }
    if (stays) PlugIn(window, serial);
}

std::string MakeTempDir(const char* tag) {
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    for (unsigned i = GetTickCount();; ++i) {
        std::string dir = std::string(base) + "kw-" + tag + "-" +
                          std::to_string(GetCurrentProcessId()) + "-" + std::to_string(i);
        if (CreateDirectoryA(dir.c_str(), nullptr)) return dir;
    }
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::stringstream ss(text);
    std::string line;
    while (std::getline(ss, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out.push_back(line);
    }
    return out;
}

std::vector<std::string> LogLines(const std::string& prefix) {
    std::vector<std::string> out;
    std::string dir = prefix.substr(0, prefix.find_last_of('\\'));
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((prefix + "_*.log").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return out;
    std::vector<std::string> files;
    do files.push_back(dir + "\\" + fd.cFileName);
    while (FindNextFileA(h, &fd));
    FindClose(h);
    std::sort(files.begin(), files.end());
    for (const auto& f : files)
        for (auto& l : Lines(ReadText(f))) out.push_back(std::move(l));
    return out;
}

std::string ProgramDir() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path);
    return s.substr(0, s.find_last_of('\\'));
}

std::string Ansi(const char* utf8) { return kit::from_utf8(utf8); }

bool Contains(const std::vector<std::string>& lines, const std::string& part) {
    return Count(lines, part) > 0;
}

int Count(const std::vector<std::string>& lines, const std::string& part) {
    int n = 0;
    for (const auto& l : lines)
        if (l.find(part) != std::string::npos) ++n;
    return n;
}

}  // namespace kwtest

// ---- the environment every test program of Keywarden's core runs in ------------------------

#ifndef KW_NO_TEST_ENVIRONMENT
#include <gtest/gtest.h>

#include "device_library.h"
#include "log.h"

namespace {

class CoreEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        std::string prefix = kwtest::MakeTempDir("env") + "\\KEVA_QMB4410_Client";
        LogInit(4, "CLIENT", prefix.c_str());
        ASSERT_EQ(BindDeviceLibrary(), 0u) << "the device library must load beside the test";
        SweepProviderCertificates();
        kwtest::PullAll();
    }
    void TearDown() override { UnbindDeviceLibrary(); }
};

const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new CoreEnvironment);

}  // namespace

#endif  // KW_NO_TEST_ENVIRONMENT
