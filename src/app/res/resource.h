// Resource ids of Kestrel.exe.
#pragma once

#define IDD_KESTREL_DIALOG 102
#define IDR_TRAY_MENU 127
#define IDI_READY 128
#define IDI_NOT_READY 129
#define IDI_CALL_1 130
#define IDI_CALL_2 131
#define IDI_CALL_3 132
#define IDI_CALL_4 133
#define IDD_INFO_DIALOG 134

#define IDC_VOIP_ONLY 1000
#define IDC_AUTO 1001
#define IDC_HELP_BUTTON 1004
#define IDC_RECORD_BUTTON 1005
#define IDC_SLOT_NAME_BASE 1005   /* slot n: 1005 + n */
#define IDC_SLOT_PLAY_BASE 1025   /* slot n: 1025 + n */
#define IDC_SLOT_SELECT_BASE 1045 /* slot n: 1045 + n */
#define IDC_FONT_FIRST 1004
#define IDC_FONT_LAST 1065

#define IDC_INFO_MODE 1071
#define IDC_INFO_VOIP 1072
#define IDC_INFO_EDIT 1073
#define IDC_INFO_RECORD 1074
#define IDC_INFO_SELECT 1075

#define ID_TRAY_EXIT 32773
/* The tray menu's "Caller ID" choices, in the order of CallerIdStandard. */
#define ID_CALLERID_OFF 32780
#define ID_CALLERID_BELL202 32781
#define ID_CALLERID_ETSI 32782
#define ID_CALLERID_DTMF 32783
