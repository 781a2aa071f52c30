#include "safe_edit.h"

#include <commctrl.h>
#include <string.h>

// ---- SafeText ---------------------------------------------------------------------------------

bool SafeText::Insert(UINT position, unsigned char c) {
    UINT limit = capacity < sizeof characters ? capacity : sizeof characters;
    if (count >= limit) return false;
    if (position > count) position = count;
    memmove(characters + position + 1, characters + position, count - position);
    characters[position] = c;
    ++count;
    return true;
}

void SafeText::Delete(UINT position, UINT n) {
    if (position > count || n == 0) return;
    UINT removed = position + n >= count ? count - position : n;
    memmove(characters + position, characters + position + removed, count - position - removed);
    count -= removed;
    SecureZeroMemory(characters + count, removed);
}

void SafeText::Wipe() {
    SecureZeroMemory(characters, sizeof characters);
    count = 0;
}

// ---- the fixed US English key map ---------------------------------------------------------------

namespace {
// The keys whose character does not follow from their code: the number pad's operators (with
// Num Lock on) and the punctuation keys, each plain and with Shift.
struct KeyChars {
    UINT vk;
    char plain;
    char shifted;
    bool numPad;
};
constexpr KeyChars kOtherKeys[] = {
    {VK_MULTIPLY, '*', '*', true},   {VK_ADD, '+', '+', true},
    {VK_SUBTRACT, '-', '-', true},   {VK_DECIMAL, '.', '.', true},
    {VK_DIVIDE, '/', '/', true},     {VK_OEM_1, ';', ':', false},
    {VK_OEM_PLUS, '=', '+', false},  {VK_OEM_COMMA, ',', '<', false},
    {VK_OEM_MINUS, '-', '_', false}, {VK_OEM_PERIOD, '.', '>', false},
    {VK_OEM_2, '/', '?', false},     {VK_OEM_3, '`', '~', false},
    {VK_OEM_4, '[', '{', false},     {VK_OEM_5, '\\', '|', false},
    {VK_OEM_6, ']', '}', false},     {VK_OEM_7, '\'', '"', false},
};
}  // namespace

int SafeKeyChar(UINT vk, bool shift, bool capsLock, bool numLock) {
    if (vk == VK_SPACE) return ' ';
    if (vk >= '0' && vk <= '9') return shift ? ")!@#$%^&*("[vk - '0'] : static_cast<int>(vk);
    if (vk >= 'A' && vk <= 'Z')
        return shift != capsLock ? static_cast<int>(vk) : static_cast<int>(vk - 'A' + 'a');
    if (vk >= VK_NUMPAD0 && vk <= VK_NUMPAD9)
        return numLock ? static_cast<int>('0' + vk - VK_NUMPAD0) : -1;
    for (const KeyChars& k : kOtherKeys) {
        if (k.vk != vk) continue;
        if (k.numPad) return numLock ? k.plain : -1;
        return shift ? k.shifted : k.plain;
    }
    return -1;
}

// ---- CMySafeEdit --------------------------------------------------------------------------------

CMySafeEdit* CMySafeEdit::s_current = nullptr;

namespace {
constexpr UINT_PTR kSubclassId = 0x5AFE;

bool Held(int vk) {
    // The thread's view of the key, or the desktop's when the thread has not yet read the
    // press (a hook runs before the press reaches the thread's queue).
    return ((GetKeyState(vk) | GetAsyncKeyState(vk)) & 0x8000) != 0;
}
bool Toggled(int vk) { return (GetKeyState(vk) & 1) != 0; }
}  // namespace

CMySafeEdit::~CMySafeEdit() {
    RemoveHooks();
    Unsubclass();
    m_text.Wipe();
}

bool CMySafeEdit::SubclassWindow(HWND edit) {
    if (!edit || m_hWnd) return false;
    if (!SetWindowSubclass(edit, SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this)))
        return false;
    m_hWnd = edit;
    m_text.edit = edit;
    return true;
}

void CMySafeEdit::Unsubclass() {
    if (!m_hWnd) return;
    RemoveWindowSubclass(m_hWnd, SubclassProc, kSubclassId);
    m_hWnd = nullptr;
    m_text.edit = nullptr;
}

UINT CMySafeEdit::GetSafeText(unsigned char* out, UINT maximum) {
    if (!out) return 0;
    if (maximum < m_text.count) m_text.Delete(maximum, m_text.count - maximum);
    memcpy(out, m_text.characters, m_text.count);
    return m_text.count;
}

void CMySafeEdit::ClearSafeText() {
    m_text.Wipe();
    if (!m_hWnd) return;
    SendMessageW(m_hWnd, EM_SETSEL, 0, -1);
    SendMessageW(m_hWnd, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L""));
    SendMessageW(m_hWnd, EM_EMPTYUNDOBUFFER, 0, 0);
    SendMessageW(m_hWnd, EM_SCROLLCARET, 0, 0);
}

void CMySafeEdit::Selection(UINT* start, UINT* end) {
    DWORD s = 0, e = 0;
    SendMessageW(m_hWnd, EM_GETSEL, reinterpret_cast<WPARAM>(&s), reinterpret_cast<LPARAM>(&e));
    *start = s < e ? s : e;
    *end = s < e ? e : s;
}

void CMySafeEdit::DeleteAtCaret(bool backspace) {
    UINT start, end;
    Selection(&start, &end);
    if (start != end)
        m_text.Delete(start, end - start);
    else if (!backspace)
        m_text.Delete(start, 1);
    else if (start > 0)
        m_text.Delete(start - 1, 1);
}

