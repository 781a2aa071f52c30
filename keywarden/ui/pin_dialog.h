// The PIN change: the full-screen host that dims the screen and shields the system's hot keys
// (CClockFullScreen), and the PIN dialog on it (CModifyPINDlg) with its three protected fields
// and the soft keyboard.
#pragma once

#include <windows.h>

#include "dialogs.h"
#include "main_dlg.h"
#include "safe_edit.h"
#include "soft_keyboard.h"

constexpr int IDD_MODIFYPIN = 207;
constexpr int IDD_FULLSCREEN = 217;
constexpr int IDC_PIN_HINT = 1009;
constexpr int IDC_OLD_PIN = 1010;
constexpr int IDC_NEW_PIN = 1011;
constexpr int IDC_NEW_PIN2 = 1012;
constexpr int IDC_SOFTKB_TOGGLE = 1014;
constexpr int IDC_OLD_PIN_LABEL = 1015;
constexpr int IDC_NEW_PIN_LABEL = 1016;
constexpr int IDC_NEW_PIN2_LABEL = 1017;
constexpr UINT UM_STARTPIN = 0x0511;
constexpr INT_PTR kPinChangedResult = 8;
constexpr size_t kMaxPinBytes = 32;
constexpr int kMinPinLength = 6;
constexpr int kPinFieldLimit = 16;

// String ids of the PIN change.
enum : int {
    IDS_PIN_WRONG = 226,
    IDS_PIN_HINT = 234,
    IDS_OLD_PIN = 235,
    IDS_NEW_PIN = 236,
    IDS_NEW_PIN2 = 237,
    IDS_PIN_CHANGED = 238,
    IDS_PIN_MISMATCH = 240,
    IDS_PIN_SAME = 241,
    IDS_PIN_INVALID = 242,
    IDS_SOFTKB_CAPTION = 243,
    IDS_PIN_TOO_SIMPLE = 244,
    IDS_PIN_FAILED = 245,
};

// Device status words of the PIN change.
constexpr ULONG kPinWrongBase = 0x800063C0;  // plus the tries left
constexpr ULONG kPinBlocked = 0x80006983;

class CModifyPINDlg : public CKeyDialog, public IPinFieldOwner {
  public:
    // dialogs shows the messages; balloons are posted to mainWindow.
    CModifyPINDlg(CDevObject* dev, IKeyDialogs* dialogs, HWND mainWindow);
    ~CModifyPINDlg() override;
    void RemoveDlg(const char* devName) override;
    void UpdateTexts() override;

    void SetTargetEdit(HWND edit) override { m_target = edit; }
    HWND TargetEdit() const override { return m_target; }
    CMySafeEdit& Field(int id);
    CSoftKBDlg& SoftKeyboard() { return m_keyboard; }
    // True when the dialog posted the locked balloon (the key blocked while it ran).
    bool ReportedLocked() const { return m_reportedLocked; }

  protected:
    void OnInit() override;
    bool OnCommand(int id) override;
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR* result) override;

  private:
    void UpdateOkButton();
    void OnOK();
    void ToggleSoftKeyboard();
    // Ends the dialog; the soft keyboard goes with it.
    void Finish(INT_PTR result);
    int Message(int stringId, ULONG argument, int kind);
    void ClearAndFocus(bool keepOld);
    void FocusField(int id);

    IKeyDialogs* m_dialogs;
    HWND m_main;
    HWND m_ok = nullptr;
    CMySafeEdit m_old, m_new, m_repeat;
    CSoftKBDlg m_keyboard;
    HWND m_target = nullptr;
    HBITMAP m_keyboardPicture = nullptr;
    HWND m_tooltip = nullptr;
    bool m_ended = false;
    bool m_reportedLocked = false;
};

class CClockFullScreen : public CKeyDialog {
  public:
    CClockFullScreen(CDevObject* dev, IKeyDialogs* dialogs, HWND mainWindow);
    ~CClockFullScreen() override;
    // Passed to the open PIN dialog; before it opens, the host itself ends for its key.
    void RemoveDlg(const char* devName) override;
    void UpdateTexts() override;

    // The PIN dialog ended with a changed PIN.
    bool PinChanged() const { return m_pinResult == kPinChangedResult; }
    bool ReportedLocked() const { return m_reportedLocked; }
    CModifyPINDlg* OpenPinDialog() const { return m_pinDlg; }
    bool Shielded() const { return m_shield != nullptr; }

  protected:
    void OnInit() override;
    bool OnCommand(int id) override;
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR* result) override;

  private:
    void OnStartPin();
    void Unshield();
    static DWORD WINAPI Starter(void* window);

    IKeyDialogs* m_dialogs;
    HWND m_main;
    HBRUSH m_brush = nullptr;
    HMODULE m_shield = nullptr;
    CModifyPINDlg* m_pinDlg = nullptr;
    INT_PTR m_pinResult = 0;
    bool m_reportedLocked = false;
    bool m_ending = false;
};
