// Keywarden's face driven through its real windows: the tree and its buttons, the tray icon's
// record, the menu, the small dialogs (answered from a timer while they run modally) and the
// language switch.
#include "ui_support.h"

using namespace uitest;

TEST_F(UiTest, NoDeviceIsSelectedAndTheItemButtonsAreOff) {
    auto roots = Roots();
    ASSERT_EQ(roots.size(), 1u);
    wchar_t text[260] = {};
    TVITEMW tv = Item(roots[0], text);
    EXPECT_EQ(std::wstring(text), Str(211));
    EXPECT_EQ(tv.lParam, 0);
    EXPECT_EQ(Selected(), roots[0]);
    EXPECT_FALSE(Enabled(IDC_MODIFY_PIN));
    EXPECT_FALSE(Enabled(IDC_MODIFY_LABEL));
    EXPECT_FALSE(Enabled(IDC_VIEW_CERT));
    EXPECT_TRUE(Enabled(IDC_VIEW_DEVINFO));
    EXPECT_TRUE(Enabled(IDC_REFRESH));
    // Hidden at start, with the tooltip of the caption string.
    EXPECT_FALSE(IsWindowVisible(dlg_->Handle()));
    EXPECT_EQ(std::wstring(dlg_->Tray().Record().szTip), Str(202));
    EXPECT_EQ(dlg_->Tray().Record().uID, 205u);
}

TEST_F(UiTest, UnformattedKeyTurnsItsButtonsOff) {
    Command(ID_LANG_EN);
    // The key still has its factory PIN: its prompt comes on insert and is declined.
    std::wstring prompt;
    ArmSteps({{IsTextDlg, [&](HWND d) {
                   prompt = ItemText(d, IDC_TEXT);
                   Click(d, IDCANCEL);
               }}});
    Insert("UU");
    PumpUntil([] { return g_next == g_steps.size(); }, 20000);
    EXPECT_EQ(prompt, Str(IDS_DEFAULT_PIN_PROMPT));
    auto roots = Roots();
    ASSERT_EQ(roots.size(), 1u);
    EXPECT_EQ(ItemLabel(roots[0]), L"Unformatted Device");
    EXPECT_EQ(Selected(), roots[0]);
    EXPECT_FALSE(Enabled(IDC_MODIFY_PIN));
    EXPECT_FALSE(Enabled(IDC_MODIFY_LABEL));
    EXPECT_FALSE(Enabled(IDC_VIEW_CERT));
}

TEST_F(UiTest, KeyWithTwoContainersShowsFourCertificatesInOrderAndDoubleClickKeepsItOpen) {
    Insert("UA");
    auto roots = Roots();
    ASSERT_EQ(roots.size(), 1u);
    DevicePtr key = Device("UA");
    ASSERT_NE(key, nullptr);
    std::vector<CCertObject*> expected;
    for (const auto& c : key->containers)
        if (c)
            for (const CertPtr& cert : {c->exchangeCert, c->signatureCert})
                if (cert) expected.push_back(cert.get());
    ASSERT_EQ(expected.size(), 4u);
    auto certs = Children(roots[0]);
    ASSERT_EQ(certs.size(), 4u);
    for (size_t i = 0; i < certs.size(); ++i) {
        wchar_t text[260] = {};
        TVITEMW tv = Item(certs[i], text);
        EXPECT_EQ(reinterpret_cast<CItemObj*>(tv.lParam), static_cast<CItemObj*>(expected[i])) << i;
        EXPECT_EQ(std::wstring(text), std::wstring(expected[i]->subjectName));
        EXPECT_EQ(tv.iImage, 1);
    }
    wchar_t text[260];
    EXPECT_EQ(Item(roots[0], text).iImage, 0);
    EXPECT_TRUE(Item(roots[0], text).state & TVIS_EXPANDED);
    EXPECT_TRUE(Enabled(IDC_MODIFY_PIN));
    EXPECT_TRUE(Enabled(IDC_MODIFY_LABEL));
    EXPECT_FALSE(Enabled(IDC_VIEW_CERT));

    // A real double click on the key's item.
    RECT r = {};
    memcpy(&r, &roots[0], sizeof roots[0]);
    ASSERT_TRUE(SendMessageW(Tree(), TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&r)));
    LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    // (A button press would start the tree's drag tracking, which waits for the real mouse.)
    SendMessageW(Tree(), WM_LBUTTONDBLCLK, MK_LBUTTON, at);
    WaitIdle();  // whatever the double click posted
    EXPECT_TRUE(Item(roots[0], text).state & TVIS_EXPANDED);

    // Selecting a certificate turns View Cert on and the key buttons off.
    SendMessageW(Tree(), TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(certs[1]));
    EXPECT_TRUE(Enabled(IDC_VIEW_CERT));
    EXPECT_FALSE(Enabled(IDC_MODIFY_PIN));
    EXPECT_FALSE(Enabled(IDC_MODIFY_LABEL));
}

