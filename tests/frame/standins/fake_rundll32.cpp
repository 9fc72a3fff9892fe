// Stand-in for rundll32.exe: appends its command line (UTF-8, one per line)
// to the file named by DK_RECORD_FILE and opens nothing.
#include <windows.h>

int wmain() {
    wchar_t path[1024] = {};
    DWORD length = GetEnvironmentVariableW(L"DK_RECORD_FILE", path, 1024);
    if (length == 0 || length >= 1024)
        return 3;
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 4;
    char line[4096] = {};
    int bytes = WideCharToMultiByte(CP_UTF8, 0, GetCommandLineW(), -1, line, sizeof(line) - 2,
                                    nullptr, nullptr);
    if (bytes > 0) {
        line[bytes - 1] = '\n';
        DWORD written = 0;
        WriteFile(file, line, static_cast<DWORD>(bytes), &written, nullptr);
    }
    CloseHandle(file);
    return 0;
}
