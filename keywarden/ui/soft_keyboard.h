// The soft keyboard beside the PIN dialog: 36 keys (ten digits, 26 letters) in a layout drawn
// afresh for every keyboard, Shift and Backspace. It types into the protected field that last
// had the focus.
#pragma once

#include <windows.h>

#include "dpi.h"
#include "resource.h"
#include "safe_edit.h"

constexpr int IDC_SOFTKEY_FIRST = 1025;  // 36 keys, 1025 to 1060
constexpr int kSoftKeyCount = 36;

// The key order: a permutation of 0 to 35 drawn from the system's cryptographic random source.
// False when no random bytes could be had (the order is then 0 to 35).
bool ShuffleKeys(int (&permutation)[kSoftKeyCount]);
// The character of table index i (0-9: digits 1..9, 0; 10-35: letters) in a case mode.
wchar_t SoftKeyChar(int index, int caseMode);

// Where the keyboard goes beside its owner (the PIN dialog), in screen coordinates: its left edge
// 30 pixels (at 96 dpi) left of the owner's right edge and its top 100 below the owner's top, the
// keyboard above the owner. Where the screen's work area has no room on the right it goes below
// the owner, else left of it, else above it, never over the owner's controls; where it fits none
// of these the owner moves too, to the area's top (keyboard below) or left edge (keyboard right).
struct KeyboardPlace {
    POINT keyboard;
    POINT owner;  // the owner's top-left, moved only when nothing else makes room
};
KeyboardPlace PlaceKeyboard(const RECT& owner, SIZE keyboard, const RECT& area, UINT dpi);

class CSoftKBDlg {
  public:
    explicit CSoftKBDlg(IPinFieldOwner* owner) : m_owner(owner) {}
    ~CSoftKBDlg();
    CSoftKBDlg(const CSoftKBDlg&) = delete;
    CSoftKBDlg& operator=(const CSoftKBDlg&) = delete;

    // Creates the keyboard hidden, owned by the given window, beside it; the layout is drawn here.
    HWND Create(HWND ownerWindow);
    void Destroy();
    void SetCaption(const wchar_t* caption);
    bool IsVisible() const { return m_hWnd && IsWindowVisible(m_hWnd); }
    const int* Permutation() const { return m_permutation; }
    int CaseMode() const { return m_caseMode; }
    UINT Dpi() const { return m_dpi.Dpi(); }
    // Moves the keyboard beside its owner (PlaceKeyboard), on the owner's screen.
    void PlaceBesideOwner();

    HWND m_hWnd = nullptr;

  private:
    static INT_PTR CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    void OnInit();
    void OnCommand(int id);
    void LabelKeys();
    void MakeFont();

    IPinFieldOwner* m_owner;
    int m_permutation[kSoftKeyCount] = {};
    int m_caseMode = 0;  // 0 = lower case, 1 = upper case
    HFONT m_font = nullptr;
    DialogDpi m_dpi;
};