TEST_F(UiTest, LanguageSwitchRenewsWindowTrayTreeAndOpenDialog) {
    Command(ID_LANG_ZH_CN);
    HWND main = dlg_->Handle();
    EXPECT_EQ(Text(main), L"KEVAUKey\u7528\u6237\u7BA1\u7406\u5DE5\u5177");
    RunCommandWithSteps(IDC_VIEW_DEVINFO,
                        {{IsTextDlg, [&](HWND d) {
                              EXPECT_EQ(Text(d), L"KEVAUKey\u7528\u6237\u7BA1\u7406\u5DE5\u5177");
                              EXPECT_EQ(ItemText(d, IDC_TEXT),
                                        L"\u8F6F\u4EF6\u7248\u672C\uFF1A1.1.8.45");
                              Command(ID_LANG_EN);
                              // Renewed at once, the dialog still open.
                              EXPECT_TRUE(IsWindow(d));
                              EXPECT_EQ(Text(d), L"KEVA UKey Tools");
                              EXPECT_EQ(ItemText(d, IDC_TEXT), L"Version: 1.1.8.45");
                              EXPECT_EQ(ItemText(d, IDOK), L"OK");
                              Click(d, IDOK);
                          }}});
    EXPECT_EQ(Text(main), L"KEVA UKey Tools");
    EXPECT_EQ(ItemText(main, IDC_MODIFY_PIN), L"Change UKey PIN");
    EXPECT_EQ(ItemText(main, IDC_MODIFY_LABEL), L"Change Label");
    EXPECT_EQ(ItemText(main, IDC_VIEW_CERT), L"View Cert");
    EXPECT_EQ(ItemText(main, IDC_VIEW_DEVINFO), L"View Version Info");
    EXPECT_EQ(ItemText(main, IDC_REFRESH), L"Refresh");
    EXPECT_EQ(ItemText(main, IDOK), L"Close");
    EXPECT_EQ(ItemText(main, IDC_CERT_GROUP), L"Cert");
    EXPECT_EQ(std::wstring(dlg_->Tray().Record().szTip), L"KEVA UKey Tools");
    ASSERT_EQ(Roots().size(), 1u);
    EXPECT_EQ(ItemLabel(Roots()[0]), L"No Device");

    Command(ID_LANG_ZH_TW);
    EXPECT_EQ(ItemText(main, IDC_REFRESH), L"\u5237  \u65B0");
    EXPECT_EQ(ItemLabel(Roots()[0]), L"\u6C92\u6709\u8A2D\u5099");
    // The menu: "Open" in bold, the fixed language names, texts of the current language.
    HMENU popup = nullptr;
    HMENU menu = BuildTrayMenu(&popup);
    ASSERT_NE(menu, nullptr);
    wchar_t item[64] = {};
    GetMenuStringW(popup, 2, item, 64, MF_BYPOSITION);
    EXPECT_EQ(std::wstring(item), L"\u8A9E  \u8A00");
    EXPECT_EQ(GetMenuDefaultItem(popup, TRUE, 0), 0u);
    EXPECT_EQ(GetMenuItemID(popup, 0), static_cast<UINT>(ID_TRAY_OPEN));
    EXPECT_EQ(GetMenuItemID(popup, 4), static_cast<UINT>(ID_TRAY_EXIT));
    HMENU langs = GetSubMenu(popup, 2);
    const wchar_t* names[] = {L"\u7B80\u4F53\u4E2D\u6587", L"\u7E41\u9AD4\u4E2D\u6587", L"EngLish"};
    for (int i = 0; i < 3; ++i) {
        GetMenuStringW(langs, i, item, 64, MF_BYPOSITION);
        EXPECT_EQ(std::wstring(item), names[i]);
        EXPECT_EQ(GetMenuItemID(langs, i), static_cast<UINT>(ID_LANG_ZH_CN + i));
    }
    DestroyMenu(menu);
}

