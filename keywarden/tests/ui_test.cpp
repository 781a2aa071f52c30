// Keywarden's face driven through its real windows: the tree and its buttons, the tray icon's
// record, the menu, the small dialogs (answered from a timer while they run modally) and the
// language switch.
#include <windows.h>
#include <commctrl.h>
#include <dbt.h>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "dialogs.h"
#include "items.h"
#include "log.h"
#include "main_window.h"
#include "resources.h"
#include "softkey_store.h"
#include "support.h"

using namespace kwtest;

namespace {

// ---- answering modal dialogs ------------------------------------------------------------------

// A step acts on the top dialog of this thread once its condition holds for it. Steps run in
// order from a thread timer, which the dialogs' own message loops dispatch; a step may open a
// nested dialog, whose steps then run inside it.
struct Step {
    std::function<bool(HWND)> when;
    std::function<void(HWND)> act;
};
std::vector<Step> g_steps;
size_t g_next = 0;
HWND g_main = nullptr;
DWORD g_deadline = 0;

BOOL CALLBACK FirstDialog(HWND hwnd, LPARAM out) {
    wchar_t cls[32] = {};
    GetClassNameW(hwnd, cls, 32);
    if (hwnd != g_main && wcscmp(cls, L"#32770") == 0 && IsWindowVisible(hwnd) &&
        IsWindowEnabled(hwnd)) {
        *reinterpret_cast<HWND*>(out) = hwnd;
        return FALSE;
    }
    return TRUE;
}

HWND TopDialog() {
    HWND found = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FirstDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

// How long a dialog may stay up with no step answering it.
constexpr DWORD kUnansweredMs = 20000;

void CALLBACK StepTimer(HWND, UINT, UINT_PTR, DWORD) {
    static HWND s_waiting = nullptr;
    static DWORD s_since = 0;
    HWND dlg = TopDialog();
    if (dlg != s_waiting) {
        s_waiting = dlg;
        s_since = GetTickCount();
    }
    if (!dlg) return;
    if (g_next < g_steps.size() && g_steps[g_next].when(dlg)) {
        Step step = g_steps[g_next++];
        s_waiting = nullptr;
        step.act(dlg);
        return;
    }
    // A dialog that no step answers in time (or that no step expects at all, such as a prompt
    // the test did not foresee) is closed, so that the test fails instead of hanging.
    const DWORD now = GetTickCount();
    const bool stepsLate = g_next < g_steps.size() && now > g_deadline;
    if (stepsLate || now - s_since > kUnansweredMs) {
        ADD_FAILURE() << "no step answered the dialog in time";
        s_waiting = nullptr;
        EndDialog(dlg, 2);
    }
}

// Sets the steps that answer the dialogs to come, which must all have run within timeoutMs.
void ArmSteps(std::vector<Step> steps, DWORD timeoutMs = kUnansweredMs) {
    g_steps = std::move(steps);
    g_next = 0;
    g_deadline = GetTickCount() + timeoutMs;
}

bool Has(HWND dlg, int id) { return GetDlgItem(dlg, id) != nullptr; }
bool IsLabelDlg(HWND d) { return Has(d, IDC_LABEL_EDIT); }
bool IsTextDlg(HWND d) { return Has(d, IDC_TEXT); }
bool IsPinDlg(HWND d) { return Has(d, IDC_OLD_PIN); }
std::wstring Text(HWND w) {
    wchar_t buf[2048] = {};
    GetWindowTextW(w, buf, 2048);
    return buf;
}
std::wstring ItemText(HWND d, int id) { return Text(GetDlgItem(d, id)); }
void Click(HWND d, int id) { SendMessageW(d, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }
std::wstring Str(int id) { return UiText(id).c_str(); }

class UiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        PullAll();
        SweepProviderCertificates();
        LogInit(4, "CLIENT", (MakeTempDir("ui") + "\\KEVA_QMB4410_Client").c_str());
        ASSERT_TRUE(RegisterMainWindowClass(GetModuleHandleW(nullptr)));
        SetLanguageChoice(0);  // each test starts in the system's language
        ApplyLanguage(1);
        dlg_ = new CMainDlg();
        ASSERT_NE(dlg_->Create(GetModuleHandleW(nullptr)), nullptr);
        g_main = dlg_->Handle();
        g_steps.clear();
        g_next = 0;
        timer_ = SetTimer(nullptr, 0, 40, StepTimer);
        WaitIdle();
    }
    void TearDown() override {
        KillTimer(nullptr, timer_);
        delete dlg_;
        g_main = nullptr;
        PullAll();
    }

    void WaitIdle() {
        dlg_->Devices().WaitForWorkers();
        PumpFor(50);
    }
    void Insert(const std::string& serial) {
        PlugIn(dlg_->Handle(), serial);
        WaitIdle();
    }
    void Pull(const std::string& serial) { PullOut(dlg_->Handle(), serial); }
    void Command(int id) { SendMessageW(dlg_->Handle(), WM_COMMAND, MAKEWPARAM(id, 0), 0); }
    // Runs a command that opens dialogs; the steps answer them while they run.
    void RunCommandWithSteps(int id, std::vector<Step> steps) {
        ArmSteps(std::move(steps));
        Command(id);
        EXPECT_EQ(g_next, g_steps.size()) << "steps left: " << g_steps.size() - g_next;
    }

    HWND Tree() { return dlg_->TreeWindow(); }
    HTREEITEM Next(HTREEITEM from, UINT how) {
        return reinterpret_cast<HTREEITEM>(
            SendMessageW(Tree(), TVM_GETNEXTITEM, how, reinterpret_cast<LPARAM>(from)));
    }
    std::vector<HTREEITEM> Roots() {
        std::vector<HTREEITEM> out;
        for (HTREEITEM i = Next(nullptr, TVGN_ROOT); i; i = Next(i, TVGN_NEXT)) out.push_back(i);
        return out;
    }
    std::vector<HTREEITEM> Children(HTREEITEM item) {
        std::vector<HTREEITEM> out;
        for (HTREEITEM i = Next(item, TVGN_CHILD); i; i = Next(i, TVGN_NEXT)) out.push_back(i);
        return out;
    }
    TVITEMW Item(HTREEITEM item, wchar_t* text) {
        TVITEMW tv = {};
        tv.mask = TVIF_PARAM | TVIF_TEXT | TVIF_IMAGE | TVIF_STATE | TVIF_HANDLE;
        tv.hItem = item;
        tv.pszText = text;
        tv.cchTextMax = 260;
        tv.stateMask = TVIS_EXPANDED | TVIS_SELECTED;
        SendMessageW(Tree(), TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
        return tv;
    }
    std::wstring ItemLabel(HTREEITEM item) {
        wchar_t text[260] = {};
        Item(item, text);
        return text;
    }
    HTREEITEM Selected() { return Next(nullptr, TVGN_CARET); }
    bool Enabled(int id) { return IsWindowEnabled(GetDlgItem(dlg_->Handle(), id)) != FALSE; }
    DevicePtr Key(const std::string& serial) {
        for (const DevicePtr& d : dlg_->Devices().Snapshot())
            if (serial == d->serial) return d;
        return nullptr;
    }
    void Select(const DevicePtr& dev) {
        for (HTREEITEM i : Roots()) {
            wchar_t text[260];
            if (reinterpret_cast<CItemObj*>(Item(i, text).lParam) == dev.get())
                SendMessageW(Tree(), TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(i));
        }
    }

    // Double-clicks an item as the mouse does (the button press would start drag tracking).
    void DoubleClick(HTREEITEM item) {
        RECT r = {};
        memcpy(&r, &item, sizeof item);
        ASSERT_TRUE(SendMessageW(Tree(), TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&r)));
        SendMessageW(Tree(), WM_LBUTTONDBLCLK, MK_LBUTTON,
                     MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2));
    }
    // Subjects of the key provider's certificates in the personal store.
    static std::set<std::wstring> Registered() {
        std::set<std::wstring> out;
        for (const auto& e : ProviderEntries()) out.insert(e.subject);
        return out;
    }
    static bool HasCertificatesOf(const std::wstring& serial) {
        for (const auto& s : Registered())
            if (s.size() > serial.size() + 2 && s.find(L" " + serial + L" #") != std::wstring::npos)
                return true;
        return false;
    }

