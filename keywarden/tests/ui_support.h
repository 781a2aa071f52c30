// Shared by the suites that drive Keywarden's window: answering its modal dialogs from a timer
// while they run, and the fixture that runs a main window against the software keys.
#pragma once

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
#include "main_window_fixture.h"
#include "resources.h"
#include "softkey_store.h"
#include "support.h"

namespace uitest {

using namespace kwtest;

// ---- answering modal dialogs ------------------------------------------------------------------

// A step acts on the top dialog of this thread once its condition holds for it. Steps run in
// order from a thread timer, which the dialogs' own message loops dispatch; a step may open a
// nested dialog, whose steps then run inside it.
struct Step {
    std::function<bool(HWND)> when;
    std::function<void(HWND)> act;
};
inline std::vector<Step> g_steps;
inline size_t g_next = 0;
inline HWND g_main = nullptr;
inline DWORD g_deadline = 0;

inline BOOL CALLBACK FirstDialog(HWND hwnd, LPARAM out) {
    wchar_t cls[32] = {};
    GetClassNameW(hwnd, cls, 32);
    if (hwnd != g_main && wcscmp(cls, L"#32770") == 0 && IsWindowVisible(hwnd) &&
        IsWindowEnabled(hwnd)) {
        *reinterpret_cast<HWND*>(out) = hwnd;
        return FALSE;
    }
    return TRUE;
}

inline HWND TopDialog() {
    HWND found = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FirstDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

// How long a dialog may stay up with no step answering it.
constexpr DWORD kUnansweredMs = 20000;

inline void CALLBACK StepTimer(HWND, UINT, UINT_PTR, DWORD) {
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
inline void ArmSteps(std::vector<Step> steps, DWORD timeoutMs = kUnansweredMs) {
    g_steps = std::move(steps);
    g_next = 0;
    g_deadline = GetTickCount() + timeoutMs;
}

inline bool Has(HWND dlg, int id) { return GetDlgItem(dlg, id) != nullptr; }
inline bool IsLabelDlg(HWND d) { return Has(d, IDC_LABEL_EDIT); }
inline bool IsTextDlg(HWND d) { return Has(d, IDC_TEXT); }
inline bool IsPinDlg(HWND d) { return Has(d, IDC_OLD_PIN); }
inline std::wstring Text(HWND w) {
    wchar_t buf[2048] = {};
    GetWindowTextW(w, buf, 2048);
    return buf;
}
inline std::wstring ItemText(HWND d, int id) { return Text(GetDlgItem(d, id)); }
inline void Click(HWND d, int id) { SendMessageW(d, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }
inline std::wstring Str(int id) { return UiText(id).c_str(); }

class UiTest : public MainWindowTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(OpenWindow("ui", 1));
        g_main = dlg_->Handle();
        g_steps.clear();
        g_next = 0;
        timer_ = SetTimer(nullptr, 0, 40, StepTimer);
        WaitIdle();
    }
    void TearDown() override {
        KillTimer(nullptr, timer_);
        g_main = nullptr;
        MainWindowTest::TearDown();
    }

    void Pull(const std::string& serial) { PullOut(dlg_->Handle(), serial); }
    void Command(int id) { SendMessageW(dlg_->Handle(), WM_COMMAND, MAKEWPARAM(id, 0), 0); }
    // Runs a command that opens dialogs; the steps answer them while they run.
    void RunCommandWithSteps(int id, std::vector<Step> steps) {
        ArmSteps(std::move(steps));
        Command(id);
        EXPECT_EQ(g_next, g_steps.size()) << "steps left: " << g_steps.size() - g_next;
    }

    HWND Tree() { return dlg_->Tree().Window(); }
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

    UINT_PTR timer_ = 0;
};

}  // namespace uitest
