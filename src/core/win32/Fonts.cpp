#include "core/win32/Fonts.h"

#include <cstring>

HFONT CreatePointFont(int pointTenths, const char* face) {
    HDC screen = GetDC(nullptr);
    LOGFONTA lf = {};
    lf.lfHeight = -MulDiv(pointTenths, GetDeviceCaps(screen, LOGPIXELSY), 720);
    ReleaseDC(nullptr, screen);
    // Arial Black is a black-weight face: asking for that weight keeps the look where the
    // mapper has to substitute another family.
    lf.lfWeight = std::strstr(face, "Black") ? FW_BLACK : FW_NORMAL;
    lf.lfCharSet = DEFAULT_CHARSET;
    lstrcpynA(lf.lfFaceName, face, LF_FACESIZE);
    return CreateFontIndirectA(&lf);
}

void SetControlFont(HWND dialog, const int* ids, int count, HFONT font) {
    for (int i = 0; i < count; ++i) {
        SendDlgItemMessageA(dialog, ids[i], WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    }
}