    CMainDlg* dlg_ = nullptr;
    UINT_PTR timer_ = 0;
};

}  // namespace

TEST_F(UiTest, NoDeviceIsSelectedAndTheItemButtonsAreOff) {
    auto roots = Roots();
    ASSERT_EQ(roots.size(), 1u);
    wchar_t text[260] = {};
    TVITEMW tv = Item(roots[0], text);
    EXPECT_EQ(std::wstring(text), Str(211));
    EXPECT_EQ(tv.lParam, 0);
    EXPECT_EQ(Selected(), roots[0]);
    EXPECT_FALSE(Enabled(IDC_MODIFY_PIN));
    EXPECT_FALSE(Enabled(IDC_MODIFY_LABEL));
    EXPECT_FALSE(Enabled(IDC_VIEW_CERT));
    EXPECT_TRUE(Enabled(IDC_VIEW_DEVINFO));
    EXPECT_TRUE(Enabled(IDC_REFRESH));
    // Hidden at start, with the tooltip of the caption string.
    EXPECT_FALSE(IsWindowVisible(dlg_->Handle()));
    EXPECT_EQ(std::wstring(dlg_->Tray().Record().szTip), Str(202));
    EXPECT_EQ(dlg_->Tray().Record().uID, 205u);
}

TEST_F(UiTest, UnformattedKeyTurnsItsButtonsOff) {
    Command(ID_LANG_EN);
    // The key still has its factory PIN: its prompt comes on insert and is declined.
    std::wstring prompt;
    ArmSteps({{IsTextDlg, [&](HWND d) {
                   prompt = ItemText(d, IDC_TEXT);
                   Click(d, IDCANCEL);
               }}});
    Insert("UU");
    PumpUntil([] { return g_next == g_steps.size(); }, 20000);
    EXPECT_EQ(prompt, Str(IDS_DEFAULT_PIN_PROMPT));
    auto roots = Roots();
    ASSERT_EQ(roots.size(), 1u);
    EXPECT_EQ(ItemLabel(roots[0]), L"Unformatted Device");
    EXPECT_EQ(Selected(), roots[0]);
    EXPECT_FALSE(Enabled(IDC_MODIFY_PIN));
    EXPECT_FALSE(Enabled(IDC_MODIFY_LABEL));
    EXPECT_FALSE(Enabled(IDC_VIEW_CERT));
}

