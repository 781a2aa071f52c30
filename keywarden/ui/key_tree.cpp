#include "key_tree.h"

#include "dialogs.h"
#include "key_texts.h"
#include "log.h"
#include "resource.h"
#include "resources.h"

CKeyTree::~CKeyTree() {
    m_itemObjects.clear();
    if (m_images) ImageList_Destroy(m_images);
}

void CKeyTree::Attach(HWND tree, UINT dpi) {
    m_tree = tree;
    SetDpi(dpi);
}

void CKeyTree::SetDpi(UINT dpi) {
    if (!m_tree) return;
    SendMessageW(m_tree, WM_SETFONT, reinterpret_cast<WPARAM>(ChineseUiFont(dpi)), TRUE);
    // 24 x 24 at 96 dpi; the icons come at the large-icon size of the dpi and are drawn into
    // the list's size.
    const int size = ScaleToDpi(24, dpi);
    HIMAGELIST images = ImageList_Create(size, size, ILC_COLOR32, 6, 4);
    for (int id : {IDI_KEY, IDI_CERT}) {
        if (HICON icon = LoadIconForDpi(id, SM_CXICON, dpi)) {
            ImageList_AddIcon(images, icon);
            DestroyIcon(icon);
        }
    }
    SendMessageW(m_tree, TVM_SETIMAGELIST, TVSIL_NORMAL, reinterpret_cast<LPARAM>(images));
    if (m_images) ImageList_Destroy(m_images);
    m_images = images;
}

void CKeyTree::Clear() {
    LogScope trace("CMainDlg::CleanTreeData");
    if (!m_tree) return;
    m_rebuilding = true;
    SendMessageW(m_tree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
    m_rebuilding = false;
    // Only now, with no item left to point at them, may the objects go.
    m_itemObjects.clear();
}

HTREEITEM CKeyTree::InsertItem(const wchar_t* text, int image, HTREEITEM parent,
                               std::shared_ptr<CItemObj> object) {
    if (!m_tree) return nullptr;
    TVINSERTSTRUCTW ins = {};
    ins.hParent = parent ? parent : TVI_ROOT;
    ins.hInsertAfter = TVI_LAST;
    ins.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
    ins.item.pszText = const_cast<wchar_t*>(text ? text : L"");
    ins.item.iImage = image;
    ins.item.iSelectedImage = image;
    ins.item.lParam = reinterpret_cast<LPARAM>(object.get());
    if (object) m_itemObjects.push_back(std::move(object));
    auto item = reinterpret_cast<HTREEITEM>(
        SendMessageW(m_tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&ins)));
    if (item && !parent) {
        SendMessageW(m_tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
        SetFocus(m_tree);
    }
    return item;
}

void CKeyTree::Rebuild(const KeyList& keys) {
    LogScope trace("CMainDlg::UpdateTreeUI");
    ApplyLanguage(LanguageChoice());
    if (!m_tree) return;
    Clear();
    if (keys.empty()) {
        InsertItem(UiText(IDS_NO_DEVICE).c_str(), 0, nullptr, nullptr);
        return;
    }
    std::vector<HTREEITEM> keyItems;
    for (const DevicePtr& dev : keys) {
        wchar_t text[260];
        KeyDisplayName(*dev, text);
        HTREEITEM item = InsertItem(text, 0, nullptr, dev);
        if (!item) continue;
        keyItems.push_back(item);
        // Containers are not shown: their certificates, exchange before signature.
        for (const CertPtr& cert : dev->Certificates())
            InsertItem(cert->subjectName, 1, item, cert);
    }
    for (HTREEITEM item : keyItems)
        SendMessageW(m_tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item));
}

CItemObj* CKeyTree::ItemObject(HTREEITEM item) const {
    if (!item) return nullptr;
    TVITEMW tv = {};
    tv.mask = TVIF_PARAM | TVIF_HANDLE;
    tv.hItem = item;
    if (!SendMessageW(m_tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv))) return nullptr;
    return reinterpret_cast<CItemObj*>(tv.lParam);
}

std::shared_ptr<CItemObj> CKeyTree::SelectedObject(HTREEITEM* itemOut) const {
    auto item = reinterpret_cast<HTREEITEM>(SendMessageW(m_tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    if (itemOut) *itemOut = item;
    CItemObj* obj = ItemObject(item);
    if (!obj) return nullptr;
    for (const auto& owned : m_itemObjects)
        if (owned.get() == obj) return owned;
    return nullptr;
}

HTREEITEM CKeyTree::ItemOfKey(const CDevObject* dev) const {
    for (auto item =
             reinterpret_cast<HTREEITEM>(SendMessageW(m_tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
         item; item = reinterpret_cast<HTREEITEM>(SendMessageW(m_tree, TVM_GETNEXTITEM, TVGN_NEXT,
                                                               reinterpret_cast<LPARAM>(item))))
        if (ItemObject(item) == static_cast<const CItemObj*>(dev)) return item;
    return nullptr;
}

bool CKeyTree::HasParent(HTREEITEM item) const {
    return item &&
           SendMessageW(m_tree, TVM_GETNEXTITEM, TVGN_PARENT, reinterpret_cast<LPARAM>(item)) != 0;
}

void CKeyTree::SelectKey(const CDevObject* dev) {
    if (HTREEITEM item = ItemOfKey(dev))
        SendMessageW(m_tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
}

void CKeyTree::SetKeyText(const CDevObject* dev, const wchar_t* text) {
    HTREEITEM item = ItemOfKey(dev);
    if (!item) return;
    TVITEMW tv = {};
    tv.mask = TVIF_TEXT | TVIF_HANDLE;
    tv.hItem = item;
    tv.pszText = const_cast<wchar_t*>(text);
    SendMessageW(m_tree, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
}
