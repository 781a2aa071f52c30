// The key tree room: the window's tree control of the listed keys and their certificates, and
// the objects its items stand for. Everything runs on the user-interface thread.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <vector>

#include "device_list.h"
#include "items.h"

class CKeyTree {
  public:
    CKeyTree() = default;
    // The items' objects go, then the image list.
    ~CKeyTree();
    CKeyTree(const CKeyTree&) = delete;
    CKeyTree& operator=(const CKeyTree&) = delete;

    // Takes over the tree control: its font and its images (key, certificate), at the dpi of
    // its window.
    void Attach(HWND tree, UINT dpi);
    // Makes the font and the images again for another dpi (the window moved to another screen).
    void SetDpi(UINT dpi);
    HIMAGELIST Images() const { return m_images; }
    HWND Window() const { return m_tree; }

    // Rebuilds the whole tree from keys; the items keep their objects alive until the next
    // rebuild. The last key (or "No Device") is selected.
    void Rebuild(const KeyList& keys);
    // A rebuild is deleting the items: selection changes meanwhile mean nothing.
    bool Rebuilding() const { return m_rebuilding; }

    // The object of a tree item; it stays alive until the tree is rebuilt.
    CItemObj* ItemObject(HTREEITEM item) const;
    // The selected item's object, kept alive for the caller however the tree changes.
    std::shared_ptr<CItemObj> SelectedObject(HTREEITEM* item = nullptr) const;
    // The item is a certificate's (it has a parent).
    bool HasParent(HTREEITEM item) const;
    // Selects the item of a key, wherever a rebuild has put it.
    void SelectKey(const CDevObject* dev);
    // Gives the item of a key a new text.
    void SetKeyText(const CDevObject* dev, const wchar_t* text);

  private:
    // Empties the tree; selection changes meanwhile are ignored.
    void Clear();
    HTREEITEM InsertItem(const wchar_t* text, int image, HTREEITEM parent,
                         std::shared_ptr<CItemObj> object);
    HTREEITEM ItemOfKey(const CDevObject* dev) const;

    HWND m_tree = nullptr;
    HIMAGELIST m_images = nullptr;
    bool m_rebuilding = false;
    // What the tree items point at, in item order: alive until the items are gone.
    std::vector<std::shared_ptr<CItemObj>> m_itemObjects;
};