TEST_F(UiTest, KeyWithTwoContainersShowsFourCertificatesInOrderAndDoubleClickKeepsItOpen) {
    Insert("UA");
    auto roots = Roots();
    ASSERT_EQ(roots.size(), 1u);
    DevicePtr key = Key("UA");
    ASSERT_NE(key, nullptr);
    std::vector<CCertObject*> expected;
    for (const auto& c : key->containers)
        if (c)
            for (const CertPtr& cert : {c->exchangeCert, c->signatureCert})
                if (cert) expected.push_back(cert.get());
    ASSERT_EQ(expected.size(), 4u);
    auto certs = Children(roots[0]);
    ASSERT_EQ(certs.size(), 4u);
    for (size_t i = 0; i < certs.size(); ++i) {
        wchar_t text[260] = {};
        TVITEMW tv = Item(certs[i], text);
        EXPECT_EQ(reinterpret_cast<CItemObj*>(tv.lParam), static_cast<CItemObj*>(expected[i])) << i;
        EXPECT_EQ(std::wstring(text), std::wstring(expected[i]->subjectName));
        EXPECT_EQ(tv.iImage, 1);
    }
    wchar_t text[260];
    EXPECT_EQ(Item(roots[0], text).iImage, 0);
    EXPECT_TRUE(Item(roots[0], text).state & TVIS_EXPANDED);
    EXPECT_TRUE(Enabled(IDC_MODIFY_PIN));
    EXPECT_TRUE(Enabled(IDC_MODIFY_LABEL));
    EXPECT_FALSE(Enabled(IDC_VIEW_CERT));

    // A real double click on the key's item.
    RECT r = {};
    memcpy(&r, &roots[0], sizeof roots[0]);
    ASSERT_TRUE(SendMessageW(Tree(), TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&r)));
    LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    // (A button press would start the tree's drag tracking, which waits for the real mouse.)
    SendMessageW(Tree(), WM_LBUTTONDBLCLK, MK_LBUTTON, at);
    PumpFor(100);
    EXPECT_TRUE(Item(roots[0], text).state & TVIS_EXPANDED);

    // Selecting a certificate turns View Cert on and the key buttons off.
    SendMessageW(Tree(), TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(certs[1]));
    EXPECT_TRUE(Enabled(IDC_VIEW_CERT));
    EXPECT_FALSE(Enabled(IDC_MODIFY_PIN));
    EXPECT_FALSE(Enabled(IDC_MODIFY_LABEL));
}

