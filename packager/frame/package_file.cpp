#include "package_file.h"

#include <string>

namespace {

// Written by the archive; its attributes read for the check; deleted by handle when refused.
const DWORD PACKAGE_FILE_ACCESS = GENERIC_WRITE | FILE_READ_ATTRIBUTES | DELETE;

std::wstring FileNameOf(const wchar_t* path) {
    std::wstring whole = path;
    size_t slash = whole.find_last_of(L'\\');
    return slash == std::wstring::npos ? whole : whole.substr(slash + 1);
}

bool IsTheDesktopsPackage(HANDLE file, const VolumePlace& desktop, const wchar_t* packagePath) {
    return IsPlainSingleLinkFile(file) && IsEntryOfFolder(PlaceOf(file), desktop, FileNameOf(packagePath));
}

bool Empty(HANDLE file) {
    LARGE_INTEGER start = {};
    return SetFilePointerEx(file, start, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

void DeleteByHandle(HANDLE file) {
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = TRUE;
    SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof(disposition));
}

}  // namespace

HANDLE OpenPackageFile(const UserRights& user, const wchar_t* desktop, const wchar_t* packagePath) {
    HANDLE file = INVALID_HANDLE_VALUE;
    bool createdByThisOpen = false;
    VolumePlace desktopPlace;
    user.Run([&] {
        desktopPlace = PlaceOfFolder(desktop, false);
        // Not truncated here, and a link at the name is opened, not followed.
        // An existing file first, else a new one: a name that fails both, such
        // as a link to a missing file (which Wine would follow and create), is
        // refused, and a file created here is known to be this open's own.
        file = CreateFileW(packagePath, PACKAGE_FILE_ACCESS, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) {
            file = CreateFileW(packagePath, PACKAGE_FILE_ACCESS, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
            createdByThisOpen = file != INVALID_HANDLE_VALUE;
        }
    });
    if (file == INVALID_HANDLE_VALUE)
        return file;
    if (IsTheDesktopsPackage(file, desktopPlace, packagePath) && Empty(file))
        return file;
    // Never by name: the name may lead elsewhere.
    if (createdByThisOpen)
        DeleteByHandle(file);
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
}
