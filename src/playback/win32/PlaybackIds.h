// Resource ids of the recorder (135) and file-choice (136) dialogs; shared by their .rc
// templates and the dialog procedures.
#pragma once

#define IDD_RECORD_BOX 135
#define IDC_RECORD_PLAY 5
#define IDC_RECORD_STOP 3
#define IDC_RECORD_RECORD 6
#define IDC_RECORD_SAVE 4
#define IDC_RECORD_NAME 1066
#define IDC_RECORD_SECONDS 1067
#define IDC_RECORD_SLIDER 1068

#define IDD_SELECT_FILE_BOX 136
#define IDC_SELECT_LIST 1002
#define IDC_SELECT_DELETE 1069
