// Keywarden's face: the main dialog with its tray icon, tooltip, menu and balloons, the tree's
// selection and buttons, the small dialogs and the language switch.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include "main_dlg.h"

class CAboutDlg;

constexpr int IDI_APP = 128;
constexpr int IDI_CERT = 204;
constexpr int IDI_KEY = 205;
constexpr int IDR_TRAYMENU = 205;
constexpr int IDB_LOGO = 206;
constexpr int IDB_KEYBOARD = 208;
constexpr int IDC_LOGO = 1006;
constexpr int ID_LANG_ZH_CN = 32783;
constexpr int ID_LANG_ZH_TW = 32784;
constexpr int ID_LANG_EN = 32785;
constexpr int ID_APP_ABOUT = 57664;
constexpr UINT kTrayIconId = 205;
constexpr char kTrayMessageName[] = "WM_TRAYICON";

// The notification-area icon of a window.
class CTrayIcon {
  public:
    CTrayIcon();
    ~CTrayIcon();
    CTrayIcon(const CTrayIcon&) = delete;
    CTrayIcon& operator=(const CTrayIcon&) = delete;

    // Adds the icon (once); the tooltip keeps at most 127 characters.
    bool Install(HWND window, HICON icon, const wchar_t* tip);
    bool SetTooltip(const wchar_t* tip);
    // An information balloon; the text keeps at most 255 characters, the title 63.
    bool ShowBalloon(const wchar_t* title, const wchar_t* text);
    void Remove();

    UINT Message() const { return m_message; }
    bool Installed() const { return m_installed; }
    // The record last given to the shell.
    const NOTIFYICONDATAW& Record() const { return m_nid; }

  private:
    UINT m_message;
    NOTIFYICONDATAW m_nid = {};
    bool m_installed = false;
};

class CKeywardenDlg : public CMainDlg, public IKeyDialogs {
  public:
    CKeywardenDlg();
    ~CKeywardenDlg() override;

    // ---- per-key dialogs ---------------------------------------------------------------------
    ULONG ModifyPIN(CDevObject* dev) override;
    // The default-PIN prompt of a key (posted while the tree is built for it).
    void OnShowDefPINDlg(CDevObject* dev);
    ULONG ModifyDevLabel(CDevObject* dev) override;
    ULONG ShowVersionDlg(CDevObject* dev) override;
    int ShowMessage(HWND parent, CDevObject* dev, int stringId, ULONG argument,
                    int kind) override;
    void ShowAboutDlg();

    // ---- language, tray, tree ----------------------------------------------------------------
    void ChangeMutileLang();
    void OnShowBalloon(int stringId, LPARAM argument);
    LRESULT OnOpenURL();
    // Menu 205's first pop-up with the texts of the current language; destroy the returned
    // menu (its parent) after use.
    HMENU BuildTrayMenu(HMENU* popup);
    void ShowTrayMenu();
    void ShowWithAnimation();
    LRESULT OnSelChanged();
    LRESULT OnDBLclk();
    void OnItemCommand(int id);
    void OnViewDInfo();

    CTrayIcon& Tray() { return m_tray; }
    bool AboutOpen() const { return m_about != nullptr; }
    // The web address "UM_OPENURL" opens: "url" in section "exe_config" of config.ini.
    static void GetWebAddress(wchar_t* out, size_t size);

  protected:
    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
    void OnInitDialog() override;

  private:
    void CenterOnWorkArea();
    void InitCtrl();
    void SetTexts();
    CItemObj* SelectedObject(HTREEITEM* item = nullptr);

    CTrayIcon m_tray;
    HIMAGELIST m_images = nullptr;
    HBITMAP m_logo = nullptr;
    HICON m_bigIcon = nullptr;
    HICON m_smallIcon = nullptr;
    CAboutDlg* m_about = nullptr;
};

// The certificate notice as a balloon text of size characters with the terminator: the whole
// notice when it fits, else as many whole lines from its start as fit beside its last line (the
// closing sentence), which is always kept.
void FitNoticeToBalloon(const wchar_t* notice, wchar_t* out, size_t size);

// The main window of a running Keywarden: the face above, for the program's entry.
CMainDlg* MakeKeywardenDlg();
