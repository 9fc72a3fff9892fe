// Shows one box without restricting its DLL search: the planted DLL beside it
// must be loaded, which shows that the planting itself works.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    MessageBoxW(nullptr, L"control", L"Planted DLL control", MB_OK);
    return 0;
}
