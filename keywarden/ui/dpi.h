// Sizes at the dots per inch of a window's screen. Keywarden declares itself per-monitor aware:
// the system no longer stretches its windows, so every size it lays out in pixels itself (fonts,
// pictures, icons, the soft keyboard's place) is taken at the window's dpi, and a window that
// moves to a screen of another scale (WM_DPICHANGED) lays itself out again.
#pragma once

#include <windows.h>

constexpr UINT kBaseDpi = 96;  // the dpi at which a size "in pixels" of the design is meant

// The dpi the window is drawn at: GetDpiForWindow where the system has it (Windows 10 1607 and
// later), otherwise the screen's logical dpi (the one system dpi of older systems).
UINT WindowDpi(HWND window);
// The screen's logical dpi (the system dpi).
UINT SystemDpi();
// A length of the design (meant at 96 dpi) at the given dpi.
inline int ScaleToDpi(int length, UINT dpi) {
    return MulDiv(length, static_cast<int>(dpi), static_cast<int>(kBaseDpi));
}
// A system metric (SM_CXICON, SM_CXSMICON, ...) at the given dpi.
int MetricForDpi(int index, UINT dpi);
// A font of the face at the given size in points, for text drawn at the given dpi.
HFONT CreateFaceFont(const wchar_t* face, int points, UINT dpi);
// The dialog base units of a font, as the dialog manager takes them for a template in that font.
SIZE DialogBaseUnits(HFONT font);
// An icon group of the program at the size of a square system metric at the given dpi (the
// group's nearest image, scaled down by the system when it has none of that size).
HICON LoadIconForDpi(int iconId, int metricIndex, UINT dpi);
// A picture drawn for 100 %, 150 % and 200 %: the PNG resource made for the dpi's scale (the
// next larger one, so that a picture is never stretched up), decoded into a bitmap.
HBITMAP LoadPictureForDpi(const UINT (&ids)[3], UINT dpi);

// Keeps a dialog laid out at its window's dpi. Windows' dialog manager scales a per-monitor
// dialog by itself only on Windows 10 1703 and later, and not the fonts a program gives to
// controls; so the dialog manager's own scaling is turned off and the dialog does it the same
// way on every system, as a template is laid out: on WM_DPICHANGED it makes the template's font
// again at the new dpi, and moves and sizes every child and its own client area by the ratio of
// the dialog base units of the two fonts (a font's size in pixels does not grow exactly with the
// dpi), at the place the system suggests. The dialog then makes its own fonts and pictures.
class DialogDpi {
  public:
    DialogDpi() = default;
    ~DialogDpi();
    DialogDpi(const DialogDpi&) = delete;
    DialogDpi& operator=(const DialogDpi&) = delete;

    // From WM_INITDIALOG on: notes the dialog's dpi.
    void Attach(HWND dialog);
    UINT Dpi() const { return m_dpi; }
    // WM_DPICHANGED (wParam, lParam as received): lays the dialog out at the new dpi. Returns
    // false when the dpi is the same as before (nothing was done but the rectangle).
    bool Change(WPARAM wParam, LPARAM lParam);

  private:
    HWND m_dialog = nullptr;
    UINT m_dpi = kBaseDpi;
    SIZE m_base = {};        // the dialog base units of the font the children have now
    HFONT m_font = nullptr;  // the template's font at m_dpi, once the dpi changed
};
