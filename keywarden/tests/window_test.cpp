// The main window's device handling, driven through its real message path: device-interface
// notifications in, balloons and default-PIN prompts out, the list, the tree and the store.
#include <windows.h>
#include <dbt.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "items.h"
#include "log.h"
#include "main_window.h"
#include "support.h"

using namespace kwtest;

namespace {

class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        PullAll();
        SweepProviderCertificates();
        logPrefix_ = MakeTempDir("win") + "\\KEVA_QMB4410_Client";
        LogInit(4, "CLIENT", logPrefix_.c_str());
        ASSERT_TRUE(RegisterMainWindowClass(GetModuleHandleW(nullptr)));
    }
    void TearDown() override {
        Close();
        PullAll();
    }

    void Open() {
        dlg_ = new CMainDlg();
        ASSERT_NE(dlg_->Create(GetModuleHandleW(nullptr)), nullptr);
        WaitIdle();
    }
    void Close() {
        delete dlg_;
        dlg_ = nullptr;
    }

    Observer Recorder() {
        return [this](MSG& m) {
            if (!dlg_ || m.hwnd != dlg_->Handle()) return;
            if (m.message == UM_BALLOON) balloons_.push_back(static_cast<int>(m.wParam));
            if (m.message == UM_SHOWDEFPIN) {
                // Counted here; the prompt's modal dialog is the PIN suite's to drive.
                prompts_.push_back(reinterpret_cast<CDevObject*>(m.wParam));
                m.message = WM_NULL;
            }
        };
    }
    // Until no worker runs and nothing they posted waits in the queue.
    void WaitIdle() {
        do dlg_->Devices().WaitForWorkers();
        while (PumpPending(Recorder()));
    }
    void Insert(const std::string& serial, unsigned port = 1) {
        PlugIn(dlg_->Handle(), serial, port);
        WaitIdle();
    }
    void Pull(const std::string& serial, unsigned port = 1) {
        PullOut(dlg_->Handle(), serial, port);
        WaitIdle();
    }
    std::vector<std::string> Listed() {
        std::vector<std::string> out;
        for (const DevicePtr& d : dlg_->Devices().Snapshot()) out.emplace_back(d->serial);
        return out;
    }
    std::vector<CDevObject*> ListedObjects() {
        std::vector<CDevObject*> out;
        for (const DevicePtr& d : dlg_->Devices().Snapshot()) out.push_back(d.get());
        return out;
    }
    // Root items' data and the number of their children.
    std::vector<std::pair<LPARAM, int>> Tree() {
        std::vector<std::pair<LPARAM, int>> out;
        HWND tree = dlg_->Tree().Window();
        auto item = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
        while (item) {
            TVITEMW tv = {};
            tv.mask = TVIF_PARAM;
            tv.hItem = item;
            SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
            int children = 0;
            auto child = reinterpret_cast<HTREEITEM>(
                SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(item)));
            while (child) {
                ++children;
                child = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXT,
                                                                 reinterpret_cast<LPARAM>(child)));
            }
            out.emplace_back(tv.lParam, children);
            item = reinterpret_cast<HTREEITEM>(
                SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(item)));
        }
        return out;
    }
    int CountBalloons(int id) {
        return static_cast<int>(std::count(balloons_.begin(), balloons_.end(), id));
    }
    std::vector<std::string> Log() { return LogLines(logPrefix_); }

    CMainDlg* dlg_ = nullptr;
    std::string logPrefix_;
    std::vector<int> balloons_;
    std::vector<CDevObject*> prompts_;
};

// "succ" or "failed": what a system call that empties a cache answers here, asked the way the
// key's removal asks it (no arguments for SChannel's, header item 14 for WinINet's).
std::string SystemAnswer(const char* module, const char* function) {
    HMODULE m = LoadLibraryExA(module, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!m) return "<" + std::string(module) + " missing>";
    BOOL ok = FALSE;
    FARPROC fn = GetProcAddress(m, function);
    if (fn && std::string(function) == "SslEmptyCacheA") {
        ok = reinterpret_cast<BOOL(WINAPI*)(LPSTR, DWORD)>(reinterpret_cast<void*>(fn))(nullptr, 0);
    } else if (fn) {
        DWORD value = 0;
        ok = reinterpret_cast<BOOL(WINAPI*)(DWORD, LPDWORD)>(reinterpret_cast<void*>(fn))(14,
                                                                                          &value);
    }
    FreeLibrary(m);
    if (!fn) return "<" + std::string(function) + " missing>";
    return ok == TRUE ? "succ" : "failed";
}

