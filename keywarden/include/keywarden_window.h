/* Keywarden's window protocol: how another program finds a running Keywarden and what it may
 * send it. Keywarden's one top-level window has the class KEYWARDEN_WINDOW_CLASS; other programs
 * find it by that class (FindWindow) and post it the messages and commands below. Included by the
 * window itself, keywarden-remote, the devkit's announcers and (as a generated NSIS include,
 * #define lines only) the setup script: keep every definition a one-line #define. */
#ifndef KEYWARDEN_WINDOW_H
#define KEYWARDEN_WINDOW_H

#define KEYWARDEN_WINDOW_CLASS "KEVAClientClass"
/* The registered message of the tray icon's callbacks: wParam the icon id, lParam the mouse
 * message (WM_RBUTTONUP opens the menu, WM_LBUTTONDBLCLK shows the window). */
#define KEYWARDEN_TRAY_MESSAGE "WM_TRAYICON"
#define KEYWARDEN_TRAY_ICON_ID 205

/* Private messages of the window. Accepted from any program: */
#define UM_OPENURL 0x0500 /* opens the maker's web address */
#define UM_QUIT 0x0501    /* releases every key and ends Keywarden with exit code 0 */
#define UM_BALLOON 0x0602 /* a tray balloon: wParam a string id, lParam its argument or 0 */
/* Sent by Keywarden's own threads only: */
#define UM_SHOWDEFPIN 0x0601  /* wParam a key object: its default-PIN prompt */
#define UM_TREECHANGED 0x0603 /* lParam a worker's tree change: the tree is rebuilt */
#define UM_KEYGONE 0x0604     /* keys have left the list: their dialogs close */

/* Commands (WM_COMMAND, wParam the id) accepted from any program besides the buttons 1002-1007: */
#define KEYWARDEN_CMD_OPEN 32782          /* shows the window */
#define KEYWARDEN_CMD_LANG_ZH_CN 32783    /* Simplified Chinese */
#define KEYWARDEN_CMD_LANG_ZH_TW 32784    /* Traditional Chinese */
#define KEYWARDEN_CMD_LANG_EN 32785       /* English */
#define KEYWARDEN_CMD_EXIT 32786          /* ends Keywarden (exit code the command id) */
#define KEYWARDEN_CMD_ABOUT 57664         /* the about dialog */
#define KEYWARDEN_CMD_SILENT_REFRESH 1539 /* a full refresh without default-PIN prompts */
#define KEYWARDEN_CMD_QUIT 2000           /* ends Keywarden (exit code 2000) */

#endif
