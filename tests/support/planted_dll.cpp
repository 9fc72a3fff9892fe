// A DLL planted beside a program under a system DLL's name: when loaded it
// appends a line to the file named by PLANTED_DLL_RECORD, and then refuses to
// load, so the process goes on with the system's own DLL.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    wchar_t path[1024] = {};
    DWORD length = GetEnvironmentVariableW(L"PLANTED_DLL_RECORD", path, 1024);
    if (length > 0 && length < 1024) {
        HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(file, "loaded\n", 7, &written, nullptr);
            CloseHandle(file);
        }
    }
    return FALSE;
}