TEST_F(UiTest, EmptyLabelIsRefusedAndThirtyChineseCharactersTakeSixtyBytes) {
    Command(ID_LANG_EN);
    Insert("UB");
    std::wstring label;
    for (int i = 0; i < 30; ++i) label += static_cast<wchar_t>(0x4E00 + i * 7);
    bool refused = false;
    RunCommandWithSteps(IDC_MODIFY_LABEL,
                        {{IsLabelDlg,
                          [&](HWND d) {
                              EXPECT_EQ(Text(d), L"Please Input New Label");
                              EXPECT_EQ(ItemText(d, IDC_LABEL_EDIT), L"Key UB");
                              SetDlgItemTextW(d, IDC_LABEL_EDIT, L"");
                              Click(d, IDOK);            // the message below runs inside
                              EXPECT_TRUE(IsWindow(d));  // still open
                          }},
                         {IsTextDlg,
                          [&](HWND d) {
                              refused = ItemText(d, IDC_TEXT) == L"The label can not be empty.";
                              EXPECT_FALSE(IsWindowVisible(GetDlgItem(d, IDCANCEL)));
                              Click(d, IDOK);
                          }},
                         {IsLabelDlg, [&](HWND d) {
                              // The edit takes no more than 30 characters.
                              SetDlgItemTextW(d, IDC_LABEL_EDIT, L"");
                              SendDlgItemMessageW(
                                  d, IDC_LABEL_EDIT, EM_REPLACESEL, FALSE,
                                  reinterpret_cast<LPARAM>((label + L"XYZ").c_str()));
                              EXPECT_EQ(ItemText(d, IDC_LABEL_EDIT), label);
                              Click(d, IDOK);
                          }}});
    EXPECT_TRUE(refused);
    softkey::Store store(softkey::Store::default_root());
    std::string stored = store.load("UB").label;
    EXPECT_EQ(stored.size(), 60u);
    char gbk[128] = {};
    WideCharToMultiByte(936, 0, label.c_str(), -1, gbk, sizeof gbk, nullptr, nullptr);
    EXPECT_EQ(stored, std::string(gbk));
    ASSERT_EQ(Roots().size(), 1u);
    EXPECT_EQ(ItemLabel(Roots()[0]), label);
    PumpUntil(
        [&] { return std::wstring(dlg_->Tray().Record().szInfo) == L"Change label successfully"; },
        10000);
    EXPECT_EQ(std::wstring(dlg_->Tray().Record().szInfo), L"Change label successfully");
    // The next rebuild shows the same label.
    Command(ID_LANG_EN);
    EXPECT_EQ(ItemLabel(Roots()[0]), label);
}

