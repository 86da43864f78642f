// The application object of Kestrel.exe.
#pragma once
#include <windows.h>

constexpr const char kMainWindowTitle[] = "DeRU Zarar Urorezu Vuzudu";

class CKestrelApp {
  public:
    // Refuses a second copy; otherwise runs the main window. Always FALSE: the program ends.
    BOOL InitInstance();
};