std::set<std::wstring> ProviderSubjects() {
    std::set<std::wstring> s;
    for (const auto& e : ProviderEntries()) s.insert(e.subject);
    return s;
}

}  // namespace

TEST_F(WindowTest, WindowIsFoundByItsClassName) {
    Open();
    EXPECT_EQ(FindWindowW(L"KEVAClientClass", nullptr), dlg_->Handle());
    EXPECT_FALSE(IsWindowVisible(dlg_->Handle()));
    // No key at start: no balloon, and the tree says so.
    EXPECT_EQ(CountBalloons(IDS_UKEY_INSERTED), 0);
    auto tree = Tree();
    ASSERT_EQ(tree.size(), 1u);
    EXPECT_EQ(tree[0].first, 0);
}

// A restarted shell has forgotten the icon and announces "TaskbarCreated": the icon comes back
// as the tray holds it now (tip, callback message). A balloon asked for while it was gone is
// shown then; one shown before is not shown again.
TEST_F(WindowTest, ShellRestartAddsTheIconAgainWithOnlyAWaitingBalloon) {
    Open();
    CTrayIcon& tray = dlg_->Tray();
    NOTIFYICONDATAW icon = {};
    icon.cbSize = NOTIFYICONDATAW_V3_SIZE;
    icon.hWnd = dlg_->Handle();
    icon.uID = KEYWARDEN_TRAY_ICON_ID;
    // A change that changes nothing succeeds exactly while the shell knows the icon.
    auto iconExists = [&] { return Shell_NotifyIconW(NIM_MODIFY, &icon) != FALSE; };
    ASSERT_TRUE(iconExists());
    const UINT taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");

    ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &icon));
    tray.ShowStringBalloon(IDS_UKEY_INSERTED, 0, nullptr);
    SendMessageW(dlg_->Handle(), taskbarCreated, 0, 0);
    EXPECT_TRUE(iconExists());
    EXPECT_EQ(tray.Record().uFlags, static_cast<UINT>(NIF_INFO));  // the last call: the balloon

    ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &icon));
    tray.SetTooltip(L"tip set while the shell was away");
    SendMessageW(dlg_->Handle(), taskbarCreated, 0, 0);
    EXPECT_TRUE(iconExists());
    EXPECT_EQ(tray.Record().uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));
    EXPECT_EQ(std::wstring(tray.Record().szTip), L"tip set while the shell was away");
    EXPECT_EQ(tray.Record().uCallbackMessage, tray.Message());
}

TEST_F(WindowTest, InsertAndPullKeepStoreListAndTreeInStep) {
    Open();
    Insert("KWA");
    ASSERT_FALSE(balloons_.empty());
    EXPECT_EQ(balloons_.front(), IDS_UKEY_INSERTED);
    EXPECT_EQ(Listed(), std::vector<std::string>{"KWA"});
    // The four RSA certificates (their entries in detail: the certificate suite).
    EXPECT_EQ(ProviderSubjects(), (std::set<std::wstring>{L"RSA Exch KWA #1", L"RSA Sign KWA #1",
                                                          L"RSA Exch KWA #2", L"RSA Sign KWA #2"}));
    auto tree = Tree();
    ASSERT_EQ(tree.size(), 1u);
    EXPECT_EQ(reinterpret_cast<CItemObj*>(tree[0].first),
              static_cast<CItemObj*>(ListedObjects()[0]));
    EXPECT_EQ(tree[0].second, 6);  // every certificate, SM2 ones too
    // Factory PIN with tries left: one prompt, for this key.
    ASSERT_EQ(prompts_.size(), 1u);
    EXPECT_EQ(prompts_[0], ListedObjects()[0]);
    auto log = Log();
    EXPECT_TRUE(Contains(log, "Ukey Insert"));
    EXPECT_TRUE(Contains(log, Ansi(u8"设备序列号:KWA")));
    EXPECT_TRUE(Contains(log, Ansi(u8"设备默认PIN:是")));

    Pull("KWA");
    EXPECT_EQ(CountBalloons(IDS_UKEY_REMOVED), 1);
    EXPECT_TRUE(Listed().empty());
    EXPECT_TRUE(ProviderEntries().empty());
    tree = Tree();
    ASSERT_EQ(tree.size(), 1u);
    EXPECT_EQ(tree[0].first, 0);
    auto pulled = Log();
    pulled.erase(pulled.begin(), pulled.begin() + static_cast<std::ptrdiff_t>(log.size()));
    EXPECT_TRUE(Contains(pulled, "Ukey Remove"));
    // The removal empties the system's caches once each, and the log says what the system
    // answered: the test asks the same system calls (they only empty caches) for their answer.
    EXPECT_EQ(Count(pulled, "clear SSL Cache "), 1);
    EXPECT_EQ(Count(pulled, "clear URL Cache "), 1);
    EXPECT_TRUE(
        Contains(pulled, "clear SSL Cache " + SystemAnswer("SCHANNEL.DLL", "SslEmptyCacheA")));
    EXPECT_TRUE(Contains(
        pulled, "clear URL Cache " + SystemAnswer("wininet.DLL", "IncrementUrlCacheHeaderData")));
    EXPECT_EQ(prompts_.size(), 1u);
}

