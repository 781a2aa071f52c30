#include "key_commands.h"

#include <prsht.h>
#include <wincrypt.h>
#include <cryptuiapi.h>

#include "device_list.h"
#include "key_dialogs.h"
#include "key_tree.h"
#include "kit/platform.h"
#include "log.h"
#include "resource.h"

namespace {

// The system's certificate viewer on the window, without its "install" button.
void ViewCertificate(const CCertObject& cert, HWND parent) {
    // The viewer's library is bound when it is needed (not every toolchain ships its import
    // library), from the system folder only.
    kit::Module ui = kit::Module::load_system("cryptui.dll");
    if (!ui) return;
    using ViewFn = BOOL(WINAPI*)(PCCRYPTUI_VIEWCERTIFICATE_STRUCTW, BOOL*);
    auto view = ui.function<ViewFn>("CryptUIDlgViewCertificateW");
    PCCERT_CONTEXT ctx = view
                             ? CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                                            cert.der, cert.derLength)
                             : nullptr;
    if (!ctx) return;
    CRYPTUI_VIEWCERTIFICATE_STRUCTW info = {};
    info.dwSize = sizeof info;
    info.hwndParent = parent;
    info.dwFlags = CRYPTUI_DISABLE_ADDTOSTORE;
    info.pCertContext = ctx;
    BOOL changed = FALSE;
    view(&info, &changed);
    CertFreeCertificateContext(ctx);
}

struct Rooms {
    CDeviceList& devices;
    CKeyTree& tree;
    CKeyDialogs& dialogs;
};

void RunForKey(int commandId, const DevicePtr& dev, const Rooms& rooms) {
    LogScope trace("CDevObject::ButtonClick");
    ULONG rv = rooms.devices.RefreshKey(dev).status;  // its expiries are nobody's news
    // The rebuild selected the last key; the command goes on with this one.
    rooms.tree.SelectKey(dev.get());
    if (rv != 0) {
        LogMessage(LOG_LEVEL_ERROR, "更新设备信息失败[%#x]", static_cast<unsigned>(rv));
        rooms.dialogs.ShowMessage(rooms.dialogs.Window(), dev, IDS_UPDATE_DEVINFO_FAILED, rv, 0);
        return;
    }
    switch (commandId) {
        case IDC_MODIFY_PIN:
            rooms.dialogs.ModifyPIN(dev);
            break;
        case IDC_MODIFY_LABEL:
            rooms.dialogs.ModifyDevLabel(dev);
            break;
        case IDC_VIEW_DEVINFO:
            rooms.dialogs.ShowVersionDlg(dev);
            break;
    }
}

void RunForCertificate(int commandId, const CertPtr& cert, const Rooms& rooms) {
    LogScope trace("CCertObject::ButtonClick");
    if (commandId == IDC_VIEW_CERT) {
        if (!rooms.dialogs.PromptBusy()) ViewCertificate(*cert, rooms.dialogs.Window());
    } else if (commandId == IDC_VIEW_DEVINFO) {
        if (DevicePtr dev = cert->Device()) rooms.dialogs.ShowVersionDlg(dev);
    }
}

}  // namespace

unsigned ItemButtons(const CItemObj* item) {
    if (!item) return 0;
    switch (item->GetItemType()) {
        case ITEM_DEVICE:
            return static_cast<const CDevObject*>(item)->IsUnformatted()
                       ? 0u
                       : unsigned{BUTTON_MODIFY_PIN | BUTTON_MODIFY_LABEL};
        case ITEM_CERT:
            return BUTTON_VIEW_CERT;
    }
    return 0;  // containers are never shown
}

void RunKeyCommand(int commandId, const std::shared_ptr<CItemObj>& item, CDeviceList& devices,
                   CKeyTree& tree, CKeyDialogs& dialogs) {
    if (!item) return;
    const Rooms rooms{devices, tree, dialogs};
    switch (item->GetItemType()) {
        case ITEM_DEVICE:
            RunForKey(commandId, std::static_pointer_cast<CDevObject>(item), rooms);
            break;
        case ITEM_CERT:
            RunForCertificate(commandId, std::static_pointer_cast<CCertObject>(item), rooms);
            break;
    }
}
