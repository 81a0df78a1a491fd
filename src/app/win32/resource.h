// The ids of the client's resources, shared by the .rc file and the window
// code. Plain #defines, so that the resource compiler reads them too.
#pragma once

// Icons.
#define IDI_PROGRAM 105
#define IDI_CONNECTED 110
#define IDI_DISCONNECTED 129
#define IDI_NEW_NOTES 209
#define IDI_AWAY_CONNECTED 215

// The note window's icons: the header toggle (shown / hidden, pressed and
// not), the close box (many colours: 160, pressed 108; 8 bits: 109, pressed
// 159), the class icon, and the attachment that cannot be had.
#define IDI_HEADER_HIDDEN_PRESSED 106
#define IDI_HEADER_HIDDEN 107
#define IDI_CLOSE_PRESSED 108
#define IDI_CLOSE_8 109
#define IDI_HEADER_SHOWN_PRESSED 116
#define IDI_HEADER_SHOWN 117
#define IDI_MISSING_FILE 155
#define IDI_NOTE 158
#define IDI_CLOSE_8_PRESSED 159
#define IDI_CLOSE 160

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

// The note window: its accelerators, its menus ("Paper" on the paper,
// "RichEdit" on the body) and their commands.
#define IDR_NOTE_ACCELERATORS 193
#define IDR_PAPER_MENU 194
#define IDR_RICHEDIT_MENU 195
#define IDM_NOTE_DELETE 2
#define IDM_NOTE_UNDO 40007
#define IDM_NOTE_COPY 40008
#define IDM_NOTE_PASTE 40009
#define IDM_NOTE_SELECT_ALL 40011
#define IDM_NOTE_CUT 40016
#define IDM_NOTE_SAVE_AS 40028
#define IDM_NOTE_OPEN 40029
#define IDM_NOTE_HIDE 40083
#define IDM_NOTE_ALWAYS_ON_TOP 40084
#define IDM_NOTE_OPTIONS 40094
#define IDM_NOTE_REPLY_WITH_INCLUDE 40111
#define IDM_NOTE_ESCAPE 40166
#define IDM_NOTE_SEND 40168
#define IDM_NOTE_REPLY 40169

// The attachment strip's menu: the second popup of the tray menu's resource.
#define IDM_ATTACHMENT_REMOVE 40019
#define IDM_ATTACHMENT_LOCATE 40027
#define IDM_ATTACHMENT_RECEIVED_FOLDER 40030
#define IDM_ATTACHMENT_OPEN 40103