TEST_F(WindowTest, KeyThatCannotBeOpenedLeavesTheBalloonAndNothingElse) {
    Open();
    SendDeviceChange(dlg_->Handle(), DBT_DEVICEARRIVAL, DeviceName("KWB"));  // not plugged in
    WaitIdle();
    EXPECT_EQ(balloons_, std::vector<int>{IDS_UKEY_INSERTED});
    EXPECT_TRUE(Listed().empty());
    EXPECT_TRUE(Contains(Log(), Ansi(u8"打开设备失败[")));
}

TEST_F(WindowTest, ForeignInterfacesAndUnknownRemovalsStartNothing) {
    Open();
    SendDeviceChange(dlg_->Handle(), DBT_DEVICEARRIVAL,
                     "\\\\?\\USBSTOR#Disk&Ven_Generic#1#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}");
    SendDeviceChange(dlg_->Handle(), DBT_DEVICEREMOVECOMPLETE, DeviceName("KWB"));
    DEV_BROADCAST_HDR volume = {sizeof volume, DBT_DEVTYP_VOLUME, 0};
    SendMessageW(dlg_->Handle(), WM_DEVICECHANGE, DBT_DEVICEARRIVAL,
                 reinterpret_cast<LPARAM>(&volume));
    SendMessageW(dlg_->Handle(), WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0);
    WaitIdle();
    EXPECT_TRUE(balloons_.empty());
    EXPECT_FALSE(Contains(Log(), "Ukey Insert"));
    EXPECT_FALSE(Contains(Log(), "Ukey Remove"));
}

TEST_F(WindowTest, KeyBackUnderANewNameReplacesItsOldEntryAndKeepsItsCertificates) {
    Open();
    Insert("KWB", 1);
    auto certs = ProviderSubjects();
    ASSERT_EQ(certs.size(), 2u);
    SendDeviceChange(dlg_->Handle(), DBT_DEVICEARRIVAL,
                     DeviceName("KWB", 2));  // old removal not seen
    WaitIdle();
    auto objs = ListedObjects();
    ASSERT_EQ(objs.size(), 1u);
    EXPECT_STREQ(objs[0]->devName, DeviceName("KWB", 2).c_str());
    EXPECT_TRUE(Contains(Log(), Ansi(u8"设备SN检测到重复，删除之前设备")));
    EXPECT_EQ(ProviderSubjects(), certs);
    EXPECT_EQ(Tree().size(), 1u);
    // The stale name's removal no longer matches; the new one's does.
    SendDeviceChange(dlg_->Handle(), DBT_DEVICEREMOVECOMPLETE, DeviceName("KWB", 1));
    WaitIdle();
    EXPECT_EQ(Listed().size(), 1u);
    Pull("KWB", 2);
    EXPECT_TRUE(Listed().empty());
    EXPECT_TRUE(ProviderEntries().empty());
}

TEST_F(WindowTest, ChangedPinGetsNoPromptAndLockedPinGetsTheLockedBalloon) {
    Open();
    Insert("KWB");
    Insert("KWC");
    EXPECT_TRUE(prompts_.empty());
    EXPECT_EQ(CountBalloons(IDS_PIN_LOCKED), 1);
    EXPECT_EQ(Listed(), (std::vector<std::string>{"KWB", "KWC"}));
    // The first key's prompt is not raised again when another key arrives.
    Insert("KWA");
    EXPECT_EQ(prompts_.size(), 1u);
}

TEST_F(WindowTest, CertificatesNearTheirEndRaiseTheNoticeBalloon) {
    Open();
    Insert("KWE");
    EXPECT_EQ(CountBalloons(IDS_CERT_NOTICE_TITLE), 1);
    wchar_t notice[kCertNoticeSize];
    dlg_->CopyCertNotice(notice, kCertNoticeSize);
    wchar_t closing[128] = {};
    LoadStringW(GetModuleHandleW(nullptr), IDS_CERT_RENEW, closing, 128);
    EXPECT_NE(std::wstring(notice).find(closing), std::wstring::npos);
}

