// Resource ids of Keywarden: dialogs, controls, icons, pictures, menu commands and strings. The
// one place every id is declared; the resource script and the code both include it.
#pragma once

#define IDD_MAINDLG 129
#define IDC_CERT_GROUP 1000
#define IDC_DEVICE_TREE 1001
#define IDC_MODIFY_PIN 1002
#define IDC_MODIFY_LABEL 1003
#define IDC_VIEW_CERT 1004
#define IDC_VIEW_DEVINFO 1005
#define IDC_LOGO 1006
#define IDC_REFRESH 1007
#define IDC_LABEL_EDIT 1019
#define IDC_TEXT 1077
#define IDC_ABOUT_TEXT 1008
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#define IDD_ABOUTBOX 100
#define IDD_VERSION 130
#define IDD_LABEL 211
#define IDD_MESSAGE 216
#define IDD_MODIFYPIN 207
#define IDD_SOFTKB 209
#define IDD_FULLSCREEN 217

#define IDC_PIN_HINT 1009
#define IDC_OLD_PIN 1010
#define IDC_NEW_PIN 1011
#define IDC_NEW_PIN2 1012
#define IDC_SOFTKB_TOGGLE 1014
#define IDC_OLD_PIN_LABEL 1015
#define IDC_NEW_PIN_LABEL 1016
#define IDC_NEW_PIN2_LABEL 1017
#define IDC_SOFTKB_SHIFT 1074
#define IDC_SOFTKB_BACKSPACE 1076

#define IDI_APP 128
#define IDI_CERT 204
#define IDI_KEY 205
#define IDR_TRAYMENU 205
#define IDB_LOGO 206
#define IDB_KEYBOARD 208

#define ID_TRAY_OPEN 32782
#define ID_LANG_ZH_CN 32783
#define ID_LANG_ZH_TW 32784
#define ID_LANG_EN 32785
#define ID_TRAY_EXIT 32786
#define ID_APP_ABOUT 57664
// Accepted from other programs only: a full refresh without default-PIN prompts.
#define ID_SILENT_REFRESH 1539

// Strings (the same ids in every language).
#define IDS_CAPTION 202
#define IDS_UNFORMATTED_DEVICE 210
#define IDS_NO_DEVICE 211
#define IDS_MENU_OPEN 212
#define IDS_MENU_LANGUAGE 213
#define IDS_MENU_EXIT 218
#define IDS_UKEY_INSERTED 219
#define IDS_UKEY_REMOVED 220
#define IDS_ABOUT_TEXT 221
#define IDS_OK 222
#define IDS_DEVICE_ID 223
#define IDS_COS_VERSION 224
#define IDS_VERSION 225
#define IDS_PIN_WRONG 226
#define IDS_CANCEL 227
#define IDS_DEFAULT_PIN_PROMPT 228
#define IDS_LABEL_CAPTION 229
#define IDS_LABEL_CHANGED 230
#define IDS_LABEL_FAILED 231
#define IDS_LABEL_EMPTY 232
#define IDS_PIN_HINT 234
#define IDS_OLD_PIN 235
#define IDS_NEW_PIN 236
#define IDS_NEW_PIN2 237
#define IDS_PIN_CHANGED 238
#define IDS_PIN_LOCKED 239
#define IDS_PIN_MISMATCH 240
#define IDS_PIN_SAME 241
#define IDS_PIN_INVALID 242
#define IDS_SOFTKB_CAPTION 243
#define IDS_PIN_TOO_SIMPLE 244
#define IDS_PIN_CHANGE_FAILED 245
#define IDS_UPDATE_DEVINFO_FAILED 247
#define IDS_CERT_EXPIRED 250
#define IDS_CERT_EXPIRES_SOON 251
#define IDS_CERT_EXPIRES_TODAY 252
#define IDS_CERT_RENEW 253
#define IDS_CERT_NOTICE_TITLE 254