void CMySafeEdit::TypeChar(unsigned char c) {
    UINT start, end;
    Selection(&start, &end);
    if (start != end) m_text.Delete(start, end - start);
    UpdateCapacity();
    // The edit's limit is reached at the same count as the buffer's, so a refused character
    // is refused by both.
    if (m_text.Insert(start, c)) Forward(kSafePlaceholder);
}

void CMySafeEdit::UpdateCapacity() {
    UINT limit = static_cast<UINT>(SendMessageW(m_hWnd, EM_GETLIMITTEXT, 0, 0));
    m_text.capacity = limit < kSafeTextMaxCapacity ? limit : kSafeTextMaxCapacity;
}

void CMySafeEdit::Forward(WPARAM c) {
    m_forwarding = true;
    SendMessageW(m_hWnd, WM_CHAR, c, 0);
    m_forwarding = false;
}

void CMySafeEdit::RemoveHooks() {
    if (m_text.keyboardHook) UnhookWindowsHookEx(m_text.keyboardHook);
    if (m_text.debugHook) UnhookWindowsHookEx(m_text.debugHook);
    m_text.keyboardHook = nullptr;
    m_text.debugHook = nullptr;
    if (s_current == this) s_current = nullptr;
}

void CMySafeEdit::OnSetFocus() {
    RemoveHooks();
    s_current = this;
    if (m_owner) m_owner->SetTargetEdit(m_hWnd);
    UpdateCapacity();
    m_hookError = 0;
    m_text.debugHook = SetWindowsHookExW(WH_DEBUG, DebugProc, nullptr, GetCurrentThreadId());
    if (m_text.debugHook)
        m_text.keyboardHook =
            SetWindowsHookExW(WH_KEYBOARD_LL, KeyboardProc, GetModuleHandleW(nullptr), 0);
    // Without the hooks the field still keeps the characters: they arrive as WM_CHAR and go
    // to the buffer there.
    if (!m_text.keyboardHook) m_hookError = GetLastError() ? GetLastError() : ERROR_GEN_FAILURE;
}

LRESULT CALLBACK CMySafeEdit::SubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam,
                                           UINT_PTR, DWORD_PTR self) {
    auto* edit = reinterpret_cast<CMySafeEdit*>(self);
    if (msg == WM_NCDESTROY) {
        // The control dies: its characters go with it.
        edit->RemoveHooks();
        edit->m_text.Wipe();
        edit->Unsubclass();
        return DefSubclassProc(hwnd, msg, wParam, lParam);
    }
    return edit->OnMessage(msg, wParam, lParam);
}

LRESULT CMySafeEdit::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    HWND hwnd = m_hWnd;
    switch (msg) {
        case WM_SETFOCUS:
            OnSetFocus();
            break;
        case WM_KILLFOCUS:
            RemoveHooks();
            break;
        case WM_LBUTTONDOWN:
            SetFocus(hwnd);  // the caret does not move and no selection starts
            return 0;
        case WM_MOUSEMOVE:
        case WM_LBUTTONDBLCLK:
        case WM_RBUTTONDOWN:
        case WM_RBUTTONUP:
        case WM_CONTEXTMENU:
            return 0;
        // Nothing reaches or leaves the field but typed characters.
        case WM_CUT:
        case WM_COPY:
        case WM_PASTE:
        case WM_CLEAR:
        case WM_UNDO:
        case EM_UNDO:
            return 0;
        case UM_SAFECHAR: {
            unsigned char c = static_cast<unsigned char>(wParam & 0xFF);
            if (c == VK_BACK) {
                DeleteAtCaret(true);
                Forward(VK_BACK);
            } else if (c >= 0x20 && c < 0x7F) {
                TypeChar(c);
            }
            return 0;
        }
        case WM_KEYDOWN:
            // What the hook swallows is swallowed here too, for keys that came past it; and
            // Shift+Insert, which pastes inside the edit without WM_PASTE.
            if (Held(VK_CONTROL) || (wParam >= VK_LEFT && wParam <= VK_DOWN) || wParam == VK_INSERT)
                return 0;
            if (wParam == VK_DELETE) DeleteAtCaret(false);
            break;
        case WM_CHAR:
            if (m_forwarding) break;
            if (wParam == VK_BACK) {
                DeleteAtCaret(true);
                break;
            }
            // A character that came past the hook (no hook, a Unicode injection, an input
            // method) goes to the buffer like a typed one; other control characters and
            // characters outside ASCII are dropped.
            if (wParam >= 0x20 && wParam < 0x7F) TypeChar(static_cast<unsigned char>(wParam));
            return 0;
    }
    return DefSubclassProc(hwnd, msg, wParam, lParam);
}

LRESULT CALLBACK CMySafeEdit::DebugProc(int code, WPARAM hookType, LPARAM data) {
    if (code == HC_ACTION && hookType == WH_KEYBOARD) return 1;
    return CallNextHookEx(nullptr, code, hookType, data);
}

LRESULT CALLBACK CMySafeEdit::KeyboardProc(int code, WPARAM message, LPARAM data) {
    CMySafeEdit* self = s_current;
    if (code != HC_ACTION || message != WM_KEYDOWN || !self || !self->m_hWnd || !data)
        return CallNextHookEx(nullptr, code, message, data);
    UINT vk = reinterpret_cast<const KBDLLHOOKSTRUCT*>(data)->vkCode;
    if (Held(VK_CONTROL) || (vk >= VK_LEFT && vk <= VK_DOWN)) return 1;
    // Backspace and Delete go on to the edit, whose handling above removes the same range
    // from the buffer as from the display.
    int c = SafeKeyChar(vk, Held(VK_SHIFT), Toggled(VK_CAPITAL), Toggled(VK_NUMLOCK));
    if (c < 0) return CallNextHookEx(nullptr, code, message, data);
    self->TypeChar(static_cast<unsigned char>(c));
    return 1;
}