TEST_F(WindowTest, StartupReadsThePresentKeysWithOneBalloon) {
    SetPresent("KWA", true);
    SetPresent("KWB", true);
    Open();
    EXPECT_EQ(CountBalloons(IDS_UKEY_INSERTED), 1);
    EXPECT_EQ(Listed(), (std::vector<std::string>{"KWA", "KWB"}));
    EXPECT_EQ(ProviderEntries().size(), 6u);
    EXPECT_EQ(prompts_.size(), 1u);  // KWA only
    Close();
    EXPECT_TRUE(ProviderEntries().empty());  // the window's end releases every key
}

TEST_F(WindowTest, RefreshRebuildsTheListAndSilentRefreshIsMarked) {
    Open();
    Insert("KWB");
    SetPresent("KWS", true);  // arrived without a notification
    PostMessageW(dlg_->Handle(), WM_COMMAND, IDC_REFRESH, 0);
    WaitIdle();
    EXPECT_EQ(Listed(), (std::vector<std::string>{"KWB", "KWS"}));
    EXPECT_EQ(dlg_->SilentRescanFlag(), 0);
    EXPECT_EQ(ProviderEntries().size(), 3u);
    PostMessageW(dlg_->Handle(), WM_COMMAND, ID_SILENT_REFRESH, 0);
    WaitIdle();
    EXPECT_EQ(dlg_->SilentRescanFlag(), 1);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dlg_->Handle(), IDC_REFRESH)));
}

TEST_F(WindowTest, RefreshesRunOneAfterTheOther) {
    Open();
    SetPresent("KWB", true);
    SetPresent("KWS", true);
    for (int i = 0; i < 3; ++i) PostMessageW(dlg_->Handle(), WM_COMMAND, IDC_REFRESH, 0);
    WaitIdle();
    int starts = 0, depth = 0, deepest = 0;
    for (const auto& line : Log()) {
        if (line.find("] EnumDevInfoProc start...") != std::string::npos)
            ++starts, deepest = std::max(deepest, ++depth);
        if (line.find("] EnumDevInfoProc end...") != std::string::npos) --depth;
    }
    EXPECT_EQ(starts, 4);  // the start-up read and three refreshes
    EXPECT_EQ(deepest, 1);
    EXPECT_EQ(depth, 0);
    EXPECT_EQ(Listed(), (std::vector<std::string>{"KWB", "KWS"}));
    EXPECT_EQ(ProviderEntries().size(), 3u);
}

TEST_F(WindowTest, RemovalSeenWhileARescanIsQueuedIsAppliedAfterIt) {
    Open();
    SetPresent("KWB", true);  // the rescan will find it
    // Start the rescan, then stop serving the window: the rescan, once in line, needs the
    // window (its refresh button) before it lists anything, so it stays pending.
    PostMessageW(dlg_->Handle(), WM_COMMAND, IDC_REFRESH, 0);
    MSG msg;
    while (!PeekMessageW(&msg, dlg_->Handle(), WM_COMMAND, WM_COMMAND, PM_REMOVE)) Sleep(1);
    DispatchMessageW(&msg);
    const ULONGLONG until = GetTickCount64() + 10000;
    while (!dlg_->Devices().RescanPending() && GetTickCount64() < until) Sleep(1);
    ASSERT_TRUE(dlg_->Devices().RescanPending());
    // Not listed yet, but the rescan may list it: the removal must not be dropped.
    SendDeviceChange(dlg_->Handle(), DBT_DEVICEREMOVECOMPLETE, DeviceName("KWB"));
    EXPECT_TRUE(Contains(Log(), "Ukey Remove"));
    WaitIdle();
    EXPECT_TRUE(Listed().empty());
    EXPECT_TRUE(ProviderEntries().empty());
    EXPECT_TRUE(Contains(Log(), "Ukey Remove"));
    EXPECT_EQ(CountBalloons(IDS_UKEY_REMOVED), 1);
}

TEST_F(WindowTest, SoftkeyNotifyDeliversTheSystemNotificationFromAnotherProcess) {
    Open();
    SetPresent("KWB", true);
    std::string cmd = "\"" + ProgramDir() + "\\softkey-notify.exe\" arrival KWB";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(
        CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    ASSERT_TRUE(PumpUntil([&] { return WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0; },
                          30000, Recorder()));
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    EXPECT_EQ(code, 0u);
    WaitIdle();
    EXPECT_EQ(Listed(), std::vector<std::string>{"KWB"});
    EXPECT_EQ(ProviderEntries().size(), 2u);
}
