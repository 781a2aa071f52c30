// The tray room: Keywarden's notification-area icon with its balloons and menu, and the window's
// way out of the tray.
#pragma once

#include <windows.h>
#include <shellapi.h>

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
    // Another icon (the same picture at another screen scale); the caller keeps it alive.
    bool SetIcon(HICON icon);
    // An information balloon; the text keeps at most 255 characters, the title 63. A balloon the
    // shell cannot take now (no icon there) waits for the icon to be added again.
    bool ShowBalloon(const wchar_t* title, const wchar_t* text);
    // The balloon of a string id: the string (formatted with argument when that is not 0)
    // without title; for IDS_CERT_NOTICE_TITLE the certificate notice under that title, cut to
    // the balloon's size by FitNoticeToBalloon.
    bool ShowStringBalloon(int stringId, LPARAM argument, const wchar_t* notice);
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

// The certificate notice as a balloon text of size characters with the terminator: the whole
// notice when it fits, else as many whole lines from its start as fit beside its last line (the
// closing sentence), which is always kept.
void FitNoticeToBalloon(const wchar_t* notice, wchar_t* out, size_t size);

// Menu 205's first pop-up with the texts of the current language; destroy the returned menu (its
// parent) after use.
HMENU BuildTrayMenu(HMENU* popup);
// The tray menu at the cursor, its commands sent to window.
void ShowTrayMenu(HWND window);
// Shows the window, drawn growing out of the tray when it was hidden or minimised.
void ShowFromTray(HWND window);
