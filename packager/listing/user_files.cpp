#include "user_files.h"

#include <list>

#include "listing.h"
#include "user_places.h"
#include "ziparchive.h"

namespace {

// Entry names live in a buffer of 260 UTF-16 units, terminator included.
const size_t kMaxEntryNameUnits = 259;

}  // namespace

bool MakeFilesEntryName(const std::wstring& fullPath, size_t rootLength, std::wstring* name) {
    if (rootLength > fullPath.size())
        return false;
    std::wstring candidate = L"files" + fullPath.substr(rootLength);
    if (candidate.size() > kMaxEntryNameUnits)
        return false;
    *name = candidate;
    return true;
}

namespace {

// Where the root lies, when it is a real folder (no link or junction) whose
// final path is the one asked for; an empty place otherwise.
VolumePlace CheckedRootPlace(const std::wstring& root) {
    HANDLE folder = OpenFolderForCheck(root, true);
    if (folder == INVALID_HANDLE_VALUE)
        return VolumePlace();
    BY_HANDLE_FILE_INFORMATION information;
    VolumePlace place;
    if (GetFileInformationByHandle(folder, &information) &&
        (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
        IsSamePath(FinalPathOf(folder), root))
        place = PlaceOf(folder);
    CloseHandle(folder);
    return place;
}

}  // namespace

bool AddDirectoryFiles(const wchar_t* root) {
    if (root == nullptr)
        return true;
    // The folder and its files are the user's: looked at and opened with the
    // user's rights, and each file checked by the handle that is then read.
    UserRights user;
    std::list<DirEntryRecord> records;
    VolumePlace rootPlace;
    user.Run([&] {
        rootPlace = CheckedRootPlace(WithoutTrailingBackslash(root));
        if (!rootPlace.path.empty())
            WalkDirectory(root, records, L"*.*");
    });
    // Paths of the walk start with the root as its records hold it, so a root given
    // with a trailing backslash still yields names that begin "files\".
    size_t rootLength = WithoutTrailingBackslash(root).size();
    for (const DirEntryRecord& record : records) {
        if (record.findData.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        std::wstring path = FullPath(record);
        std::wstring name;
        // A name too long for the entry-name buffer is left out rather than cut short.
        if (!MakeFilesEntryName(path, rootLength, &name))
            continue;
        // Only a plain file with one link inside the folder: a link, or a hard
        // link, could name a file that only this elevated process may read.
        // A refused file is left out like a name that is too long.
        HANDLE file = INVALID_HANDLE_VALUE;
        user.Run([&] { file = OpenFileInsideFolder(path, rootPlace); });
        if (file == INVALID_HANDLE_VALUE)
            continue;
        AddArchiveEntry(packageArchive, name.c_str(), file, 0, SOURCE_OPEN_FILE);
        CloseHandle(file);
    }
    return true;
}
