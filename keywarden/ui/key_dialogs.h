// The key dialogs room: the dialogs the window opens for a key (message, PIN change, device
// information, label change) and the about dialog, the list of those open, and the default-PIN
// prompt. The dialogs ask this room, never the window, for messages of their own. Everything
// runs on the user-interface thread.
#pragma once

#include <windows.h>

#include "device_list.h"
#include "dialogs.h"
#include "items.h"

class CKeyTree;

class CKeyDialogs {
  public:
    // The tree shows a changed label; the list holds the keys the dialogs open for.
    CKeyDialogs(CDeviceList& devices, CKeyTree& tree) : m_devices(devices), m_tree(tree) {}
    CKeyDialogs(const CKeyDialogs&) = delete;
    CKeyDialogs& operator=(const CKeyDialogs&) = delete;

    // The window the dialogs belong to and their balloons are posted to.
    void SetWindow(HWND window) { m_window = window; }
    HWND Window() const { return m_window; }
    // A default-PIN prompt is up: the buttons' dialogs wait.
    bool PromptBusy() const { return m_promptBusy; }

    ULONG ModifyPIN(const DevicePtr& dev);
    // The default-PIN prompt of a key (posted while the tree was built for it), unless a PIN
    // change is open, a prompt is up or the window's refreshes are silent.
    void AskDefaultPin(const CDevObject* posted, bool silent);
    ULONG ModifyDevLabel(const DevicePtr& dev);
    ULONG ShowVersionDlg(const DevicePtr& dev);
    // A message on parent: kind 0 OK only, 4 OK and Cancel; 1 for OK, else 2.
    int ShowMessage(HWND parent, const DevicePtr& dev, int stringId, ULONG argument, int kind);
    void ShowAboutDlg();

    // The open dialogs take the texts of the thread's language.
    void UpdateTexts();
    // The open dialogs of the key with this device name end.
    void CloseDialogsOf(const char* devName);

  private:
    // The open dialogs (message, PIN change, device information, label); set while they run.
    enum DialogSlot { DLG_MESSAGE, DLG_PIN, DLG_VERSION, DLG_LABEL, DLG_COUNT };
    friend class OpenDialogScope;

    CDeviceList& m_devices;
    CKeyTree& m_tree;
    HWND m_window = nullptr;
    CAboutDlg* m_about = nullptr;
    CDevBaseDlg* m_openDialogs[DLG_COUNT] = {};
    bool m_promptBusy = false;
};
