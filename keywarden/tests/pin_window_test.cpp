// The PIN change from the main window: its button, a pulled key, the factory-PIN prompt.
#include <windows.h>
#include <commctrl.h>

#include "pin_support.h"

using namespace pintest;

// ---- the PIN change from the main window ------------------------------------------------------

namespace {

class MainWindowPinTest : public PinChangeTest {
  protected:
    void SelectKey(const std::string& serial) {
        HWND tree = dlg_->Tree().Window();
        for (auto item =
                 reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
             item; item = reinterpret_cast<HTREEITEM>(SendMessageW(
                       tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(item)))) {
            CItemObj* dev = dlg_->Tree().ItemObject(item);
            if (dev && dev->GetItemType() == ITEM_DEVICE &&
                serial == static_cast<CDevObject*>(dev)->serial)
                SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
        }
    }
    void Command(int id) { SendMessageW(dlg_->Handle(), WM_COMMAND, MAKEWPARAM(id, 0), 0); }
};

}  // namespace

// Key PE is changed by this test only, so its final PIN is known (for a check through Sealgate).
TEST_F(MainWindowPinTest, TheChangePinButtonRunsTheWholeChangeAndShowsTheBalloon) {
    SetPin("PE", kChangedPin, false);
    Insert("PE");
    SelectKey("PE");
    Play([&] { FillIn(kChangedPin, "Kw7pQ2x9", "Kw7pQ2x9"); }, [&] { Command(IDC_MODIFY_PIN); });
    PumpFor(200);
    EXPECT_TRUE(PinIs("PE", "Kw7pQ2x9"));
    EXPECT_EQ(Balloon(), Str(IDS_PIN_CHANGED));
}

TEST_F(MainWindowPinTest, AKeyWithoutTriesOpensNoPinDialog) {
    SetPin("PB", kChangedPin, false, 0);
    Insert("PB");
    SelectKey("PB");
    std::wstring message;
    bool pinDialogSeen = false;
    Play(
        [&] {
            HWND msg = WaitDialog(IDC_TEXT);
            pinDialogSeen = DialogWith(IDC_OLD_PIN) != nullptr;
            message = msg ? Text(GetDlgItem(msg, IDC_TEXT)) : L"";
            Answer(true);
        },
        [&] { Command(IDC_MODIFY_PIN); });
    PumpFor(200);
    EXPECT_EQ(message, Str(IDS_PIN_LOCKED));
    EXPECT_FALSE(pinDialogSeen);
    EXPECT_EQ(Balloon(), Str(IDS_PIN_LOCKED));
}

TEST_F(MainWindowPinTest, PullingTheKeyClosesTheDialogAndTheDimmingWithoutSuccess) {
    SetPin("PC", kChangedPin, false);
    Insert("PC");
    SelectKey("PC");
    bool closed = false;
    Play(
        [&] {
            HWND pin = WaitDialog(IDC_OLD_PIN);
            WaitFocus(pin, IDC_OLD_PIN);
            Type("1234");
            PullOut(dlg_->Handle(), "PC");
            closed = WaitFor([&] { return !IsWindow(pin) && !DialogWith(IDOK); });
        },
        [&] { Command(IDC_MODIFY_PIN); });
    WaitIdle();
    EXPECT_TRUE(closed);
    EXPECT_NE(Balloon(), Str(IDS_PIN_CHANGED));
    EXPECT_EQ(Device("PC"), nullptr);
    EXPECT_TRUE(PinIs("PC", kChangedPin));
}

TEST_F(MainWindowPinTest, TheFactoryPinPromptComesOnInsertAndLeadsToTheDialog) {
    SetPin("PA", kFactoryPin, true);
    std::wstring caption, text;
    bool pinDialog = false;
    Play(
        [&] {
            HWND prompt = WaitDialog(IDC_TEXT);
            if (!prompt) return;
            caption = Text(prompt);
            text = Text(GetDlgItem(prompt, IDC_TEXT));
            Answer(true);
            HWND pin = WaitDialog(IDC_OLD_PIN);
            pinDialog = pin != nullptr;
            Press(VK_ESCAPE);
        },
        [&] {
            PlugIn(dlg_->Handle(), "PA");
            // The prompt comes as a posted message once the key is read.
            PumpUntil([&] { return DialogWith(IDC_TEXT) != nullptr || pinDialog; }, 20000);
            PumpFor(3000);
        });
    EXPECT_EQ(caption, L"PA");
    EXPECT_EQ(text, Str(IDS_DEFAULT_PIN_PROMPT));
    EXPECT_TRUE(pinDialog);
}