TEST_F(UiTest, LanguageSwitchRenewsWindowTrayTreeAndOpenDialog) {
    Command(ID_LANG_ZH_CN);
    HWND main = dlg_->Handle();
    EXPECT_EQ(Text(main), L"KEVAUKey\u7528\u6237\u7BA1\u7406\u5DE5\u5177");
    RunCommandWithSteps(IDC_VIEW_DEVINFO,
                        {{IsTextDlg, [&](HWND d) {
                              EXPECT_EQ(Text(d), L"KEVAUKey\u7528\u6237\u7BA1\u7406\u5DE5\u5177");
                              EXPECT_EQ(ItemText(d, IDC_TEXT),
                                        L"\u8F6F\u4EF6\u7248\u672C\uFF1A1.1.8.45");
                              Command(ID_LANG_EN);
                              // Renewed at once, the dialog still open.
                              EXPECT_TRUE(IsWindow(d));
                              EXPECT_EQ(Text(d), L"KEVA UKey Tools");
                              EXPECT_EQ(ItemText(d, IDC_TEXT), L"Version: 1.1.8.45");
                              EXPECT_EQ(ItemText(d, IDOK), L"OK");
                              Click(d, IDOK);
                          }}});
    EXPECT_EQ(Text(main), L"KEVA UKey Tools");
    EXPECT_EQ(ItemText(main, IDC_MODIFY_PIN), L"Change UKey PIN");
    EXPECT_EQ(ItemText(main, IDC_MODIFY_LABEL), L"Change Label");
    EXPECT_EQ(ItemText(main, IDC_VIEW_CERT), L"View Cert");
    EXPECT_EQ(ItemText(main, IDC_VIEW_DEVINFO), L"View Version Info");
    EXPECT_EQ(ItemText(main, IDC_REFRESH), L"Refresh");
    EXPECT_EQ(ItemText(main, IDOK), L"Close");
    EXPECT_EQ(ItemText(main, IDC_CERT_GROUP), L"Cert");
    EXPECT_EQ(std::wstring(dlg_->Tray().Record().szTip), L"KEVA UKey Tools");
    ASSERT_EQ(Roots().size(), 1u);
    EXPECT_EQ(ItemLabel(Roots()[0]), L"No Device");

    Command(ID_LANG_ZH_TW);
    EXPECT_EQ(ItemText(main, IDC_REFRESH), L"\u5237  \u65B0");
    EXPECT_EQ(ItemLabel(Roots()[0]), L"\u6C92\u6709\u8A2D\u5099");
    // The menu: "Open" in bold, the fixed language names, texts of the current language.
    HMENU popup = nullptr;
    HMENU menu = dlg_->BuildTrayMenu(&popup);
    ASSERT_NE(menu, nullptr);
    wchar_t item[64] = {};
    GetMenuStringW(popup, 2, item, 64, MF_BYPOSITION);
    EXPECT_EQ(std::wstring(item), L"\u8A9E  \u8A00");
    EXPECT_EQ(GetMenuDefaultItem(popup, TRUE, 0), 0u);
    EXPECT_EQ(GetMenuItemID(popup, 0), static_cast<UINT>(ID_TRAY_OPEN));
    EXPECT_EQ(GetMenuItemID(popup, 4), static_cast<UINT>(ID_TRAY_EXIT));
    HMENU langs = GetSubMenu(popup, 2);
    const wchar_t* names[] = {L"\u7B80\u4F53\u4E2D\u6587", L"\u7E41\u9AD4\u4E2D\u6587", L"EngLish"};
    for (int i = 0; i < 3; ++i) {
        GetMenuStringW(langs, i, item, 64, MF_BYPOSITION);
        EXPECT_EQ(std::wstring(item), names[i]);
        EXPECT_EQ(GetMenuItemID(langs, i), static_cast<UINT>(ID_LANG_ZH_CN + i));
    }
    DestroyMenu(menu);
}

TEST_F(UiTest, EmptyLabelIsRefusedAndThirtyChineseCharactersTakeSixtyBytes) {
    Command(ID_LANG_EN);
    Insert("UB");
    std::wstring label;
    for (int i = 0; i < 30; ++i) label += static_cast<wchar_t>(0x4E00 + i * 7);
    bool refused = false;
    RunCommandWithSteps(IDC_MODIFY_LABEL,
                        {{IsLabelDlg,
                          [&](HWND d) {
                              EXPECT_EQ(Text(d), L"Please Input New Label");
                              EXPECT_EQ(ItemText(d, IDC_LABEL_EDIT), L"Key UB");
                              SetDlgItemTextW(d, IDC_LABEL_EDIT, L"");
                              Click(d, IDOK);            // the message below runs inside
                              EXPECT_TRUE(IsWindow(d));  // still open
                          }},
                         {IsTextDlg,
                          [&](HWND d) {
                              refused = ItemText(d, IDC_TEXT) == L"The label can not be empty.";
                              EXPECT_FALSE(IsWindowVisible(GetDlgItem(d, IDCANCEL)));
                              Click(d, IDOK);
                          }},
                         {IsLabelDlg, [&](HWND d) {
                              // The edit takes no more than 30 characters.
                              SetDlgItemTextW(d, IDC_LABEL_EDIT, L"");
                              SendDlgItemMessageW(
                                  d, IDC_LABEL_EDIT, EM_REPLACESEL, FALSE,
                                  reinterpret_cast<LPARAM>((label + L"XYZ").c_str()));
                              EXPECT_EQ(ItemText(d, IDC_LABEL_EDIT), label);
                              Click(d, IDOK);
                          }}});
    EXPECT_TRUE(refused);
    softkey::Store store(softkey::Store::default_root());
    std::string stored = store.load("UB").label;
    EXPECT_EQ(stored.size(), 60u);
    char gbk[128] = {};
    WideCharToMultiByte(936, 0, label.c_str(), -1, gbk, sizeof gbk, nullptr, nullptr);
    EXPECT_EQ(stored, std::string(gbk));
    ASSERT_EQ(Roots().size(), 1u);
    EXPECT_EQ(ItemLabel(Roots()[0]), label);
    PumpFor(100);
    EXPECT_EQ(std::wstring(dlg_->Tray().Record().szInfo), L"Change label successfully");
    // The next rebuild shows the same label.
    Command(ID_LANG_EN);
    EXPECT_EQ(ItemLabel(Roots()[0]), label);
}

