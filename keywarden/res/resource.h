// Resource ids of Keywarden.
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
