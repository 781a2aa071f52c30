// The main dialog: Keywarden's one top-level window (class "KEVAClientClass"). It holds the tray
// icon with its menu and balloons, builds the device tree from the device list, runs the item
// buttons and opens the small dialogs.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app.h"
#include "device_list.h"
#include "dialogs.h"
#include "items.h"
#include "key_texts.h"
#include "keywarden_window.h"
#include "resource.h"

class CAboutDlg;

// The notification-area icon of a window, and the one owner of its state: window, icon, tip,
// callback message and a balloon still waiting for the shell. A shell that restarts (after an
// update, a crash, a change of display scale) forgets every icon; adding it again reads it all
// from here.
class CTrayIcon {
  public:
    CTrayIcon();
    ~CTrayIcon();
    CTrayIcon(const CTrayIcon&) = delete;
    CTrayIcon& operator=(const CTrayIcon&) = delete;

    // Adds the icon (once); the tooltip keeps at most 127 characters. Lets the shell's restart
    // announcement through to the window even when this program runs with more rights than the
    // shell (started by the setup program).
    bool Install(HWND window, HICON icon, const wchar_t* tip);
    bool SetTooltip(const wchar_t* tip);
    // An information balloon; the text keeps at most 255 characters, the title 63. A balloon the
    // shell cannot take now (no icon there) waits for the icon to be added again.
    bool ShowBalloon(const wchar_t* title, const wchar_t* text);
    // The shell announced that it restarted ("TaskbarCreated"): adds the icon again with its
    // current tip and callback message, then the balloon that waited, if one did. A balloon the
    // shell showed before is not shown again.
    bool Restore();
    void Remove();

    UINT Message() const { return m_message; }
    // The registered message "TaskbarCreated".
    UINT ShellRestartMessage() const { return m_shellRestart; }
    bool Installed() const { return m_installed; }
    // The record last given to the shell.
    const NOTIFYICONDATAW& Record() const { return m_nid; }

  private:
    bool Add();
    bool GiveBalloon();

    UINT m_message;
    UINT m_shellRestart;
    NOTIFYICONDATAW m_nid = {};
    bool m_installed = false;
    bool m_balloonWaiting = false;
};

class CMainDlg : public IMainWindow, private IDeviceListEvents {
  public:
    CMainDlg();
    // Stops the device list's workers, releases every key, then the window goes.
    ~CMainDlg() override;
    CMainDlg(const CMainDlg&) = delete;
    CMainDlg& operator=(const CMainDlg&) = delete;

    // Creates the modeless dialog (template 129, class "KEVAClientClass"), hidden.
    HWND Create(HINSTANCE instance) override;
    HWND Handle() const override { return m_hWnd; }

    CDeviceList& Devices() { return m_devices; }
    HWND TreeWindow() const { return m_tree; }
    CTrayIcon& Tray() { return m_tray; }
    // The object of a tree item; it stays alive until the tree is rebuilt.
    CItemObj* ItemObject(HTREEITEM item) const;

    // ---- per-key dialogs (user-interface thread) ------------------------------------------
    ULONG ModifyPIN(const DevicePtr& dev);
    // The default-PIN prompt of a key (posted while the tree is built for it).
    void OnShowDefPINDlg(const CDevObject* dev);
    ULONG ModifyDevLabel(const DevicePtr& dev);
    ULONG ShowVersionDlg(const DevicePtr& dev);
    int ShowMessage(HWND parent, const DevicePtr& dev, int stringId, ULONG argument, int kind);
    void ShowAboutDlg();

    // ---- language, tray ------------------------------------------------------------------------
    void ChangeMutileLang();
    void OnShowBalloon(int stringId, LPARAM argument);
    LRESULT OnOpenURL();
    // Menu 205's first pop-up with the texts of the current language; destroy the returned
    // menu (its parent) after use.
    HMENU BuildTrayMenu(HMENU* popup);
    // The web address "UM_OPENURL" opens: "url" in section "exe_config" of config.ini.
    static void GetWebAddress(wchar_t* out, size_t size);

    // ---- buttons and the key items --------------------------------------------------------
    // Enables or disables the buttons of a ButtonMask.
    void EnableButtons(unsigned mask, bool enable);
    // A default-PIN prompt is up: the buttons' dialogs wait.
    bool PromptBusy() const { return m_promptBusy; }
    // Selects the tree item of a key, wherever a rebuild has put it.
    void SelectKey(const CDevObject* dev);
    // 1 after command ID_SILENT_REFRESH, 0 after the refresh button: while 1 no default-PIN
    // prompt is shown.
    int SilentRescanFlag() const { return m_silentRescan; }
    // The certificate notice of the last insert or rescan (the text of its balloon).
    void CopyCertNotice(wchar_t* out, size_t size);

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
    void ShowTrayMenu();
    void ShowWithAnimation();
    void Quit(int code);

    // ---- tree ------------------------------------------------------------------------------
    // Rebuilds the whole tree from keys; the items keep their objects alive until the next
    // rebuild. The last key (or "No Device") is selected.
    void UpdateTreeUI(const KeyList& keys);
    // Empties the tree; selection changes meanwhile are ignored.
    void CleanTreeData();
    HTREEITEM InsertItem(const wchar_t* text, int image, HTREEITEM parent,
                         std::shared_ptr<CItemObj> object);
    HTREEITEM ItemOfKey(const CDevObject* dev) const;
    // The selected item's object, kept alive for the caller however the tree changes.
    std::shared_ptr<CItemObj> SelectedObject(HTREEITEM* item = nullptr) const;
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

    // The open dialogs (message, PIN change, device information, label); set while they run.
    enum DialogSlot { DLG_MESSAGE, DLG_PIN, DLG_VERSION, DLG_LABEL, DLG_COUNT };
    friend class OpenDialogScope;

    HWND m_hWnd = nullptr;
    HWND m_tree = nullptr;
    CTrayIcon m_tray;
    HIMAGELIST m_images = nullptr;
    HBITMAP m_logo = nullptr;
    HICON m_bigIcon = nullptr;
    HICON m_smallIcon = nullptr;
    CAboutDlg* m_about = nullptr;
    CDevBaseDlg* m_openDialogs[DLG_COUNT] = {};
    bool m_promptBusy = false;
    int m_silentRescan = 0;
    std::mutex m_noticeMutex;  // guards m_notice, written by workers
    CertNotice m_notice;       // the last insert's or rescan's certificate notice
    bool m_treeRebuilding = false;
    std::vector<HDEVNOTIFY> m_notifications;
    std::mutex m_goneMutex;  // guards m_goneNames, written by workers
    std::vector<std::string> m_goneNames;
    // What the tree items point at, in item order: alive until the items are gone.
    std::vector<std::shared_ptr<CItemObj>> m_itemObjects;
    // Last: its workers report to the members above, and it ends first.
    CDeviceList m_devices;
};

// The certificate notice as a balloon text of size characters with the terminator: the whole
// notice when it fits, else as many whole lines from its start as fit beside its last line (the
// closing sentence), which is always kept.
void FitNoticeToBalloon(const wchar_t* notice, wchar_t* out, size_t size);

// The main window of a running Keywarden, for the program's entry.
std::unique_ptr<IMainWindow> MakeMainWindow();