TEST_F(UiTest, PullingAKeyClosesItsDialogsAndNotAnotherKeys) {
    Insert("UB");
    Insert("UA");
    DevicePtr ua = Key("UA");
    DevicePtr ub = Key("UB");
    ASSERT_TRUE(ua && ub);
    // The version dialog of UA stays while UB goes, and ends when UA goes.
    Select(ua);
    HWND version = nullptr;
    DWORD pulledOther = 0;
    RunCommandWithSteps(
        IDC_VIEW_DEVINFO,
        {{IsTextDlg,
          [&](HWND d) {
              version = d;
              EXPECT_NE(ItemText(d, IDC_TEXT).find(L"UA"), std::wstring::npos);
              Pull("UB");
              pulledOther = GetTickCount();
          }},
         {[&](HWND d) { return d == version && GetTickCount() - pulledOther > 800; },
          [&](HWND) { Pull("UA"); }}});
    EXPECT_FALSE(IsWindow(version));
    WaitIdle();
    EXPECT_TRUE(dlg_->Devices().Snapshot().empty());

    // The label and message dialogs of a key end when it goes.
    Insert("UA");
    ua = Key("UA");
    Select(ua);
    RunCommandWithSteps(IDC_MODIFY_LABEL, {{IsLabelDlg, [&](HWND) { Pull("UA"); }}});
    WaitIdle();
    EXPECT_TRUE(dlg_->Devices().Snapshot().empty());
    softkey::Store store(softkey::Store::default_root());
    EXPECT_EQ(store.load("UA").label, "Key UA");

    Insert("UA");
    Insert("UB");
    ua = Key("UA");
    ArmSteps({{IsTextDlg, [&](HWND) { Pull("UB"); }}, {IsTextDlg, [&](HWND d) {
                                                           EXPECT_EQ(ItemText(d, IDC_TEXT),
                                                                     Str(239));
                                                           Pull("UA");
                                                       }}});
    EXPECT_EQ(dlg_->ShowMessage(dlg_->Handle(), ua, 239, 0, 0), 2);
    EXPECT_EQ(g_next, 2u);
    WaitIdle();
    EXPECT_TRUE(dlg_->Devices().Snapshot().empty());
}

TEST_F(UiTest, VersionDialogOfAKeyShowsItsSerialAndFirmware) {
    Command(ID_LANG_EN);
    Insert("UA");
    DevicePtr ua = Key("UA");
    wchar_t text[2048];
    CVersionDlg::BuildText(ua.get(), text, 2048);
    wchar_t cos[64];
    ASSERT_EQ(ua->GetCosVersionW(cos, 64), 0u);
    EXPECT_EQ(std::wstring(text),
              L"Device ID: UA\r\nCOS Version: " + std::wstring(cos) + L"\r\nVersion: 1.1.8.45");
    CVersionDlg::BuildText(nullptr, text, 2048);
    EXPECT_EQ(std::wstring(text), L"Version: 1.1.8.45");
    // From a certificate item: the certificate's key.
    auto certs = Children(Roots()[0]);
    ASSERT_FALSE(certs.empty());
    SendMessageW(Tree(), TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(certs[0]));
    RunCommandWithSteps(IDC_VIEW_DEVINFO,
                        {{IsTextDlg, [&](HWND d) {
                              EXPECT_EQ(ItemText(d, IDC_TEXT).rfind(L"Device ID: UA", 0), 0u);
                              Click(d, IDOK);
                          }}});
}

