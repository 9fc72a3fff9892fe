// Small helpers shared by the dossierkit tests.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "test_support.h"

// Name of the Wine prefix the test runs in, so parallel runs in other
// prefixes keep their artifacts apart.
inline std::wstring PrefixTag() {
    const char* prefix = std::getenv("WINE_TEST_PREFIX");
    std::string path = prefix ? prefix : "unknown";
    return testsupport::Widen(path.substr(path.find_last_of('/') + 1));
}

inline std::wstring ArtifactFolder(const std::wstring& group) {
    return testsupport::ArtifactsDir(L"dossierkit\\" + group + L"-" + PrefixTag());
}

inline std::wstring SystemDirectory() {
    wchar_t path[MAX_PATH] = {};
    GetSystemDirectoryW(path, MAX_PATH);
    return path;
}

// The line the stand-in rundll32 records for the upload start.
inline std::string ExpectedUploadLine() {
    return "\"" + testsupport::Narrow(SystemDirectory()) +
           "\\rundll32.exe\" url.dll,FileProtocolHandler https://support.morquaine.com/zrpk/qevscan/\n";
}

// What the stand-in rundll32 recorded; it may still be starting or writing
// when the program that started it is done, so wait up to five seconds.
inline std::string RecordedStart(const std::wstring& recordFile) {
    std::string recorded;
    for (int i = 0; i < 100 && recorded.empty(); ++i, Sleep(50))
        recorded = testsupport::ReadFileBytes(recordFile);
    return recorded;
}

// Wine's desktop has no shell window of its own; a window of this process can
// be made one, so that this process is the shell. nullptr when refused (a
// desktop has one shell window at a time).
inline HWND BecomeTheShell() {
    typedef BOOL(WINAPI * SetShellWindowFn)(HWND);
    SetShellWindowFn setShellWindow = reinterpret_cast<SetShellWindowFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32"), "SetShellWindow")));
    HWND window = CreateWindowExW(0, L"STATIC", L"shell", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                  nullptr, nullptr);
    if (window != nullptr && (setShellWindow == nullptr || !setShellWindow(window))) {
        DestroyWindow(window);
        window = nullptr;
    }
    return window;
}

// The shell window on a thread of its own that answers its messages, so that
// a program that sends to it while the test waits without pumping is not held.
// Gone again, and the desktop without a shell, when this ends.
class ShellWindowThread {
public:
    ShellWindowThread() {
        ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        thread_ = CreateThread(nullptr, 0, Main, this, 0, &threadId_);
        if (thread_ != nullptr)
            WaitForSingleObject(ready_, 10000);
    }
    ~ShellWindowThread() {
        if (thread_ != nullptr) {
            PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
            WaitForSingleObject(thread_, 10000);
            CloseHandle(thread_);
        }
        CloseHandle(ready_);
    }
    ShellWindowThread(const ShellWindowThread&) = delete;
    ShellWindowThread& operator=(const ShellWindowThread&) = delete;
    HWND window() const { return window_; }

private:
    static DWORD WINAPI Main(void* parameter) {
        ShellWindowThread* self = static_cast<ShellWindowThread*>(parameter);
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);  // the queue, before anyone posts
        self->window_ = BecomeTheShell();
        SetEvent(self->ready_);
        if (self->window_ == nullptr)
            return 1;
        while (GetMessageW(&message, nullptr, 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        DestroyWindow(self->window_);
        return 0;
    }
    HANDLE ready_ = nullptr;
    HANDLE thread_ = nullptr;
    DWORD threadId_ = 0;
    HWND window_ = nullptr;
};

// The names in a folder, sorted; for telling what a run left there.
inline std::vector<std::wstring> FolderNames(const std::wstring& folder) {
    std::vector<std::wstring> names;
    for (const WIN32_FIND_DATAW& entry : testsupport::FolderEntries(folder))
        names.push_back(entry.cFileName);
    std::sort(names.begin(), names.end());
    return names;
}

inline FILETIME LastWriteTime(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

// Writes the file and dates it back to 2020-01-01, so that any later write or
// truncation shows in its time as well as in its bytes.
inline bool WriteBackdatedFile(const std::wstring& path, const std::string& bytes) {
    if (!testsupport::WriteFileBytes(path, bytes))
        return false;
    HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const FILETIME old = {0x69050000, 0x01d5c036};
    bool dated = SetFileTime(file, nullptr, nullptr, &old) != FALSE;
    CloseHandle(file);
    return dated;
}
