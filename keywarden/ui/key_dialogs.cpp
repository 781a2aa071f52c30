#include "key_dialogs.h"

#include "key_tree.h"
#include "keywarden_window.h"
#include "log.h"
#include "pin_dialog.h"
#include "resource.h"

// Registers a dialog as the open one of its kind while it runs, so that a language switch and
// the removal of its key reach it.
class OpenDialogScope {
  public:
    OpenDialogScope(CKeyDialogs* owner, CKeyDialogs::DialogSlot slot, CDevBaseDlg* dlg)
        : m_owner(owner), m_slot(slot), m_previous(owner->m_openDialogs[slot]) {
        m_owner->m_openDialogs[m_slot] = dlg;
    }
    ~OpenDialogScope() { m_owner->m_openDialogs[m_slot] = m_previous; }
    OpenDialogScope(const OpenDialogScope&) = delete;
    OpenDialogScope& operator=(const OpenDialogScope&) = delete;

  private:
    CKeyDialogs* m_owner;
    CKeyDialogs::DialogSlot m_slot;
    CDevBaseDlg* m_previous;
};

ULONG CKeyDialogs::ModifyPIN(const DevicePtr& dev) {
    if (m_promptBusy || !dev) return 0;
    LogScope trace("CMainDlg::ModifyPIN");
    if (dev->GetPinRetries() == 0) {
        ShowMessage(m_window, dev, IDS_PIN_LOCKED, 0, 0);
        PostMessageW(m_window, UM_BALLOON, IDS_PIN_LOCKED, 0);
        trace.SetEnd("%s end locked...");
        return 0;
    }
    // The list is held only while the key's reference is taken, never while the dimmed screen
    // is up: inserts and pulls go on meanwhile, and a pull of this key closes the dialog.
    DevicePtr key = m_devices.HoldForDialog(dev, "CMainDlg::ModifyPIN");
    CClockFullScreen host(key, this);
    {
        OpenDialogScope open(this, DLG_PIN, &host);
        host.Run(m_window, IDD_FULLSCREEN);
    }
    if (host.PinChanged())
        PostMessageW(m_window, UM_BALLOON, IDS_PIN_CHANGED, 0);
    else if (key->GetPinRetries() == 0 && !host.ReportedLocked())
        PostMessageW(m_window, UM_BALLOON, IDS_PIN_LOCKED, 0);
    trace.SetEnd("%s end ok...");
    return 0;
}

void CKeyDialogs::AskDefaultPin(const CDevObject* posted, bool silent) {
    LogScope trace("CMainDlg::OnShowDefPINDlg");
    if (m_promptBusy || m_openDialogs[DLG_PIN] || silent) return;
    // The key may have gone since the prompt was posted.
    DevicePtr dev = m_devices.FindListed(posted);
    if (!dev) return;
    m_promptBusy = true;
    HWND parent = GetActiveWindow();
    int answer = ShowMessage(parent ? parent : m_window, dev, IDS_DEFAULT_PIN_PROMPT, 0, 4);
    m_promptBusy = false;
    if (answer == 1 && dev->Probe()) ModifyPIN(dev);
}

ULONG CKeyDialogs::ModifyDevLabel(const DevicePtr& dev) {
    if (m_promptBusy || !dev) return 0;
    LogScope trace("CMainDlg::ModifyDevLabel");
    CModifyDevLabel dlg(dev, this);
    INT_PTR r;
    {
        OpenDialogScope open(this, DLG_LABEL, &dlg);
        r = dlg.Run(m_window, IDD_LABEL);
    }
    if (r == 1) {
        PostMessageW(m_window, UM_BALLOON, IDS_LABEL_CHANGED, 0);
        // The key's item, wherever the tree has put it meanwhile.
        m_tree.SetKeyText(dev.get(), dlg.Label());
    }
    return 0;
}

int CKeyDialogs::ShowMessage(HWND parent, const DevicePtr& dev, int stringId, ULONG argument,
                             int kind) {
    CMessageDlg dlg(dev, stringId, argument, kind);
    INT_PTR r;
    {
        OpenDialogScope open(this, DLG_MESSAGE, &dlg);
        r = dlg.Run(parent, IDD_MESSAGE);
    }
    return r == 1 ? 1 : 2;
}

ULONG CKeyDialogs::ShowVersionDlg(const DevicePtr& dev) {
    if (m_promptBusy) return 0;
    CVersionDlg dlg(dev);
    HWND parent = GetActiveWindow();
    OpenDialogScope open(this, DLG_VERSION, &dlg);
    dlg.Run(parent ? parent : m_window, IDD_VERSION);
    return 0;
}

void CKeyDialogs::ShowAboutDlg() {
    if (m_promptBusy || m_about) return;
    CAboutDlg dlg;
    m_about = &dlg;
    HWND parent = GetActiveWindow();
    dlg.Run(parent ? parent : m_window, IDD_ABOUTBOX);
    m_about = nullptr;
}

void CKeyDialogs::UpdateTexts() {
    if (m_about) m_about->UpdateTexts();
    // The default-PIN prompt is the open message dialog: renewed with the others.
    for (DialogSlot s : {DLG_VERSION, DLG_MESSAGE, DLG_LABEL, DLG_PIN})
        if (CDevBaseDlg* d = m_openDialogs[s]) d->UpdateTexts();
}

void CKeyDialogs::CloseDialogsOf(const char* devName) {
    // Ending a dialog that is already ending changes nothing.
    for (CDevBaseDlg* d : m_openDialogs)
        if (d) d->RemoveDlg(devName);
}