TEST_F(MainWindowPinTest, NoPromptOnASilentRefreshOrALanguageSwitchButOnARefresh) {
    SetPin("PA", kFactoryPin, true);
    SetPresent("PA", true);
    // Runs a command and answers Cancel to a prompt that comes within two seconds.
    auto prompted = [&](int command) {
        bool seen = false;
        Play(
            [&] {
                if (WaitFor([] { return DialogWith(IDC_TEXT) != nullptr; }, 2500)) {
                    seen = true;
                    Answer(false);
                }
            },
            [&] {
                Command(command);
                WaitIdle();
                PumpFor(3000);
            });
        return seen;
    };
    EXPECT_FALSE(prompted(ID_SILENT_REFRESH));
    EXPECT_FALSE(prompted(ID_LANG_ZH_CN));
    EXPECT_TRUE(prompted(IDC_REFRESH));  // a refresh the user asked for prompts again
}

// ---- every screen scale -------------------------------------------------------------------------

namespace {

std::string Describe(const RECT& r) {
    return "(" + std::to_string(r.left) + "," + std::to_string(r.top) + ")-(" +
           std::to_string(r.right) + "," + std::to_string(r.bottom) + ")";
}

RECT ScreenRect(HWND w) {
    RECT r = {};
    GetWindowRect(w, &r);
    return r;
}

// What the system sends a window that moves to a screen of another scale: the new dpi and the
// window's rectangle at that scale (Wine has one system dpi and never sends it).
void MoveToDpi(HWND window, UINT from, UINT to) {
    RECT r = ScreenRect(window);
    RECT s = {r.left, r.top, r.left + MulDiv(r.right - r.left, to, from),
              r.top + MulDiv(r.bottom - r.top, to, from)};
    SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(to, to), reinterpret_cast<LPARAM>(&s));
}

