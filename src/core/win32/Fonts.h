// The dialogs' "Arial Black" 10-point font for chosen controls.
#pragma once
#include <windows.h>

// Creates "Arial Black" at pointTenths / 10 points for the default device context, as a
// point-size font request would. The caller deletes it.
HFONT CreatePointFont(int pointTenths, const char* face);

// Sets font on each listed control of dialog, with redraw.
void SetControlFont(HWND dialog, const int* ids, int count, HFONT font);
