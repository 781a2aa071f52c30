// The small modal dialogs of the main window: the label change, the message, the version and
// the about dialog. The first three belong to one key and close themselves when it is pulled.
#pragma once

#include <windows.h>

#include "dpi.h"
#include "items.h"
#include "resource.h"

class CKeyDialogs;

// Loads a string of the thread's language into a 1024-character buffer.
struct UiText {
    explicit UiText(int id);
    const wchar_t* c_str() const { return text; }
    wchar_t text[1024];
};

// A modal dialog on a template; the derived class handles initialisation and commands.
class CModalDialog {
  public:
    virtual ~CModalDialog() = default;
    INT_PTR Run(HWND parent, int templateId);
    void End(INT_PTR result);
    HWND m_hWnd = nullptr;

  protected:
    virtual void OnInit() = 0;
    // Returns true when handled. Cancel and Escape end with 2 unless handled.
    virtual bool OnCommand(int id) = 0;
    // Any other message, before the default handling; true when handled (result is returned).
    virtual bool OnMessage(UINT, WPARAM, LPARAM, INT_PTR*) { return false; }
    // After the dialog and its children were laid out at a new dpi: fonts and pictures of the
    // dialog's own are made again here.
    virtual void OnDpiChanged() {}
    void CenterOnParent();
    UINT Dpi() const { return m_dpi.Dpi(); }

  private:
    static INT_PTR CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    DialogDpi m_dpi;
};

// Dialogs that belong to one key. RemoveDlg ends the dialog with 2 when its key's device name
// equals the given one, ignoring case.
class CDevBaseDlg {
  public:
    virtual void RemoveDlg(const char* devName) = 0;
    virtual void UpdateTexts() = 0;

  protected:
    ~CDevBaseDlg() = default;
};

// Ends the dialog with 2 when its key's device name equals the given one (ignoring case).
class CKeyDialog : public CModalDialog, public CDevBaseDlg {
  public:
    CKeyDialog(DevicePtr dev, const char* traceName)
        : m_dev(std::move(dev)), m_traceName(traceName) {}
    void RemoveDlg(const char* devName) override;

  protected:
    DevicePtr m_dev;  // keeps the key's object while the dialog runs, listed or not
    const char* m_traceName;
};

class CMessageDlg : public CKeyDialog {
  public:
    CMessageDlg(DevicePtr dev, int stringId, ULONG argument, int kind)
        : CKeyDialog(std::move(dev), "CMessageDlg::RemoveDlg"),
          m_stringId(stringId),
          m_argument(argument),
          m_kind(kind) {}
    void RemoveDlg(const char* devName) override;
    void UpdateTexts() override;
    // The text shown for a string id and argument (formats where the string takes one).
    static void FormatText(int stringId, ULONG argument, wchar_t* out, size_t size);

  protected:
    void OnInit() override;
    bool OnCommand(int id) override;
    void OnDpiChanged() override;

  private:
    void GrowToText(const wchar_t* text);
    int m_stringId;
    ULONG m_argument;
    int m_kind;  // 0 = OK only, 4 = OK and Cancel
};

class CVersionDlg : public CKeyDialog {
  public:
    explicit CVersionDlg(DevicePtr dev) : CKeyDialog(std::move(dev), "CVersionDlg::RemoveDlg") {}
    void UpdateTexts() override;
    // The text of the dialog: device line and firmware line for a key, then the version.
    static void BuildText(const CDevObject* dev, wchar_t* out, size_t size);

  protected:
    void OnInit() override;
    bool OnCommand(int id) override;
};

class CModifyDevLabel : public CKeyDialog {
  public:
    CModifyDevLabel(DevicePtr dev, CKeyDialogs* owner)
        : CKeyDialog(std::move(dev), "CModifyDevLabel::RemoveDlg"), m_owner(owner) {}
    ~CModifyDevLabel() override;
    void UpdateTexts() override;
    const wchar_t* Label() const { return m_label; }

  protected:
    void OnInit() override;
    bool OnCommand(int id) override;
    void OnDpiChanged() override;

  private:
    void OnOK();
    CKeyDialogs* m_owner;
    HWND m_edit = nullptr;
    HFONT m_font = nullptr;
    wchar_t m_label[128] = {};
};

class CAboutDlg : public CModalDialog {
  public:
    ~CAboutDlg() override;
    void UpdateTexts();

  protected:
    void OnInit() override;
    bool OnCommand(int id) override;
    void OnDpiChanged() override;

  private:
    HICON m_icon = nullptr;  // the program's icon at the dialog's dpi
};

// The 10-point font of the tree and the label edit ("微软雅黑") at a dpi, created once for the
// process and each dpi.
HFONT ChineseUiFont(UINT dpi);