bool IsGroupBox(HWND w) {
    wchar_t cls[16] = {};
    GetClassNameW(w, cls, 16);
    return _wcsicmp(cls, L"Button") == 0 &&
           (GetWindowLongPtrW(w, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX;
}

std::vector<std::pair<int, RECT>> VisibleControls(HWND dlg) {
    std::vector<std::pair<int, RECT>> controls;
    for (HWND c = GetWindow(dlg, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        if (IsWindowVisible(c)) controls.push_back({GetDlgCtrlID(c), ScreenRect(c)});
    return controls;
}

// Every visible control lies inside the dialog's client area and apart from every other one (a
// group box frames others and only has to lie inside).
void ExpectLaidOut(HWND dlg, const char* what, UINT dpi) {
    ASSERT_TRUE(dlg) << what << " at " << dpi << " dpi did not open";
    RECT client;
    GetClientRect(dlg, &client);
    MapWindowPoints(dlg, nullptr, reinterpret_cast<POINT*>(&client), 2);
    std::vector<std::pair<int, RECT>> solid;
    for (HWND c = GetWindow(dlg, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        if (!IsWindowVisible(c)) continue;
        RECT r = ScreenRect(c), inside;
        IntersectRect(&inside, &r, &client);
        EXPECT_TRUE(EqualRect(&inside, &r))
            << what << " at " << dpi << " dpi: control " << GetDlgCtrlID(c) << " " << Describe(r)
            << " leaves the client area " << Describe(client);
        if (!IsGroupBox(c)) solid.push_back({GetDlgCtrlID(c), r});
    }
    for (size_t i = 0; i < solid.size(); ++i)
        for (size_t j = i + 1; j < solid.size(); ++j) {
            RECT both;
            EXPECT_FALSE(IntersectRect(&both, &solid[i].second, &solid[j].second))
                << what << " at " << dpi << " dpi: controls " << solid[i].first << " "
                << Describe(solid[i].second) << " and " << solid[j].first << " "
                << Describe(solid[j].second) << " overlap";
        }
}

LONG FontHeight(HWND control) {
    LOGFONTW lf = {};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof lf, &lf);
    return lf.lfHeight;
}

SIZE BitmapSize(HBITMAP bitmap) {
    BITMAP bm = {};
    GetObjectW(bitmap, sizeof bm, &bm);
    return {bm.bmWidth, bm.bmHeight};
}

SIZE IconSize(HICON icon) {
    ICONINFO ii = {};
    if (!icon || !GetIconInfo(icon, &ii)) return {};
    SIZE s = BitmapSize(ii.hbmColor ? ii.hbmColor : ii.hbmMask);
    if (!ii.hbmColor) s.cy /= 2;
    if (ii.hbmColor) DeleteObject(ii.hbmColor);
    DeleteObject(ii.hbmMask);
    return s;
}

// The dialog's icon picture (a static control of the icon type), if it has one.
HWND IconControl(HWND dlg) {
    for (HWND c = GetWindow(dlg, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        wchar_t cls[16] = {};
        GetClassNameW(c, cls, 16);
        if (_wcsicmp(cls, L"Static") == 0 &&
            (GetWindowLongPtrW(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
            return c;
    }
    return nullptr;
}

// The user can reach every key and every control of the PIN dialog: the keyboard lies on the
// dialog's screen, above the dialog, and none of its keys lies over one of the dialog's controls
// (where the screen has room for both side by side or one above the other).
void ExpectKeyboardClearOfDialog(HWND pin, HWND kb) {
    ASSERT_TRUE(pin && kb);
    RECT p = ScreenRect(pin), k = ScreenRect(kb), on;
    MONITORINFO mi = {};
    mi.cbSize = sizeof mi;
    GetMonitorInfoW(MonitorFromWindow(pin, MONITOR_DEFAULTTONEAREST), &mi);
    IntersectRect(&on, &k, &mi.rcWork);
    EXPECT_TRUE(EqualRect(&on, &k))
        << "keyboard " << Describe(k) << " leaves the screen " << Describe(mi.rcWork);
    // Where the two touch, the keyboard lies above the dialog (once the dialog's activation,
    // which Wine delivers late, has settled).
    auto above = [&] {
        for (HWND h = GetWindow(pin, GW_HWNDPREV); h; h = GetWindow(h, GW_HWNDPREV))
            if (h == kb) return true;
        return false;
    };
    RECT touch;
    if (IntersectRect(&touch, &p, &k)) {
        EXPECT_TRUE(WaitFor(above, 3000))
            << "the keyboard " << Describe(k) << " lies under the PIN dialog " << Describe(p);
    }
    const LONG areaW = mi.rcWork.right - mi.rcWork.left, areaH = mi.rcWork.bottom - mi.rcWork.top;
    if ((p.right - p.left) + (k.right - k.left) > areaW &&
        (p.bottom - p.top) + (k.bottom - k.top) > areaH)
        return;
    for (const auto& key : VisibleControls(kb))
        for (const auto& control : VisibleControls(pin)) {
            RECT both;
            EXPECT_FALSE(IntersectRect(&both, &key.second, &control.second))
                << "key " << key.first << " " << Describe(key.second) << " lies over control "
                << control.first << " " << Describe(control.second) << " (dialog " << Describe(p)
                << ", keyboard " << Describe(k) << ")";
        }
}

class ScreenScaleTest : public MainWindowPinTest, public ::testing::WithParamInterface<UINT> {};

}  // namespace

// The windows start at the prefix's system dpi and are then moved to a screen of the tested one.
TEST_P(ScreenScaleTest, EveryWindowIsLaidOutAtTheScreensScale) {
    const UINT from = SystemDpi(), dpi = GetParam();
    SetPin("PB", kChangedPin, false);
    Insert("PB");
    SelectKey("PB");
    HWND main = dlg_->Handle();
    MoveToDpi(main, from, dpi);
    EXPECT_EQ(dlg_->Dpi(), dpi);
    ExpectLaidOut(main, "main window", dpi);
    // Fonts, the tree's images, the logo and the icons are made for the scale.
    int cx = 0, cy = 0;
    ImageList_GetIconSize(dlg_->Tree().Images(), &cx, &cy);
    EXPECT_EQ(cx, ScaleToDpi(24, dpi));
    EXPECT_EQ(cy, ScaleToDpi(24, dpi));
    EXPECT_EQ(FontHeight(dlg_->Tree().Window()), -MulDiv(10, dpi, 72));
    SIZE logo = BitmapSize(reinterpret_cast<HBITMAP>(
        SendDlgItemMessageW(main, IDC_LOGO, STM_GETIMAGE, IMAGE_BITMAP, 0)));
    EXPECT_EQ(logo.cx, ScaleToDpi(130, dpi));
    EXPECT_EQ(logo.cy, ScaleToDpi(67, dpi));
    EXPECT_EQ(IconSize(dlg_->Tray().Record().hIcon).cx, ScaleToDpi(16, dpi));

    Play(
        [&] {
            HWND pin = WaitDialog(IDC_OLD_PIN);
            WaitFocus(pin, IDC_OLD_PIN);
            HWND host = nullptr;
            for (HWND h = GetWindow(GetDesktopWindow(), GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT))
                if (GetWindowThreadProcessId(h, nullptr) == g_uiThread && IsWindowVisible(h) &&
                    !GetDlgItem(h, IDC_OLD_PIN) && GetDlgItem(h, IDOK) && !GetDlgItem(h, IDCANCEL))
                    host = h;
            if (host) MoveToDpi(host, from, dpi);
            RECT dim = host ? ScreenRect(host) : RECT{};
            EXPECT_EQ(dim.right - dim.left, GetSystemMetrics(SM_CXSCREEN));
            EXPECT_EQ(dim.bottom - dim.top, GetSystemMetrics(SM_CYSCREEN));
            MoveToDpi(SoftKeyboard(), from, dpi);
            MoveToDpi(pin, from, dpi);
            ExpectLaidOut(pin, "PIN dialog", dpi);
            SIZE toggle = BitmapSize(reinterpret_cast<HBITMAP>(
                SendDlgItemMessageW(pin, IDC_SOFTKB_TOGGLE, BM_GETIMAGE, IMAGE_BITMAP, 0)));
            EXPECT_EQ(toggle.cx, ScaleToDpi(21, dpi));
            HWND kb = ShowSoftKeyboard(pin);
            ExpectLaidOut(kb, "soft keyboard", dpi);
            ExpectKeyboardClearOfDialog(pin, kb);
            // Keys as large as the scale asks: 20 x 21 dialog units of the template's font
            // ("MS Shell Dlg", 8 points) at the dpi, 13-point captions.
            HFONT templateFont = CreateFaceFont(L"MS Shell Dlg", 8, dpi);
            const SIZE base = DialogBaseUnits(templateFont);
            DeleteObject(templateFont);
            for (int id = IDC_SOFTKEY_FIRST; id < IDC_SOFTKEY_FIRST + kSoftKeyCount; ++id) {
                RECT key = ScreenRect(GetDlgItem(kb, id));
                EXPECT_GE(key.right - key.left, MulDiv(20, base.cx, 4) - 1) << id;
                EXPECT_GE(key.bottom - key.top, MulDiv(21, base.cy, 8) - 1) << id;
                EXPECT_EQ(FontHeight(GetDlgItem(kb, id)), -MulDiv(13, dpi, 72)) << id;
            }
            PostMessageW(pin, WM_COMMAND, IDCANCEL, 0);
        },
        [&] { Command(IDC_MODIFY_PIN); });

    for (int dialog : {IDC_ABOUT_TEXT, IDC_TEXT})
        Play(
            [&] {
                HWND d = WaitDialog(dialog);
                MoveToDpi(d, from, dpi);
                ExpectLaidOut(d, dialog == IDC_TEXT ? "version dialog" : "about dialog", dpi);
                if (dialog == IDC_ABOUT_TEXT) {
                    HWND icon = IconControl(d);
                    EXPECT_EQ(
                        IconSize(reinterpret_cast<HICON>(SendMessageW(icon, STM_GETICON, 0, 0))).cx,
                        ScaleToDpi(32, dpi));
                }
                PostMessageW(d, WM_COMMAND, IDCANCEL, 0);
            },
            [&] { Command(dialog == IDC_TEXT ? IDC_VIEW_DEVINFO : ID_APP_ABOUT); });
}

INSTANTIATE_TEST_SUITE_P(Dpi, ScreenScaleTest, ::testing::Values(96u, 120u, 144u, 192u),
                         [](const ::testing::TestParamInfo<UINT>& info) {
                             return std::to_string(info.param);
                         });

// On a screen too small for the keyboard beside the dialog (run at 800 x 600 as well), it goes
// below or left of the dialog, never under it.
TEST_F(MainWindowPinTest, TheSoftKeyboardNeverLiesUnderThePinDialog) {
    SetPin("PB", kChangedPin, false);
    Insert("PB");
    SelectKey("PB");
    Play(
        [&] {
            HWND pin = WaitDialog(IDC_OLD_PIN);
            WaitFocus(pin, IDC_OLD_PIN);
            HWND kb = ShowSoftKeyboard(pin);
            ExpectKeyboardClearOfDialog(pin, kb);
            PostMessageW(pin, WM_COMMAND, IDCANCEL, 0);
        },
        [&] { Command(IDC_MODIFY_PIN); });
}
