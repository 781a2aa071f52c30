// The protected PIN field. The characters the user types are kept in the control's private
// buffer (SafeText); the edit itself only ever receives a placeholder per character. While the
// field has the focus, a low-level keyboard hook takes the keys before the normal keyboard path
// and a thread debug hook keeps the thread's ordinary keyboard hooks from seeing them.
#pragma once

#include <windows.h>

constexpr UINT UM_SAFECHAR = 0x0523;  // wParam = one character (low byte), 8 = Backspace
constexpr char kSafePlaceholder = '*';
constexpr UINT kSafeTextMaxCapacity = 128;

// The dialog a protected field belongs to: it learns which field last had the focus, so that
// the soft keyboard types into that one.
class IPinFieldOwner {
  public:
    virtual void SetTargetEdit(HWND edit) = 0;
    virtual HWND TargetEdit() const = 0;

  protected:
    ~IPinFieldOwner() = default;
};

// The typed characters, one byte each, in order; bytes past the count are 0.
struct SafeText {
    UINT capacity = 0;  // the edit's text limit when the focus arrived, at most 128
    HWND edit = nullptr;
    HHOOK keyboardHook = nullptr;
    HHOOK debugHook = nullptr;
    unsigned char characters[256] = {};
    UINT count = 0;

    // Inserts at a position (clamped to the count); false when the buffer is full.
    bool Insert(UINT position, unsigned char c);
    // Removes n characters from a position; nothing when the position is beyond the count.
    void Delete(UINT position, UINT n);
    // Count 0 and every byte zeroed.
    void Wipe();
};

// The character a key gives on the fixed US English layout, or -1 when the key is passed on
// (numeric-pad keys with Num Lock off, Tab, Enter, function keys, ...).
int SafeKeyChar(UINT virtualKey, bool shift, bool capsLock, bool numLock);

class CMySafeEdit {
  public:
    CMySafeEdit() = default;
    ~CMySafeEdit();  // hooks removed, buffer wiped, subclass removed
    CMySafeEdit(const CMySafeEdit&) = delete;
    CMySafeEdit& operator=(const CMySafeEdit&) = delete;

    bool SubclassWindow(HWND edit);
    void SetOwner(IPinFieldOwner* owner) { m_owner = owner; }

    // Copies min(count, maximum) characters (no terminator) and returns that number; a maximum
    // below the count lowers the count to it.
    UINT GetSafeText(unsigned char* out, UINT maximum);
    // Empties buffer and edit.
    void ClearSafeText();
    UINT Count() const { return m_text.count; }
    bool HooksInstalled() const { return m_text.keyboardHook != nullptr; }
    // The system error of the last hook installation, 0 when both hooks were installed.
    DWORD HookError() const { return m_hookError; }

    HWND m_hWnd = nullptr;

  private:
    static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR id, DWORD_PTR self);
    static LRESULT CALLBACK KeyboardProc(int code, WPARAM message, LPARAM data);
    static LRESULT CALLBACK DebugProc(int code, WPARAM hookType, LPARAM data);

    LRESULT OnMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    void OnSetFocus();
    void RemoveHooks();
    void Selection(UINT* start, UINT* end);
    // Removes the selected range, or the character before (Backspace) or at (Delete) the caret.
    void DeleteAtCaret(bool backspace);
    // Stores a character at the caret (replacing the selection) and shows one placeholder.
    void TypeChar(unsigned char c);
    // Gives a character to the edit itself, past this control's own handling.
    void Forward(WPARAM c);
    void Unsubclass();
    // Capacity = the edit's text limit, at most 128.
    void UpdateCapacity();

    SafeText m_text;
    IPinFieldOwner* m_owner = nullptr;
    bool m_forwarding = false;
    DWORD m_hookError = 0;

    // The field with the focus; the hook procedures, which get no context, work on it.
    static CMySafeEdit* s_current;
};
