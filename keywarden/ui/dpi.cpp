#include "dpi.h"

#include <kit/platform.h>

#include "png_loader.h"
#include "resources.h"

namespace {

// The per-monitor functions of user32, from the system folder; null where this Windows lacks
// them (before Windows 10 1607, and 1703 for the dialog's behaviour).
struct DpiFunctions {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    using GetSystemMetricsForDpiFn = int(WINAPI*)(int, UINT);
    using SetDialogDpiChangeBehaviorFn = BOOL(WINAPI*)(HWND, int, int);

    kit::Module user32 = kit::Module::load_system("user32.dll");
    GetDpiForWindowFn getDpiForWindow = user32.function<GetDpiForWindowFn>("GetDpiForWindow");
    GetSystemMetricsForDpiFn getSystemMetricsForDpi =
        user32.function<GetSystemMetricsForDpiFn>("GetSystemMetricsForDpi");
    SetDialogDpiChangeBehaviorFn setDialogDpiChangeBehavior =
        user32.function<SetDialogDpiChangeBehaviorFn>("SetDialogDpiChangeBehavior");
};

const DpiFunctions& Functions() {
    static const DpiFunctions functions;
    return functions;
}

constexpr int kDialogScalingOff = 0x0001;  // DDC_DISABLE_ALL

UINT Sane(UINT dpi) { return dpi >= 48 && dpi <= 960 ? dpi : kBaseDpi; }

}  // namespace

// The average width of the 52 letters (rounded) and the character height.
SIZE DialogBaseUnits(HFONT font) {
    SIZE base = {};
    HDC dc = GetDC(nullptr);
    if (!dc) return base;
    HGDIOBJ old = SelectObject(dc, font);
    TEXTMETRICW tm = {};
    SIZE letters = {};
    if (GetTextMetricsW(dc, &tm) &&
        GetTextExtentPoint32W(dc, L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", 52,
                              &letters))
        base = {(letters.cx / 26 + 1) / 2, tm.tmHeight};
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    return base;
}

UINT SystemDpi() { return Sane(static_cast<UINT>(kit::screen_metrics().dpi_y)); }

UINT WindowDpi(HWND window) {
    if (window && Functions().getDpiForWindow)
        if (UINT dpi = Functions().getDpiForWindow(window)) return Sane(dpi);
    return SystemDpi();
}

int MetricForDpi(int index, UINT dpi) {
    if (Functions().getSystemMetricsForDpi) return Functions().getSystemMetricsForDpi(index, dpi);
    return MulDiv(GetSystemMetrics(index), static_cast<int>(dpi), static_cast<int>(SystemDpi()));
}

HFONT CreateFaceFont(const wchar_t* face, int points, UINT dpi) {
    return CreateFontW(-MulDiv(points, static_cast<int>(dpi), 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE,
                       FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                       DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face);
}

HICON LoadIconForDpi(int iconId, int metricIndex, UINT dpi) {
    int size = MetricForDpi(metricIndex, dpi);
    return static_cast<HICON>(
        LoadImageW(KeywardenInstance(), MAKEINTRESOURCEW(iconId), IMAGE_ICON, size, size, 0));
}

HBITMAP LoadPictureForDpi(const UINT (&ids)[3], UINT dpi) {
    // The 100 % picture gives the design's size; the source is the smallest drawing at least as
    // large as the dpi asks (200 % above that), resampled to the exact size when it differs.
    HBITMAP base = LoadPngResource(KeywardenInstance(), ids[0], L"PNG");
    if (!base || dpi <= kBaseDpi) return base;
    BITMAP bm = {};
    GetObjectW(base, sizeof bm, &bm);
    DeleteObject(base);
    const int width = ScaleToDpi(bm.bmWidth, dpi), height = ScaleToDpi(bm.bmHeight, dpi);
    const UINT source = dpi <= kBaseDpi * 3 / 2 ? ids[1] : ids[2];
    return LoadPngResource(KeywardenInstance(), source, L"PNG", width, height);
}

// ---- DialogDpi ----------------------------------------------------------------------------------

DialogDpi::~DialogDpi() {
    if (m_font) DeleteObject(m_font);
}

void DialogDpi::Attach(HWND dialog) {
    if (m_font) DeleteObject(m_font);
    m_font = nullptr;
    m_dialog = dialog;
    m_dpi = WindowDpi(dialog);
    RECT units = {0, 0, 4, 8};
    MapDialogRect(dialog, &units);
    m_base = {units.right, units.bottom};
    if (Functions().setDialogDpiChangeBehavior)
        Functions().setDialogDpiChangeBehavior(dialog, kDialogScalingOff, kDialogScalingOff);
}

bool DialogDpi::Change(WPARAM wParam, LPARAM lParam) {
    if (!m_dialog) return false;
    const UINT dpi = Sane(HIWORD(wParam)), old = m_dpi;
    RECT client;
    GetClientRect(m_dialog, &client);  // before the frame changes
    if (auto* r = reinterpret_cast<const RECT*>(lParam))
        SetWindowPos(m_dialog, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    if (dpi == old) return false;
    m_dpi = dpi;

    // The template's font (or the one made at the last change) again, in points, at the new dpi.
    auto current = reinterpret_cast<HFONT>(SendMessageW(m_dialog, WM_GETFONT, 0, 0));
    if (m_font) current = m_font;
    HFONT font = nullptr;
    LOGFONTW lf = {};
    if (current && GetObjectW(current, sizeof lf, &lf)) {
        const int points =
            MulDiv(lf.lfHeight < 0 ? -lf.lfHeight : lf.lfHeight, 72, static_cast<int>(old));
        lf.lfHeight = -MulDiv(points, static_cast<int>(dpi), 72);
        font = CreateFontIndirectW(&lf);
    }
    // Without both fonts' base units the dpis' ratio stands in for theirs.
    SIZE from = m_base, to = font ? DialogBaseUnits(font) : SIZE{};
    if (from.cx <= 0 || from.cy <= 0 || to.cx <= 0 || to.cy <= 0) {
        from = {static_cast<LONG>(old), static_cast<LONG>(old)};
        to = {static_cast<LONG>(dpi), static_cast<LONG>(dpi)};
    }
    auto scaleX = [&](LONG v) { return MulDiv(v, to.cx, from.cx); };
    auto scaleY = [&](LONG v) { return MulDiv(v, to.cy, from.cy); };

    // The client area as the template gives it at the new font, within the frame of the new dpi.
    RECT window, frameClient;
    GetWindowRect(m_dialog, &window);
    GetClientRect(m_dialog, &frameClient);
    SetWindowPos(m_dialog, nullptr, 0, 0,
                 (window.right - window.left) - frameClient.right + scaleX(client.right),
                 (window.bottom - window.top) - frameClient.bottom + scaleY(client.bottom),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    // Every child keeps its place in the template: each edge on its own, so that neighbours never
    // come to overlap by rounding.
    for (HWND child = GetWindow(m_dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT r;
        GetWindowRect(child, &r);
        MapWindowPoints(nullptr, m_dialog, reinterpret_cast<POINT*>(&r), 2);
        const int left = scaleX(r.left), top = scaleY(r.top);
        SetWindowPos(child, nullptr, left, top, scaleX(r.right) - left, scaleY(r.bottom) - top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        if (font && reinterpret_cast<HFONT>(SendMessageW(child, WM_GETFONT, 0, 0)) == current)
            SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    }
    if (font) {
        if (m_font) DeleteObject(m_font);
        m_font = font;
        m_base = to;
    }
    InvalidateRect(m_dialog, nullptr, TRUE);
    return true;
}
