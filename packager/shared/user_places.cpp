#include "user_places.h"

#include <cstddef>
#include <vector>

namespace {

// The user SID of a token, as bytes; empty when it cannot be read.
std::vector<BYTE> TokenUserSid(HANDLE token) {
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    if (size == 0)
        return std::vector<BYTE>();
    std::vector<BYTE> buffer(size);
    if (!GetTokenInformation(token, TokenUser, buffer.data(), size, &size))
        return std::vector<BYTE>();
    PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
    if (!IsValidSid(sid))
        return std::vector<BYTE>();
    const BYTE* start = static_cast<const BYTE*>(sid);
    return std::vector<BYTE>(start, start + GetLengthSid(sid));
}

bool IsOwnAccount(HANDLE token) {
    HANDLE own = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &own))
        return false;
    std::vector<BYTE> ownSid = TokenUserSid(own);
    CloseHandle(own);
    return !ownSid.empty() && TokenUserSid(token) == ownSid;
}

// "\\?\C:\x" becomes "C:\x", "\\?\UNC\server\x" becomes "\\server\x".
std::wstring WithoutLongPathPrefix(const std::wstring& path) {
    if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0)
        return L"\\" + path.substr(7);
    if (path.compare(0, 4, L"\\\\?\\") == 0)
        return path.substr(4);
    return path;
}

bool EqualIgnoringCase(const wchar_t* a, int aLength, const wchar_t* b, int bLength) {
    return CompareStringOrdinal(a, aLength, b, bLength, TRUE) == CSTR_EQUAL;
}

// path lies below folder (folder itself excluded); without regard to case.
bool IsBelowFolder(const std::wstring& path, const std::wstring& folder) {
    if (folder.empty())
        return false;
    // A drive's root ends in its own backslash.
    size_t length = folder.size();
    if (folder[length - 1] == L'\\')
        --length;
    return path.size() > length + 1 && path[length] == L'\\' &&
           EqualIgnoringCase(path.c_str(), static_cast<int>(length), folder.c_str(), static_cast<int>(length));
}

}  // namespace

HANDLE ShellUserToken() {
    HWND shell = GetShellWindow();
    DWORD processId = 0;
    if (shell == nullptr || GetWindowThreadProcessId(shell, &processId) == 0 || processId == 0)
        return nullptr;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (process == nullptr)
        return nullptr;
    HANDLE token = nullptr;
    HANDLE primary = nullptr;
    if (OpenProcessToken(process, TOKEN_DUPLICATE, &token)) {
        const DWORD access = TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY | TOKEN_ADJUST_DEFAULT |
                             TOKEN_ADJUST_SESSIONID;
        if (!DuplicateTokenEx(token, access, nullptr, SecurityImpersonation, TokenPrimary, &primary))
            primary = nullptr;
        CloseHandle(token);
    }
    CloseHandle(process);
    return primary;
}

const UserRightsCalls SYSTEM_USER_RIGHTS_CALLS = {ShellUserToken, ImpersonateLoggedOnUser, RevertToSelf};
UserRightsCalls userRightsCalls = SYSTEM_USER_RIGHTS_CALLS;

UserRights::UserRights() : token_(userRightsCalls.shellUserToken()) {
    if (token_ != nullptr && !IsOwnAccount(token_)) {
        CloseHandle(token_);
        token_ = nullptr;
    }
}

UserRights::~UserRights() {
    if (token_ != nullptr)
        CloseHandle(token_);
}

bool UserRights::Run(const std::function<void()>& action) const {
    if (token_ == nullptr) {
        action();
        return true;
    }
    if (!userRightsCalls.impersonate(token_))
        return false;
    struct RevertAtEnd {
        ~RevertAtEnd() { userRightsCalls.revert(); }
    } revertAtEnd;
    action();
    return true;
}

std::wstring FinalPathOf(HANDLE handle) {
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    DWORD length = GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()), 0);
    if (length >= buffer.size()) {
        buffer.resize(length + 1);
        length = GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()), 0);
    }
    if (length == 0 || length >= buffer.size())
        return std::wstring();
    return WithoutLongPathPrefix(std::wstring(buffer.data(), length));
}

bool IsPlainSingleLinkFile(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(file, &information))
        return false;
    const DWORD notPlain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
    return (information.dwFileAttributes & notPlain) == 0 && information.nNumberOfLinks == 1;
}

HANDLE OpenFolderForCheck(const std::wstring& folder, bool reparsePointItself) {
    DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (reparsePointItself ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    return CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, flags, nullptr);
}

VolumePlace PlaceOf(HANDLE handle) {
    VolumePlace place;
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(handle, &information))
        return place;
    // FILE_NAME_INFO and a name of up to 32767 units.
    std::vector<DWORD> buffer((sizeof(FILE_NAME_INFO) + 32768 * sizeof(wchar_t)) / sizeof(DWORD));
    FILE_NAME_INFO* name = reinterpret_cast<FILE_NAME_INFO*>(buffer.data());
    DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(DWORD));
    if (!GetFileInformationByHandleEx(handle, FileNameInfo, name, bytes) ||
        name->FileNameLength > bytes - offsetof(FILE_NAME_INFO, FileName))
        return place;
    place.volumeSerial = information.dwVolumeSerialNumber;
    place.path.assign(name->FileName, name->FileNameLength / sizeof(wchar_t));
    return place;
}

VolumePlace PlaceOfFolder(const std::wstring& folder, bool reparsePointItself) {
    HANDLE handle = OpenFolderForCheck(folder, reparsePointItself);
    if (handle == INVALID_HANDLE_VALUE)
        return VolumePlace();
    VolumePlace place = PlaceOf(handle);
    CloseHandle(handle);
    return place;
}

bool IsEntryOfFolder(const VolumePlace& place, const VolumePlace& folder, const std::wstring& name) {
    if (folder.path.empty() || place.volumeSerial != folder.volumeSerial)
        return false;
    std::wstring expected = folder.path;
    if (expected.back() != L'\\')
        expected += L'\\';
    return IsSamePath(place.path, expected + name);
}

bool IsInsideFolder(const VolumePlace& place, const VolumePlace& folder) {
    return place.volumeSerial == folder.volumeSerial && IsBelowFolder(place.path, folder.path);
}

HANDLE OpenFileInsideFolder(const std::wstring& path, const VolumePlace& folder) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return file;
    if (!IsPlainSingleLinkFile(file) || !IsInsideFolder(PlaceOf(file), folder)) {
        CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

bool IsSamePath(const std::wstring& path, const std::wstring& other) {
    return !path.empty() && EqualIgnoringCase(path.c_str(), static_cast<int>(path.size()), other.c_str(),
                                              static_cast<int>(other.size()));
}
