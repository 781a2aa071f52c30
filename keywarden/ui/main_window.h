// The main dialog: Keywarden's one top-level window (class KEYWARDEN_WINDOW_CLASS). It composes
// the rooms of the user interface: the tray icon (tray_icon.h), the key tree (key_tree.h) and the
// key dialogs (key_dialogs.h), and the device list whose events it turns into their work. It
// handles the window's messages: commands, device notifications, the language switch.
#pragma once

#include <windows.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app.h"
#include "device_list.h"
#include "dpi.h"
#include "items.h"
#include "key_dialogs.h"
#include "key_texts.h"
#include "key_tree.h"
#include "keywarden_window.h"
#include "resource.h"
#include "tray_icon.h"

class CMainDlg : public IMainWindow, private IDeviceListEvents {
  public:
    CMainDlg();
    // Stops the device list's workers, releases every key, then the window goes.
    ~CMainDlg() override;
    CMainDlg(const CMainDlg&) = delete;
    CMainDlg& operator=(const CMainDlg&) = delete;

    // Creates the modeless dialog (template 129, class KEYWARDEN_WINDOW_CLASS), hidden.
    HWND Create(HINSTANCE instance) override;
    HWND Handle() const override { return m_hWnd; }

    CDeviceList& Devices() { return m_devices; }
    CKeyTree& Tree() { return m_tree; }
    CKeyDialogs& Dialogs() { return m_dialogs; }
    CTrayIcon& Tray() { return m_tray; }
    UINT Dpi() const { return m_dpi.Dpi(); }

    // 1 after command ID_SILENT_REFRESH, 0 after the refresh button: while 1 no default-PIN
    // prompt is shown.
    int SilentRescanFlag() const { return m_silentRescan; }
    // The certificate notice of the last insert or rescan (the text of its balloon).
    void CopyCertNotice(wchar_t* out, size_t size);
    // The web address "UM_OPENURL" opens: "url" in section "exe_config" of config.ini.
    static void GetWebAddress(wchar_t* out, size_t size);

  private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result);
    bool OnCommand(int id);
    void OnInitDialog();
    void OnDestroy();
    void OnDeviceChange(WPARAM event, LPARAM data);
    void RegisterDeviceNotifications();
    void CenterOnWorkArea();
    void InitCtrl();
    // The logo, and the window's and the tray's icons, at the window's dpi.
    void LoadLogo();
    void LoadIcons();
    void Quit(int code);
    void ChangeMutileLang();
    LRESULT OnOpenURL();
    // Enables or disables the buttons of a ButtonMask.
    void EnableButtons(unsigned mask, bool enable);

    // ---- the tree's items and their buttons ----------------------------------------------------
    LRESULT OnSelChanged();
    LRESULT OnDBLclk();
    void OnItemCommand(int id);
    void OnViewDInfo();
    void OnKeyGone();

    // ---- IDeviceListEvents ---------------------------------------------------------------------
    void Announce(KeyNews news) override;
    void ExpiryNotice(const ExpiryFacts& facts) override;
    void TreeChanged(const KeyList& keys) override;
    void KeyGone(const char* devName) override;
    void AskDefaultPin(const CDevObject* dev) override;
    void RefreshAllowed(bool allowed) override;
    bool OnWindowThread() const;

    HWND m_hWnd = nullptr;
    DialogDpi m_dpi;
    CTrayIcon m_tray;
    CKeyTree m_tree;
    CKeyDialogs m_dialogs;
    HBITMAP m_logo = nullptr;
    HICON m_bigIcon = nullptr;
    HICON m_smallIcon = nullptr;
    int m_silentRescan = 0;
    std::vector<HDEVNOTIFY> m_notifications;
    std::mutex m_goneMutex;  // guards m_goneNames, written by workers
    std::vector<std::string> m_goneNames;
    std::mutex m_noticeMutex;  // guards m_notice, written by workers
    CertNotice m_notice;       // the last insert's or rescan's certificate notice
    // Last: its workers report to the members above, and it ends first.
    CDeviceList m_devices;
};

// The main window of a running Keywarden, for the program's entry.
std::unique_ptr<IMainWindow> MakeMainWindow();
