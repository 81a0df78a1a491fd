// The ids of the client's resources, shared by the .rc file and the window
// code. Plain #defines, so that the resource compiler reads them too.
#pragma once

// Icons.
#define IDI_PROGRAM 105
#define IDI_CONNECTED 110
#define IDI_DISCONNECTED 129
#define IDI_NEW_NOTES 209
#define IDI_AWAY_CONNECTED 215

// Bitmaps: the tray menu's, and the logo box's picture in many colours and
// in 16.
#define IDB_EXIT 178
#define IDB_CONNECT 179
#define IDB_DISCONNECT 180
#define IDB_LOGO 3001
#define IDB_LOGO_16 3002

// Dialogs.
#define IDD_LOGO_BOX 120
#define IDD_CONFIRM_SHUTDOWN 122
#define IDD_LOGO_BOX_16 169
#define IDC_LOGO_PICTURE 3010
#define IDC_PROMPT_IN_FUTURE 1094

// The tray menu (one popup, "Notify") and its commands.
#define IDR_TRAY_MENU 118
#define IDM_HELP 65535
#define IDM_NEW_NOTE 40104
#define IDM_RESET_PLACEMENT 40072
#define IDM_SHOW 40074
#define IDM_HIDE 40073
#define IDM_ENABLE_AWAY 40170
#define IDM_CHANGE_PASSWORD 40100
#define IDM_OPTIONS 40108
#define IDM_CONNECT 40081
#define IDM_DISCONNECT 40082
#define IDM_EXIT 40015