TEST_F(UiTest, PullingAKeyClosesItsDialogsAndNotAnotherKeys) {
    Insert("UB");
    Insert("UA");
    DevicePtr ua = Device("UA");
    DevicePtr ub = Device("UB");
    ASSERT_TRUE(ua && ub);
    // The version dialog of UA stays while UB goes, and ends when UA goes.
    Select(ua);
    HWND version = nullptr;
    RunCommandWithSteps(IDC_VIEW_DEVINFO,
                        {{IsTextDlg,
                          [&](HWND d) {
                              version = d;
                              EXPECT_NE(ItemText(d, IDC_TEXT).find(L"UA"), std::wstring::npos);
                              Pull("UB");
                          }},
                         // Once UB's pull has been applied (listed no more, its certificates gone).
                         {[&](HWND d) {
                              return d == version && dlg_->Devices().Snapshot().size() == 1 &&
                                     !HasCertificatesOf(L"UB");
                          },
                          [&](HWND) { Pull("UA"); }}});
    EXPECT_FALSE(IsWindow(version));
    WaitIdle();
    EXPECT_TRUE(dlg_->Devices().Snapshot().empty());

    // The label and message dialogs of a key end when it goes.
    Insert("UA");
    ua = Device("UA");
    Select(ua);
    RunCommandWithSteps(IDC_MODIFY_LABEL, {{IsLabelDlg, [&](HWND) { Pull("UA"); }}});
    WaitIdle();
    EXPECT_TRUE(dlg_->Devices().Snapshot().empty());
    softkey::Store store(softkey::Store::default_root());
    EXPECT_EQ(store.load("UA").label, "Key UA");

    Insert("UA");
    Insert("UB");
    ua = Device("UA");
    ArmSteps({{IsTextDlg, [&](HWND) { Pull("UB"); }}, {IsTextDlg, [&](HWND d) {
                                                           EXPECT_EQ(ItemText(d, IDC_TEXT),
                                                                     Str(239));
                                                           Pull("UA");
                                                       }}});
    EXPECT_EQ(dlg_->Dialogs().ShowMessage(dlg_->Handle(), ua, 239, 0, 0), 2);
    EXPECT_EQ(g_next, 2u);
    WaitIdle();
    EXPECT_TRUE(dlg_->Devices().Snapshot().empty());
}

TEST_F(UiTest, VersionDialogOfAKeyShowsItsSerialAndFirmware) {
    Command(ID_LANG_EN);
    Insert("UA");
    DevicePtr ua = Device("UA");
    wchar_t text[2048];
    CVersionDlg::BuildText(ua.get(), text, 2048);
    // The test keys' firmware bytes are 0a 1b 2c 3d.
    EXPECT_EQ(std::wstring(text),
              L"Device ID: UA\r\nCOS Version: 0A 1B 2C 3D\r\nVersion: 1.1.8.45");
    CVersionDlg::BuildText(nullptr, text, 2048);
    EXPECT_EQ(std::wstring(text), L"Version: 1.1.8.45");
    // From a certificate item: the certificate's key.
    auto certs = Children(Roots()[0]);
    ASSERT_FALSE(certs.empty());
    SendMessageW(Tree(), TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(certs[0]));
    RunCommandWithSteps(IDC_VIEW_DEVINFO,
                        {{IsTextDlg, [&](HWND d) {
                              EXPECT_EQ(ItemText(d, IDC_TEXT).rfind(L"Device ID: UA", 0), 0u);
                              Click(d, IDOK);
                          }}});
}

