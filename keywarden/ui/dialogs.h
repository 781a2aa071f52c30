// The small modal dialogs of the main window: the label change, the message, the version and
// the about dialog. The first three belong to one key and close themselves when it is pulled.
#pragma once

#include <windows.h>

#include "items.h"

class CKeywardenDlg;

constexpr int IDD_ABOUTBOX = 100;
constexpr int IDD_VERSION = 130;
constexpr int IDD_LABEL = 211;
constexpr int IDD_MESSAGE = 216;
constexpr int IDC_ABOUT_TEXT = 1008;
constexpr int IDC_LABEL_EDIT = 1019;
constexpr int IDC_TEXT = 1077;

// String ids of the dialogs.
enum : int {
    IDS_CAPTION = 202,
    IDS_ABOUT_TEXT = 221,
    IDS_OK = 222,
    IDS_DEVICE_ID = 223,
    IDS_COS_VERSION = 224,
    IDS_VERSION = 225,
    IDS_CANCEL = 227,
    IDS_DEFAULT_PIN_PROMPT = 228,
    IDS_LABEL_CAPTION = 229,
    IDS_LABEL_CHANGED = 230,
    IDS_LABEL_FAILED = 231,
    IDS_LABEL_EMPTY = 232,
};

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
    void CenterOnParent();

  private:
    static INT_PTR CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
};

// Ends the dialog with 2 when its key's device name equals the given one (ignoring case).
class CKeyDialog : public CModalDialog, public CDevBaseDlg {
  public:
    CKeyDialog(CDevObject* dev, const char* traceName) : m_dev(dev), m_traceName(traceName) {}
    void RemoveDlg(const char* devName) override;
    CDevObject* Device() const { return m_dev; }

  protected:
    CDevObject* m_dev;
    const char* m_traceName;
};

class CMessageDlg : public CKeyDialog {
  public:
    CMessageDlg(CDevObject* dev, int stringId, ULONG argument, int kind)
        : CKeyDialog(dev, "CMessageDlg::RemoveDlg"),
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

  private:
    void GrowToText(const wchar_t* text);
    int m_stringId;
    ULONG m_argument;
    int m_kind;  // 0 = OK only, 4 = OK and Cancel
};

class CVersionDlg : public CKeyDialog {
  public:
    explicit CVersionDlg(CDevObject* dev) : CKeyDialog(dev, "CVersionDlg::RemoveDlg") {}
    void UpdateTexts() override;
    // The text of the dialog: device line and firmware line for a key, then the version.
    static void BuildText(CDevObject* dev, wchar_t* out, size_t size);

  protected:
    void OnInit() override;
    bool OnCommand(int id) override;
};

class CModifyDevLabel : public CKeyDialog {
  public:
    CModifyDevLabel(CDevObject* dev, CKeywardenDlg* owner)
        : CKeyDialog(dev, "CModifyDevLabel::RemoveDlg"), m_owner(owner) {}
    ~CModifyDevLabel() override;
    void UpdateTexts() override;
    const wchar_t* Label() const { return m_label; }

  protected:
    void OnInit() override;
    bool OnCommand(int id) override;

  private:
    void OnOK();
    CKeywardenDlg* m_owner;
    HWND m_edit = nullptr;
    HFONT m_font = nullptr;
    wchar_t m_label[128] = {};
};

class CAboutDlg : public CModalDialog {
  public:
    void UpdateTexts();

  protected:
    void OnInit() override;
    bool OnCommand(int id) override;
};

// The 10-point font of the tree and the label edit ("微软雅黑"), created once for the process.
HFONT ChineseUiFont();