TEST_F(UiTest, BalloonsShowTheirStringAndTheCertificateNotice) {
    Command(ID_LANG_EN);
    SendMessageW(dlg_->Handle(), UM_BALLOON, 219, 0);
    EXPECT_EQ(std::wstring(dlg_->Tray().Record().szInfo), L"UKey inserted");
    EXPECT_EQ(dlg_->Tray().Record().uFlags, static_cast<UINT>(NIF_INFO));
    EXPECT_EQ(dlg_->Tray().Record().dwInfoFlags, static_cast<DWORD>(NIIF_INFO));
    // "%" sequences stay as they are with argument 0.
    SendMessageW(dlg_->Handle(), UM_BALLOON, 247, 0);
    EXPECT_EQ(std::wstring(dlg_->Tray().Record().szInfo), L"Update Device Info Failed[%#x]");
    SendMessageW(dlg_->Handle(), UM_BALLOON, 247, 0x1F);
    EXPECT_EQ(std::wstring(dlg_->Tray().Record().szInfo), L"Update Device Info Failed[0x1f]");

    // A key whose certificate ends in ten days: its notice is the balloon's text.
    Command(ID_LANG_ZH_CN);
    Insert("UE");
    PumpFor(200);
    std::wstring info = dlg_->Tray().Record().szInfo;
    EXPECT_EQ(std::wstring(dlg_->Tray().Record().szInfoTitle), L"\u8BC1\u4E66\u6D88\u606F");
    EXPECT_NE(info.find(L"\u8DDD\u79BB\u5230\u671F"), std::wstring::npos) << info.size();
    EXPECT_NE(info.find(Str(253)), std::wstring::npos);
    // Re-reading the key for a button (in another language) leaves the collected notice alone.
    Command(ID_LANG_EN);
    Select(Key("UE"));
    RunCommandWithSteps(IDC_VIEW_DEVINFO, {{IsTextDlg, [](HWND d) { Click(d, IDOK); }}});
    SendMessageW(dlg_->Handle(), UM_BALLOON, IDS_CERT_NOTICE_TITLE, 0);
    EXPECT_EQ(std::wstring(dlg_->Tray().Record().szInfo), info);
}

TEST_F(UiTest, QuestionShowsTwoButtonsOnOneRowAndItsWholeText) {
    Command(ID_LANG_EN);
    bool checked = false;
    ArmSteps({{IsTextDlg, [&](HWND d) {
                   RECT ok, cancel, text;
                   GetWindowRect(GetDlgItem(d, IDOK), &ok);
                   GetWindowRect(GetDlgItem(d, IDCANCEL), &cancel);
                   GetWindowRect(GetDlgItem(d, IDC_TEXT), &text);
                   EXPECT_TRUE(IsWindowVisible(GetDlgItem(d, IDCANCEL)));
                   EXPECT_EQ(ok.top, cancel.top);
                   EXPECT_LE(ok.right, cancel.left);
                   EXPECT_GE(ok.top, text.bottom);
                   EXPECT_EQ(ItemText(d, IDCANCEL), L"Cancel");
                   // The whole prompt fits in its control.
                   HWND label = GetDlgItem(d, IDC_TEXT);
                   RECT need = {0, 0, text.right - text.left, 0};
                   HDC dc = GetDC(label);
                   HGDIOBJ old = SelectObject(
                       dc, reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0)));
                   DrawTextW(dc, Str(228).c_str(), -1, &need,
                             DT_CALCRECT | DT_WORDBREAK | DT_EDITCONTROL);
                   SelectObject(dc, old);
                   ReleaseDC(label, dc);
                   EXPECT_LE(need.bottom - need.top, text.bottom - text.top);
                   checked = true;
                   Click(d, IDCANCEL);
               }}});
    EXPECT_EQ(dlg_->ShowMessage(dlg_->Handle(), nullptr, 228, 0, 4), 2);
    EXPECT_TRUE(checked);
}

TEST_F(UiTest, EscapeEnterAndTheCloseBoxOnlyHide) {
    Command(ID_TRAY_OPEN);
    EXPECT_TRUE(IsWindowVisible(dlg_->Handle()));
    SendMessageW(dlg_->Handle(), WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindowVisible(dlg_->Handle()));
    SendMessageW(dlg_->Handle(), dlg_->Tray().Message(), 205, WM_LBUTTONDBLCLK);
    EXPECT_TRUE(IsWindowVisible(dlg_->Handle()));
    Command(IDOK);
    EXPECT_FALSE(IsWindowVisible(dlg_->Handle()));
    // Another icon's notification does nothing.
    SendMessageW(dlg_->Handle(), dlg_->Tray().Message(), 7, WM_LBUTTONDBLCLK);
    EXPECT_FALSE(IsWindowVisible(dlg_->Handle()));
    EXPECT_TRUE(IsWindow(dlg_->Handle()));
}