TEST_F(UiTest, BalloonsShowTheirStringAndTheCertificateNotice) {
    Command(ID_LANG_EN);
    SendMessageW(dlg_->Handle(), UM_BALLOON, 219, 0);
    EXPECT_EQ(std::wstring(dlg_->Tray().Record().szInfo), L"UKey inserted");
    EXPECT_EQ(dlg_->Tray().Record().uFlags, static_cast<UINT>(NIF_INFO));
    EXPECT_EQ(dlg_->Tray().Record().dwInfoFlags, static_cast<DWORD>(NIIF_INFO));
    // "%" sequences stay as they are with argument 0.
    SendMessageW(dlg_->Handle(), UM_BALLOON, 247, 0);
    EXPECT_EQ(std::wstring(dlg_->Tray().Record().szInfo), L"Update Device Info Failed[%#x]");
    SendMessageW(dlg_->Handle(), UM_BALLOON, 247, 0x1F);
    EXPECT_EQ(std::wstring(dlg_->Tray().Record().szInfo), L"Update Device Info Failed[0x1f]");

    // A key whose certificate ends in ten days: its notice is the balloon's text.
    Command(ID_LANG_ZH_CN);
    Insert("UE");
    PumpUntil(
        [&] {
            return std::wstring(dlg_->Tray().Record().szInfoTitle) == L"\u8BC1\u4E66\u6D88\u606F";
        },
        10000);
    std::wstring info = dlg_->Tray().Record().szInfo;
    EXPECT_EQ(std::wstring(dlg_->Tray().Record().szInfoTitle), L"\u8BC1\u4E66\u6D88\u606F");
    EXPECT_NE(info.find(L"\u8DDD\u79BB\u5230\u671F"), std::wstring::npos) << info.size();
    EXPECT_NE(info.find(Str(253)), std::wstring::npos);
    // Re-reading the key for a button (in another language) leaves the collected notice alone.
    Command(ID_LANG_EN);
    Select(Device("UE"));
    RunCommandWithSteps(IDC_VIEW_DEVINFO, {{IsTextDlg, [](HWND d) { Click(d, IDOK); }}});
    SendMessageW(dlg_->Handle(), UM_BALLOON, IDS_CERT_NOTICE_TITLE, 0);
    EXPECT_EQ(std::wstring(dlg_->Tray().Record().szInfo), info);
}

TEST_F(UiTest, QuestionShowsTwoButtonsOnOneRowAndItsWholeText) {
    Command(ID_LANG_EN);
    bool checked = false;
    ArmSteps({{IsTextDlg, [&](HWND d) {
                   RECT ok, cancel, text;
                   GetWindowRect(GetDlgItem(d, IDOK), &ok);
                   GetWindowRect(GetDlgItem(d, IDCANCEL), &cancel);
                   GetWindowRect(GetDlgItem(d, IDC_TEXT), &text);
                   EXPECT_TRUE(IsWindowVisible(GetDlgItem(d, IDCANCEL)));
                   EXPECT_EQ(ok.top, cancel.top);
                   EXPECT_LE(ok.right, cancel.left);
                   EXPECT_GE(ok.top, text.bottom);
                   EXPECT_EQ(ItemText(d, IDCANCEL), L"Cancel");
                   // The whole prompt fits in its control.
                   HWND label = GetDlgItem(d, IDC_TEXT);
                   RECT need = {0, 0, text.right - text.left, 0};
                   HDC dc = GetDC(label);
                   HGDIOBJ old = SelectObject(
                       dc, reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0)));
                   DrawTextW(dc, Str(228).c_str(), -1, &need,
                             DT_CALCRECT | DT_WORDBREAK | DT_EDITCONTROL);
                   SelectObject(dc, old);
                   ReleaseDC(label, dc);
                   EXPECT_LE(need.bottom - need.top, text.bottom - text.top);
                   checked = true;
                   Click(d, IDCANCEL);
               }}});
    EXPECT_EQ(dlg_->Dialogs().ShowMessage(dlg_->Handle(), nullptr, 228, 0, 4), 2);
    EXPECT_TRUE(checked);
}

TEST_F(UiTest, EscapeEnterAndTheCloseBoxOnlyHide) {
    Command(ID_TRAY_OPEN);
    EXPECT_TRUE(IsWindowVisible(dlg_->Handle()));
    SendMessageW(dlg_->Handle(), WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindowVisible(dlg_->Handle()));
    SendMessageW(dlg_->Handle(), dlg_->Tray().Message(), 205, WM_LBUTTONDBLCLK);
    EXPECT_TRUE(IsWindowVisible(dlg_->Handle()));
    Command(IDOK);
    EXPECT_FALSE(IsWindowVisible(dlg_->Handle()));
    // Another icon's notification does nothing.
    SendMessageW(dlg_->Handle(), dlg_->Tray().Message(), 7, WM_LBUTTONDBLCLK);
    EXPECT_FALSE(IsWindowVisible(dlg_->Handle()));
    EXPECT_TRUE(IsWindow(dlg_->Handle()));
}
