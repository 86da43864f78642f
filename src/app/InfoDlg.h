// The information dialog behind the Help button (template 134).
#pragma once
#include <windows.h>

// Runs CInfoDlg modally, owned by owner.
void RunInfoDialog(HWND owner);
