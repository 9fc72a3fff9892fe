// Stand-in for the product's data-source lister. What it does comes from
// DK_LISTER_MODE, since its command line is fixed:
//   chatty  more than one read chunk on stdout and on stderr, interleaved
//   silent  nothing
//   linger  one line, then closes both outputs and stays alive for a minute
//   where   its current directory, in UTF-8, on stdout
// DK_LISTER_PID_FILE, when set, receives its process id (decimal).
#include <windows.h>

#include <string>

#include "lister_output.h"

namespace {

std::wstring Environment(const wchar_t* name) {
    wchar_t value[1024] = {};
    DWORD length = GetEnvironmentVariableW(name, value, 1024);
    return length > 0 && length < 1024 ? value : L"";
}

void Write(HANDLE handle, const std::string& bytes) {
    DWORD written = 0;
    WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void RecordProcessId() {
    std::wstring path = Environment(L"DK_LISTER_PID_FILE");
    if (path.empty())
        return;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    Write(file, std::to_string(GetCurrentProcessId()));
    CloseHandle(file);
}

}  // namespace

int wmain() {
    RecordProcessId();
    std::wstring mode = Environment(L"DK_LISTER_MODE");
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    if (mode == L"silent")
        return 0;
    if (mode == L"where") {
        wchar_t directory[MAX_PATH] = {};
        DWORD length = GetCurrentDirectoryW(MAX_PATH, directory);
        if (length == 0 || length >= MAX_PATH)
            return 1;
        char bytes[4 * MAX_PATH] = {};
        int size = WideCharToMultiByte(CP_UTF8, 0, directory, static_cast<int>(length), bytes, sizeof(bytes),
                                       nullptr, nullptr);
        Write(out, std::string(bytes, size > 0 ? size : 0));
        return 0;
    }
    if (mode == L"linger") {
        Write(out, LINGER_LISTER_TEXT);
        CloseHandle(out);
        if (err != out)
            CloseHandle(err);
        Sleep(60000);
        return 0;
    }
    for (const ListerWrite& piece : ChattyListerWrites())
        Write(piece.toStandardError ? err : out, piece.bytes);
    return 0;
}
