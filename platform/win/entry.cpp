#include <windows.h>

#include "platform/entry.h"

// The wide GUI entry: no console window; arguments are read back through
// GetCommandLineW by the program itself.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) { return programMain(); }
