#include "shared_helpers.h"

#include <cwchar>

#include "private_temp.h"
#include "user_places.h"
#include "ziparchive.h"

namespace {
typedef BOOL(WINAPI* IsWow64ProcessFn)(HANDLE, PBOOL);
IsWow64ProcessFn isWow64ProcessAddress = nullptr;
}

BOOL QueryWow64Process() {
    BOOL wow64 = FALSE;
    if (isWow64ProcessAddress == nullptr) {
        isWow64ProcessAddress = reinterpret_cast<IsWow64ProcessFn>(
            reinterpret_cast<void*>(Kernel32Function("IsWow64Process")));
    }
    if (isWow64ProcessAddress != nullptr)
        isWow64ProcessAddress(GetCurrentProcess(), &wow64);
    return wow64;
}

FARPROC SystemLibraryFunction(const wchar_t* dllName, const char* functionName) {
    wchar_t path[MAX_PATH] = {};
    UINT length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length + 1 + wcslen(dllName) >= MAX_PATH)
        return nullptr;
    path[length] = L'\\';
    wcscpy(path + length + 1, dllName);
    // The DLL's own dependencies are looked for beside it, not beside us.
    HMODULE module = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    return module != nullptr ? GetProcAddress(module, functionName) : nullptr;
}

int AddTemporaryEntryFile(const wchar_t* entryName,
                          const std::function<void(const wchar_t* path)>& writeFile) {
    return AddTemporaryEntryFileIfWritten(entryName, [&writeFile](const wchar_t* path) {
        writeFile(path);
        return true;
    });
}

int AddTemporaryEntryFileIfWritten(const wchar_t* entryName,
                                   const std::function<bool(const wchar_t* path)>& writeFile) {
    std::wstring file = NewPrivateTemporaryFileName();
    if (file.empty())
        return 0;
    bool written = writeFile(file.c_str());
    ArchiveResult result = ARC_OPEN_FAILED;
    if (written) {
        // Read through the handle that was checked: the file this run wrote there.
        HANDLE input = OpenFileInsideFolder(file, PrivateTemporaryFolderPlace());
        if (input != INVALID_HANDLE_VALUE) {
            result = AddArchiveEntry(packageArchive, entryName, input, 0, SOURCE_OPEN_FILE);
            CloseHandle(input);
        }
    }
    // Whatever happened, nothing of ours is left behind.
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(file.c_str());
    return written && result == ARC_OK ? 1 : 0;
}

std::string NarrowByTruncation(const std::wstring& text) {
    std::string narrow;
    narrow.reserve(text.size());
    for (wchar_t unit : text)
        narrow.push_back(static_cast<char>(unit & 0xFF));
    return narrow;
}

int AddMemoryEntry(const wchar_t* entryName, const std::string& bytes) {
    ArchiveResult result = AddArchiveEntry(packageArchive, entryName, bytes.data(),
                                           static_cast<uint32_t>(bytes.size()), SOURCE_MEMORY);
    return result == ARC_OK ? 1 : 0;
}
