// What the window's item buttons mean for the items of the key tree: which of them apply to a
// key or a certificate, and what commands 1002-1005 do with one. The one place that decides it.
#pragma once

#include <windows.h>

#include <memory>

#include "items.h"

class CDeviceList;
class CKeyDialogs;
class CKeyTree;

// The main window's action buttons.
enum ButtonMask : unsigned {
    BUTTON_MODIFY_PIN = 1,    // 1002
    BUTTON_MODIFY_LABEL = 2,  // 1003
    BUTTON_VIEW_CERT = 4,     // 1004
    BUTTON_REFRESH = 8,       // 1007
    BUTTONS_OF_ITEMS = BUTTON_MODIFY_PIN | BUTTON_MODIFY_LABEL | BUTTON_VIEW_CERT,
};

// The item buttons that apply to an item (among BUTTONS_OF_ITEMS): the PIN and label change for
// a formatted key, the certificate view for a certificate, none for an unformatted key or for no
// item ("No Device").
unsigned ItemButtons(const CItemObj* item);

// Runs command 1002 (PIN change), 1003 (label change), 1004 (certificate view) or 1005 (device
// information) for an item. For a key: the key is re-read through the device list first (on
// failure message 247 with the status), then its dialog opens. For a certificate: 1004 opens the
// system's certificate viewer, 1005 the device information of its key. The item stays alive for
// the whole command, whatever the tree and the list do meanwhile.
void RunKeyCommand(int commandId, const std::shared_ptr<CItemObj>& item, CDeviceList& devices,
                   CKeyTree& tree, CKeyDialogs& dialogs);