TEST(NoticeBalloon, KeepsWholeLinesAndAlwaysTheClosingSentence) {
    wchar_t out[32];
    FitNoticeToBalloon(L"line one\nline two\nplease renew", out, 32);
    EXPECT_STREQ(out, L"line one\nline two\nplease renew");
    // 30 characters and the terminator: the second line does not fit whole.
    FitNoticeToBalloon(L"0123456789\nabcdefghijkl\nplease renew", out, 32);
    EXPECT_STREQ(out, L"0123456789\nplease renew");
    FitNoticeToBalloon(L"0123456789abcdefghijklmnopq\nplease renew", out, 32);
    EXPECT_STREQ(out, L"please renew");
    FitNoticeToBalloon(L"a\n0123456789012345678901234567890123456789", out, 32);
    EXPECT_EQ(wcslen(out), 31u);
    FitNoticeToBalloon(nullptr, out, 32);
    EXPECT_STREQ(out, L"");
}

// ---- a key's objects, the list and the open dialogs ------------------------------------------

// The certificate viewer is a property sheet: neither a text, a label nor a PIN dialog.
bool IsViewer(HWND d) { return !IsTextDlg(d) && !IsLabelDlg(d) && !IsPinDlg(d); }

TEST_F(UiTest, ReReadingButtonsLeaveTheCertificateItemsWorking) {
    Command(ID_LANG_EN);
    Insert("UA");
    const std::set<std::wstring> uaCertificates = Registered();
    ASSERT_EQ(uaCertificates.size(), 4u);
    // Each button that re-reads the key, then the certificate item's button and double-click.
    const std::vector<std::pair<int, std::vector<Step>>> rereads = {
        {IDC_MODIFY_PIN, {{IsPinDlg, [](HWND d) { Click(d, IDCANCEL); }}}},
        {IDC_MODIFY_LABEL, {{IsLabelDlg, [](HWND d) { Click(d, IDCANCEL); }}}},
        {IDC_VIEW_DEVINFO, {{IsTextDlg, [](HWND d) { Click(d, IDOK); }}}},
    };
    for (const auto& reread : rereads) {
        SCOPED_TRACE(reread.first);
        ASSERT_EQ(Roots().size(), 1u);
        Select(Key("UA"));
        RunCommandWithSteps(reread.first, reread.second);
        // The tree shows the key's objects as they are now, and the key stays selected.
        auto roots = Roots();
        ASSERT_EQ(roots.size(), 1u);
        EXPECT_EQ(Selected(), roots[0]);
        EXPECT_TRUE(Enabled(IDC_MODIFY_PIN));
        EXPECT_FALSE(Enabled(IDC_VIEW_CERT));
        auto certs = Children(roots[0]);
        ASSERT_EQ(certs.size(), 4u);
        EXPECT_EQ(Registered(), uaCertificates);

        SendMessageW(Tree(), TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(certs[1]));
        EXPECT_TRUE(Enabled(IDC_VIEW_CERT));
        EXPECT_FALSE(Enabled(IDC_MODIFY_PIN));
        EXPECT_FALSE(Enabled(IDC_MODIFY_LABEL));
        int viewers = 0;
        auto closeViewer = [&](HWND d) {
            ++viewers;
            PostMessageW(d, WM_CLOSE, 0, 0);
        };
        RunCommandWithSteps(IDC_VIEW_CERT, {{IsViewer, closeViewer}});
        ArmSteps({{IsViewer, closeViewer}});
        DoubleClick(certs[1]);
        EXPECT_EQ(g_next, 1u);
        EXPECT_EQ(viewers, 2);
        EXPECT_EQ(Selected(), certs[1]);
        EXPECT_TRUE(Enabled(IDC_VIEW_CERT));
        EXPECT_FALSE(Enabled(IDC_MODIFY_LABEL));
    }
    Pull("UA");
    WaitIdle();
    EXPECT_TRUE(Registered().empty());
}

