// The PIN change: the full-screen host that dims the screen and shields the system's hot keys
// (CClockFullScreen), and the PIN dialog on it (CModifyPINDlg) with its three protected fields
// and the soft keyboard.
#pragma once

#include <windows.h>

#include "dialogs.h"
#include "key_dialogs.h"
#include "kit/platform.h"
#include "resource.h"
#include "safe_edit.h"
#include "soft_keyboard.h"

constexpr UINT UM_STARTPIN = 0x0511;
constexpr INT_PTR kPinChangedResult = 8;
constexpr size_t kMaxPinBytes = 32;
constexpr int kMinPinLength = 6;
constexpr int kPinFieldLimit = 16;

class CModifyPINDlg : public CKeyDialog, public IPinFieldOwner {
  public:
    // dialogs shows the messages; balloons are posted to its window.
    CModifyPINDlg(DevicePtr dev, CKeyDialogs* dialogs);
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
    void OnDpiChanged() override;

  private:
    void UpdateOkButton();
    // The toggle's keyboard picture at the dialog's dpi; the toggle takes the picture's size.
    void LoadKeyboardPicture();
    // Asks the system to leave the dialog and the soft keyboard out of screen captures.
    void KeepOutOfCaptures();
    void OnOK();
    void ToggleSoftKeyboard();
    void RaiseKeyboard();
    // Ends the dialog; the soft keyboard goes with it.
    void Finish(INT_PTR result);
    int Message(int stringId, ULONG argument, int kind);
    void ClearAndFocus(bool keepOld);
    void FocusField(int id);

    CKeyDialogs* m_dialogs;
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
    CClockFullScreen(DevicePtr dev, CKeyDialogs* dialogs);
    ~CClockFullScreen() override;
    // Passed to the open PIN dialog; before it opens, the host itself ends for its key.
    void RemoveDlg(const char* devName) override;
    void UpdateTexts() override;

    // The PIN dialog ended with a changed PIN.
    bool PinChanged() const { return m_pinResult == kPinChangedResult; }
    bool ReportedLocked() const { return m_reportedLocked; }
    CModifyPINDlg* OpenPinDialog() const { return m_pinDlg; }
    bool Shielded() const { return static_cast<bool>(m_shield); }

  protected:
    void OnInit() override;
    bool OnCommand(int id) override;
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR* result) override;
    void OnDpiChanged() override;

  private:
    // Covers the primary screen, whatever its size in pixels now.
    void CoverScreen(bool activate);
    void OnStartPin();
    void Unshield();
    static DWORD WINAPI Starter(void* window);

    CKeyDialogs* m_dialogs;
    HWND m_main;
    HBRUSH m_brush = nullptr;
    kit::Module m_shield;
    CModifyPINDlg* m_pinDlg = nullptr;
    INT_PTR m_pinResult = 0;
    bool m_reportedLocked = false;
    bool m_ending = false;
};
