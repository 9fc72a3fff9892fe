// Checks of the run's private temporary folder under the Windows directory's
// Temp, shared by the console and registry-export tests. Tests that use them
// hold the prefix's Windows-Temp lock (see CMakeLists.txt), since they compare
// that folder's entries and may move it aside.
#pragma once
#include <windows.h>

#include <cwchar>
#include <cwctype>
#include <map>
#include <string>

#include "private_temp.h"
#include "test_support.h"

namespace privatetemp {

inline bool SameText(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

inline bool StartsWithText(const std::wstring& text, const std::wstring& start) {
    return text.size() >= start.size() && SameText(text.substr(0, start.size()), start);
}

// The system's own Windows directory's Temp, without a trailing backslash.
inline std::wstring WindowsTemp() {
    wchar_t windows[MAX_PATH] = {};
    UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    std::wstring path(windows, length < MAX_PATH ? length : 0);
    if (!path.empty() && path.back() == L'\\')
        path.pop_back();
    return path + L"\\Temp";
}

// Each entry of a folder (not "." and "..") with what a rewrite would change.
struct EntryState {
    DWORD attributes = 0;
    ULONGLONG size = 0;
    ULONGLONG written = 0;
    bool operator==(const EntryState& other) const {
        return attributes == other.attributes && size == other.size && written == other.written;
    }
};
typedef std::map<std::wstring, EntryState> Entries;

inline Entries EntriesOf(const std::wstring& folder) {
    Entries entries;
    for (const WIN32_FIND_DATAW& found : testsupport::FolderEntries(folder)) {
        EntryState& state = entries[found.cFileName];
        state.attributes = found.dwFileAttributes;
        state.size = (static_cast<ULONGLONG>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        state.written = (static_cast<ULONGLONG>(found.ftLastWriteTime.dwHighDateTime) << 32) |
                        found.ftLastWriteTime.dwLowDateTime;
    }
    return entries;
}

inline bool IsFolder(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

inline bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A private folder's path: the Windows Temp's "zrpk-" and 32 hexadecimal digits.
inline bool IsPrivateFolderPath(const std::wstring& path) {
    const std::wstring start = WindowsTemp() + L"\\zrpk-";
    if (!StartsWithText(path, start) || path.size() != start.size() + 32)
        return false;
    for (size_t i = start.size(); i < path.size(); ++i)
        if (!std::iswxdigit(path[i]))
            return false;
    return true;
}

// The folder part of a file name ("" when there is none).
inline std::wstring FolderOf(const std::wstring& file) {
    size_t cut = file.find_last_of(L'\\');
    return cut == std::wstring::npos ? std::wstring() : file.substr(0, cut);
}

// Remembers the Windows Temp's entries from before a test's first private
// folder, and checks after RemovePrivateTemporaryFolder() that the folder is
// gone and that nothing else is new or missing there.
class WindowsTempWatch {
public:
    WindowsTempWatch() : before_(EntriesOf(WindowsTemp())) {}

    // Removes this run's folder and tells what, if anything, is wrong afterwards.
    std::string RemoveAndCompare() const {
        const std::wstring folder = PrivateTemporaryFolderPath();
        RemovePrivateTemporaryFolder();
        std::string problems;
        if (!folder.empty() && Exists(folder))
            problems += "the private folder is still there; ";
        if (!PrivateTemporaryFolderPath().empty())
            problems += "a private folder is still named; ";
        Entries after = EntriesOf(WindowsTemp());
        for (const auto& entry : after)
            if (before_.count(entry.first) == 0)
                problems += "new in the Windows Temp: " + testsupport::Narrow(entry.first) + "; ";
        for (const auto& entry : before_)
            if (after.count(entry.first) == 0)
                problems += "gone from the Windows Temp: " + testsupport::Narrow(entry.first) + "; ";
        return problems;
    }

private:
    Entries before_;
};

// While it lives, a file stands where the Windows Temp folder was, so that no
// private folder can be made; the real folder is moved aside and put back.
class WindowsTempReplacedByFile {
public:
    WindowsTempReplacedByFile() : temp_(WindowsTemp()) {
        // Put back under the name as it is written on disk, letter case included.
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW(temp_.c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            temp_ = FolderOf(temp_) + L"\\" + found.cFileName;
            FindClose(search);
        }
        wchar_t suffix[32];
        swprintf(suffix, 32, L".aside-%lu", GetCurrentProcessId());
        aside_ = temp_ + suffix;
        moved_ = MoveFileW(temp_.c_str(), aside_.c_str()) != FALSE;
        if (!moved_)
            return;
        HANDLE file = CreateFileW(temp_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                  nullptr);
        replaced_ = file != INVALID_HANDLE_VALUE;
        if (replaced_)
            CloseHandle(file);
    }
    ~WindowsTempReplacedByFile() {
        if (!moved_)
            return;
        if (replaced_)
            DeleteFileW(temp_.c_str());
        MoveFileW(aside_.c_str(), temp_.c_str());
    }
    WindowsTempReplacedByFile(const WindowsTempReplacedByFile&) = delete;
    WindowsTempReplacedByFile& operator=(const WindowsTempReplacedByFile&) = delete;

    bool Replaced() const { return moved_ && replaced_; }

private:
    std::wstring temp_;
    std::wstring aside_;
    bool moved_ = false;
    bool replaced_ = false;
};

}  // namespace privatetemp
