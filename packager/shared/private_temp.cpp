#include "private_temp.h"

#include <windows.h>
#include <sddl.h>
#include <wincrypt.h>

#include <cwchar>

#include "user_places.h"

namespace {

// Full control for SYSTEM, Administrators and LOCAL SERVICE, inherited by the
// files; protected, so nothing of the Temp folder's own entries comes in.
const wchar_t PRIVATE_FOLDER_DACL[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;LS)";
const int NAME_ATTEMPTS = 8;

struct PrivateFolder {
    bool tried = false;
    std::wstring path;
    VolumePlace place;
    unsigned filesNamed = 0;
};
PrivateFolder privateFolder;

// 32 hexadecimal digits from the system's random source.
bool RandomName(std::wstring& name) {
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
        return false;
    BYTE bytes[16] = {};
    bool made = CryptGenRandom(provider, sizeof(bytes), bytes) != FALSE;
    CryptReleaseContext(provider, 0);
    name.clear();
    for (BYTE b : bytes) {
        wchar_t digits[3] = {};
        swprintf(digits, 3, L"%02x", static_cast<unsigned>(b));
        name += digits;
    }
    return made;
}

// Fails when anything already stands at the name.
bool CreateFolderForAdministrators(const std::wstring& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(PRIVATE_FOLDER_DACL, SDDL_REVISION_1,
                                                              &descriptor, nullptr))
        return false;
    SECURITY_ATTRIBUTES security = {};
    security.nLength = sizeof(security);
    security.lpSecurityDescriptor = descriptor;
    security.bInheritHandle = FALSE;
    BOOL created = createPrivateFolderCall(path.c_str(), &security);
    DWORD error = GetLastError();
    LocalFree(descriptor);
    SetLastError(error);
    return created != FALSE;
}

void MakePrivateFolder() {
    privateFolder.tried = true;
    wchar_t windows[MAX_PATH] = {};
    // The system's own Windows directory: this program is not marked as aware
    // of terminal servers, so GetWindowsDirectoryW may give a per-user one there.
    UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return;
    std::wstring base = windows;
    if (base.back() == L'\\')
        base.pop_back();
    base += L"\\Temp\\zrpk-";
    for (int attempt = 0; attempt < NAME_ATTEMPTS; ++attempt) {
        std::wstring name;
        if (!RandomName(name))
            return;
        std::wstring path = base + name;
        if (!CreateFolderForAdministrators(path)) {
            if (GetLastError() == ERROR_ALREADY_EXISTS)
                continue;  // another name
            return;
        }
        VolumePlace place = PlaceOfFolder(path, true);
        if (place.path.empty()) {
            RemoveDirectoryW(path.c_str());
            return;
        }
        privateFolder.path = path;
        privateFolder.place = place;
        return;
    }
}

}  // namespace

CreateFolderCall createPrivateFolderCall = CreateDirectoryW;

std::wstring NewPrivateTemporaryFileName() {
    if (!privateFolder.tried)
        MakePrivateFolder();
    if (privateFolder.path.empty())
        return std::wstring();
    return privateFolder.path + L"\\zrpk_" + std::to_wstring(++privateFolder.filesNamed) + L".tmp";
}

std::wstring PrivateTemporaryFolderPath() {
    return privateFolder.path;
}

VolumePlace PrivateTemporaryFolderPlace() {
    return privateFolder.place;
}

void RemovePrivateTemporaryFolder() {
    const std::wstring folder = privateFolder.path;
    privateFolder = PrivateFolder();
    if (folder.empty())
        return;
    // Only this run's own files can be in it; it has no subfolders.
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
                continue;
            std::wstring file = folder + L"\\" + found.cFileName;
            SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(file.c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}