TEST_F(UiTest, PullWhileAnotherKeysDialogIsOpenTakesItsCertificatesAtOnce) {
    Insert("UB");
    Insert("UA");
    ASSERT_TRUE(HasCertificatesOf(L"UB"));
    Select(Key("UA"));
    HWND version = nullptr;
    DWORD pulled = 0, gone = 0;
    RunCommandWithSteps(IDC_VIEW_DEVINFO,
                        {{IsTextDlg,
                          [&](HWND d) {
                              version = d;
                              Pull("UB");
                              pulled = GetTickCount();
                          }},
                         // The worker takes the certificates out of the store, then rebuilds the
                         // tree: between the two this thread may look (it did, 1 run in 6 on a
                         // loaded machine), so both are awaited.
                         {[&](HWND d) {
                              return d == version &&
                                     ((!HasCertificatesOf(L"UB") && Roots().size() == 1) ||
                                      GetTickCount() - pulled > 3000);
                          },
                          [&](HWND d) {
                              gone = GetTickCount() - pulled;
                              EXPECT_TRUE(IsWindowVisible(d));  // UA's dialog stays
                              EXPECT_EQ(Roots().size(), 1u);    // UB has left the tree as well
                              EXPECT_TRUE(HasCertificatesOf(L"UA"));
                              Click(d, IDOK);
                          }}});
    EXPECT_LT(gone, 1000u) << "UB's certificates stayed " << gone << " ms";
    WaitIdle();

    // Pulling the key whose dialog is open closes it, and its certificates go as quickly
    // (watched from another thread: this one is busy with the dialog).
    Select(Key("UA"));
    std::thread watch;
    std::atomic<DWORD> emptyAfter{~0u};
    RunCommandWithSteps(IDC_VIEW_DEVINFO, {{IsTextDlg, [&](HWND) {
                                                Pull("UA");
                                                watch = std::thread([&, start = GetTickCount()] {
                                                    while (GetTickCount() - start < 5000) {
                                                        if (Registered().empty()) {
                                                            emptyAfter = GetTickCount() - start;
                                                            return;
                                                        }
                                                        Sleep(10);
                                                    }
                                                });
                                            }}});
    WaitIdle();
    watch.join();
    EXPECT_LT(emptyAfter.load(), 1000u);
    EXPECT_TRUE(dlg_->Devices().Snapshot().empty());
}

TEST_F(UiTest, InsertWhileADialogIsOpenRegistersAtOnce) {
    Insert("UA");
    Select(Key("UA"));
    DWORD inserted = 0, seen = 0;
    RunCommandWithSteps(IDC_MODIFY_LABEL,
                        {{IsLabelDlg,
                          [&](HWND) {
                              PlugIn(dlg_->Handle(), "UB");
                              inserted = GetTickCount();
                          }},
                         {[&](HWND d) {
                              return IsLabelDlg(d) &&
                                     (HasCertificatesOf(L"UB") || GetTickCount() - inserted > 3000);
                          },
                          [&](HWND d) {
                              seen = GetTickCount() - inserted;
                              EXPECT_EQ(Roots().size(), 2u);
                              Click(d, IDCANCEL);
                          }}});
    EXPECT_LT(seen, 1000u) << "UB's certificates came after " << seen << " ms";
    WaitIdle();
    EXPECT_EQ(dlg_->Devices().Snapshot().size(), 2u);
}

TEST_F(UiTest, StormOfInsertsPullsAndRefreshesWhileADialogIsOpen) {
    Insert("UB");
    Select(Key("UB"));
    const char* keys[] = {"KS1", "KS2", "KS3", "KS4"};
    std::atomic<int> finished{0};
    std::vector<std::thread> threads;
    HWND hwnd = dlg_->Handle();
    HWND version = nullptr;
    bool checked = false;
    auto storm = [&](HWND d) {
        version = d;
        for (int k = 0; k < 4; ++k) {
            threads.emplace_back([&, k] {
                // 4 keys x 50 = 200 inserts and 200 pulls; KS1 and KS3 stay plugged in.
                PlugAndPull(hwnd, keys[k], 4321 + k, 50, true, k % 2 == 0);
                ++finished;
            });
        }
    };
    ArmSteps({{IsTextDlg, storm},
              {[&](HWND d) { return d == version && finished.load() == 4; },
               [&](HWND d) {
                   // Everything settles while the dialog stays open.
                   dlg_->Devices().WaitForWorkers();
                   std::set<std::string> listed;
                   for (const DevicePtr& k : dlg_->Devices().Snapshot()) listed.insert(k->serial);
                   EXPECT_EQ(listed, (std::set<std::string>{"UB", "KS1", "KS3"}));
                   EXPECT_EQ(Registered(),
                             (std::set<std::wstring>{L"RSA Exch UB #1", L"RSA Sign UB #1",
                                                     L"RSA Exch KS1 #1", L"RSA Sign KS1 #1",
                                                     L"RSA Exch KS3 #1", L"RSA Sign KS3 #1"}));
                   EXPECT_EQ(Roots().size(), 3u);
                   EXPECT_TRUE(IsWindowVisible(d));
                   checked = true;
                   Click(d, IDOK);
               }}},
             120000);
    Command(IDC_VIEW_DEVINFO);
    for (auto& t : threads) t.join();
    EXPECT_TRUE(checked);
    WaitIdle();
    Pull("KS1");
    Pull("KS3");
    Pull("UB");
    WaitIdle();
    EXPECT_TRUE(Registered().empty());
}
